// The update run, from "Iniciar &Atualizações" to the end: the backup page,
// the warnings, the database steps in order and the module installation.
#include "app/principal.h"
#include "app/site_lock.h"
#include "dbupdate/script_engine.h"
#include "installer/module_installation.h"
#include "text/strings.h"

namespace korva {
namespace {

using dbupdate::Step;

constexpr int kBackupDone = 0;  // "Sim"
constexpr int kBackupNotDone = 1;
// Database updates should run after the working day: before this time of
// day, as the locale writes it, the operator is warned.
constexpr const char* kEndOfWorkingDay = "17:00:00";

Message ActiveConnections(const std::string& figure, MsgButton preselected) {
  return Message{"KORVA",
                 "ATENÇÃO!\rExistem " + figure + " conexões ativas." + "\r" +
                     "As atualizações de banco de dados talvez não possam ser realizadas." + "\r" +
                     "Tem certeza que deseja continuar assim mesmo?",
                 MsgIcon::Question, kYes | kNo, preselected};
}

const Message kWorkingHours{
    "KORVA",
    "ATENÇÃO!\r\rÉ ALTAMENTE RECOMENDADO que atualizãções de banco de dados\r"
    "sejam efetuadas após o encerramento do expediente da empresa.\r\r"
    "As atualizações de banco de dados quando iniciadas devem ser concluídas sem erros.\r"
    "Caso contrário o funcionamento do sistema KORVA poderá ser comprometido.\r\r"
    "Tem certeza que deseja continuar assim mesmo?",
    MsgIcon::Question, kYes | kNo, kNo};

// The connections figure as the backup page shows it. A count that failed
// ("?") is not "nobody": anything but a whole number counts as connections.
bool SomeoneConnected(const std::string& figure) {
  const auto n = text::TryStrToInt(figure);
  return !n || *n > 0;
}

}  // namespace

void Principal::BtbtnIniciarAtualizacaoClick() {
  const catalogue::RunData& run = session_.run;
  if (run.mainUpdatePending || run.usersUpdatePending) {
    form_.RGBackup.SetItemIndex(kBackupNotDone);
    form_.BtBtnContinuar.SetEnabled(false);
    form_.ShowPage(form_.TbShtBackup);
    shell_.Repaint();
    AtualizaConsultaConexoes();
    return;
  }
  SiteLock lock;
  if (!lock.Take(session_.site.applicationFolder, clock_.Now(), shell_, log_)) return;
  form_.ShowPage(form_.TbShtLog);
  shell_.Repaint();
  AtualizaModulos();
  EndOfRun();
}

void Principal::RGBackupClick() {
  form_.BtBtnContinuar.SetEnabled(form_.RGBackup.ItemIndex() == kBackupDone);
}

void Principal::BtBtnContinuarClick() {
  const catalogue::RunData& run = session_.run;
  const versions::Edition edition = session_.site.edition;
  const std::string figure = form_.StTxtNumUsers.Text();
  if (run.usersUpdatePending || run.mainUpdatePending) {
    // A users database that stops the working day (EMPRESA's): both
    // questions then propose No.
    const bool strict = versions::TableOf(edition).usersUpdateStopsWork && run.usersUpdatePending;
    if (SomeoneConnected(figure)) {
      if (shell_.ShowMessage(ActiveConnections(figure, strict ? kNo : kYes)) != kYes) return;
      if (strict && platform::FormatLongTime(clock_.Now(), locale_) < kEndOfWorkingDay &&
          shell_.ShowMessage(kWorkingHours) != kYes) {
        return;
      }
    }
  }

  SiteLock lock;
  if (!lock.Take(session_.site.applicationFolder, clock_.Now(), shell_, log_)) return;
  const auto step = [&](Step which) { return AtualizaBanco(which); };
  bool goOn = true;
  if (run.usersUpdatePending) {
    goOn = step(dbupdate::UsersStep(edition));
  }
  if (goOn && run.mainUpdatePending) {
    goOn = step(dbupdate::MainStep(edition));
  }
  if (goOn) AtualizaModulos();
  EndOfRun();
}

void Principal::EndOfRun() {
  if (!session_.runSucceeded) return;
  form_.BtBtnAbortar.SetEnabled(false);
  shell_.Repaint();
  shell_.ShowMessage(
      Message{"KORVA", "Atualizações efetuadas com sucesso", MsgIcon::Information, kOk, kOk});
  shell_.CloseMainWindow();
}

bool Principal::AtualizaBanco(dbupdate::Step step) {
  const bool users =
      step == Step::AtualizaBancoUsuarioEmpresa || step == Step::AtualizaBancoUsuarioCartorio;
  dbupdate::VersionRow& row = users                                ? usersRow_
                              : step == Step::AtualizaBancoEmpresa ? mainRowEmpresa_
                                                                   : mainRowCartorio_;
  const std::string& target =
      users ? session_.run.latestUsersVersion : session_.run.latestMainVersion;
  form_.ShowPage(form_.TbShtLog);
  shell_.Repaint();
  delivery::UpdateSource source(UpdateFiles());
  return dbupdate::AplicaPacotesScript(
      step, dbupdate::ScriptContext{.row = row,
                                    .target = target,
                                    .database = session_.database,
                                    .transactions = session_.transactions,
                                    .source = source,
                                    .log = log_,
                                    .report = report_,
                                    .shell = shell_,
                                    .abortButton = form_.BtBtnAbortar,
                                    .runSucceeded = session_.runSucceeded,
                                    .currentProfileFile = session_.currentProfileFile,
                                    .folder = executableFolder_});
}

void Principal::AtualizaModulos() {
  form_.ShowPage(form_.TbShtLog);
  shell_.Repaint();
  delivery::UpdateSource source(UpdateFiles());
  installer::AtualizaModulos(installer::InstallContext{
      .controls = {.PnlDownModulo = form_.PnlDownModulo,
                   .LblGravando = form_.LblGravando,
                   .TBtnConect = form_.TBtnConect,
                   .TBtnFazDownModulo = form_.TBtnFazDownModulo,
                   .TbtnDesconect = form_.TbtnDesconect,
                   .GgDownModulo = form_.GgDownModulo,
                   .BtBtnAbortar = form_.BtBtnAbortar,
                   .branches = Branches()},
      .shell = shell_,
      .source = source,
      .transfer = session_.transfer,
      .log = log_,
      .report = report_,
      .reader = zipReader_,
      .run = session_.run,
      .site = session_.site,
      .mainRow = MainVersionRow(),
      .transactions = session_.transactions,
      .runSucceeded = session_.runSucceeded,
      .pendingBranchesFilePath = session_.records.pendingBranchesFilePath});
}

}  // namespace korva
