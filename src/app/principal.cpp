#include "app/principal.h"

#include <exception>

#include "app/update_server.h"
#include "platform/files.h"

namespace korva {

Principal::Principal(form::FormModel& form, Shell& shell, const platform::Clock& clock)
    : form_(form),
      shell_(shell),
      clock_(clock),
      executableFolder_(platform::ExecutableFolder()),
      connectionContext_{executableFolder_, session_, form_},
      mainRowEmpresa_(sqlConnectionKorva_, dbupdate::kVersionQueryEmpresa),
      mainRowCartorio_(sqlConnectionKorva_, dbupdate::kVersionQueryCartorio),
      usersRow_(sqlConnectionUsuario_, dbupdate::kVersionQueryUsers),
      ftp_(BuiltInUpdateServerHost()),
      progress_(form_, session_, shell_, clock_, platform::LocaleFormats::Current(), ftp_),
      zipReader_(shell_) {
  settings::AttachConnectionResolution(connectionContext_, sqlConnectionKorva_,
                                       sqlConnectionUsuario_);
  ftp_.SetEvents(&progress_);
  // The window stays alive while the session waits for the network: this is
  // how "&Abortar" reaches a running transfer.
  ftp_.SetWaitHook([this] { shell_.ProcessPendingInput(); });
  form_.RdGrpModotAtualizacao.onClick = [this] { RdGrpModotAtualizacaoClick(); };
}

Principal::~Principal() = default;

dbupdate::VersionRow& Principal::MainVersionRow() {
  return session_.edition == "EMPRESA" ? mainRowEmpresa_ : mainRowCartorio_;
}

dbupdate::ProtectedModeContext Principal::ProtectedMode() {
  return dbupdate::ProtectedModeContext{sqlConnectionUsuario_, usersRow_, session_, form_, shell_};
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
