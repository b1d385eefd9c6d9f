// The update run: the database steps and what follows them.
#include "app/principal.h"
#include "dbupdate/script_engine.h"

namespace korva {

bool Principal::AtualizaBanco(dbupdate::Step step) {
  using dbupdate::Step;
  const bool users =
      step == Step::AtualizaBancoUsuarioEmpresa || step == Step::AtualizaBancoUsuarioCartorio;
  dbupdate::VersionRow& row = users                                ? usersRow_
                              : step == Step::AtualizaBancoEmpresa ? mainRowEmpresa_
                                                                   : mainRowCartorio_;
  const std::string& target =
      users ? session_.run.latestUsersVersion : session_.run.latestMainVersion;
  form_.ShowPage(form_.TbShtLog);
  shell_.Repaint();
  return dbupdate::AplicaPacotesScript(
      step, dbupdate::ScriptContext{row, target, session_.database, session_.transactions, ftp_,
                                    session_.transfer, log_, report_, shell_, form_.BtBtnAbortar,
                                    session_.runSucceeded, session_.currentProfileFile,
                                    executableFolder_, form_.InternetMode()});
}

}  // namespace korva
