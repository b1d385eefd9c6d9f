#include "app/single_instance_guard.h"

#include "platform/files.h"
#include "platform/process.h"
#include "platform/window_registry.h"

namespace korva {

StartDecision SingleInstanceGuard(Shell& shell, const std::string& mainTitle) {
  if (!platform::FindWindow(kMainWindowClass, mainTitle)) return StartDecision::Run;
  shell.ShowMessage(Message{"KORVA - UPDATE", "Aplicação já está sendo executada.",
                            MsgIcon::Information, kOk, kOk});
  return StartDecision::End;
}

bool RestartBackupProgramOnExit(const SessionState& session) {
  if (!session.restartBackupOnExit) return false;
  return platform::StartProgram(
      platform::JoinPath(platform::ExecutableFolder(), kBackupProgramFile));
}

bool BackupProgramRunning() {
  return platform::FindWindow(kBackupWindowClass, kBackupWindowTitle);
}

bool CloseBackupProgram() {
  return platform::SendCloseRequest(kBackupWindowClass, kBackupWindowTitle);
}

}  // namespace korva
