#include "app/principal.h"

#include <exception>

#include "app/update_server.h"
#include "platform/files.h"

namespace korva {

Principal::Principal(form::FormModel& form, Shell& shell, const platform::Clock& clock,
                     std::string executableFolder)
    : form_(form),
      shell_(shell),
      clock_(clock),
      executableFolder_(std::move(executableFolder)),
      mainRowEmpresa_(sqlConnectionKorva_, dbupdate::kVersionQueryEmpresa),
      mainRowCartorio_(sqlConnectionKorva_, dbupdate::kVersionQueryCartorio),
      usersRow_(sqlConnectionUsuario_, dbupdate::kVersionQueryUsers),
      locale_(platform::LocaleFormats::Current()),
      ftp_(BuiltInUpdateServerHost()),
      progress_({form_.STxtKBPS, form_.STxtDownModulo, form_.GaugeDownload, form_.GgDownModulo},
                session_.transfer, shell_, clock_, locale_),
      zipReader_(shell_),
      log_(form_.ChkLBxLog, shell_, session_.records.logFilePath),
      report_(session_.site, session_.records, ftp_, clock_, locale_) {
  sqlConnectionKorva_.SetBeforeConnect([this] { return SQLConnectionKORVABeforeConnect(); });
  sqlConnectionUsuario_.SetBeforeConnect([this] { return SQLConnectionUSUARIOBeforeConnect(); });
  ftp_.SetEvents(&progress_);
  // The window stays alive while the session waits for the network: this is
  // how "&Abortar" reaches a running transfer.
  ftp_.SetWaitHook([this] { shell_.ProcessPendingInput(); });
  form_.RdGrpModotAtualizacao.onClick = [this] { RdGrpModotAtualizacaoClick(); };
  form_.RGBackup.onClick = [this] { RGBackupClick(); };
}

Principal::~Principal() = default;

dbupdate::VersionRow& Principal::MainVersionRow() {
  return session_.site.edition == versions::Edition::Empresa ? mainRowEmpresa_ : mainRowCartorio_;
}

dbupdate::ProtectedModeContext Principal::ProtectedMode() {
  return dbupdate::ProtectedModeContext{.users = sqlConnectionUsuario_,
                                        .usersRow = usersRow_,
                                        .transactions = session_.transactions,
                                        .selector = form_.RdGrpModotAtualizacao,
                                        .shell = shell_};
}

std::array<form::TextControl*, settings::kTextKeys.size()> Principal::SettingsFields() {
  return {&form_.SrvRemoto1,    &form_.SrvRemoto2,     &form_.SrvRemoto3,
          &form_.EdtProxy_Host, &form_.EdtProxy_Porta, &form_.EdtProxy_Usuario,
          &form_.EdtProxy_Senha};
}

installer::BranchControls Principal::Branches() {
  return installer::BranchControls{
      .folders = {&form_.SrvRemoto1, &form_.SrvRemoto2, &form_.SrvRemoto3},
      .list = form_.ChkLstBxEmpresas,
      .writingTo = form_.LblGravando};
}

bool Principal::Dispatch(const std::function<void()>& handler) {
  if (running_ > 0) return false;
  ++running_;
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("Erro inesperado.");
  }
  --running_;
  if (closePending_ && running_ == 0) {
    closePending_ = false;
    shell_.CloseMainWindow();
  }
  return true;
}

void Principal::RequestClose() {
  if (running_ > 0) {
    closePending_ = true;
    return;
  }
  shell_.CloseMainWindow();
}

void Principal::ShowError(const std::string& text) {
  shell_.ShowMessage(Message{"", text, MsgIcon::Error, kOk, kOk});
}

}  // namespace korva
