#include "dbupdate/backup_program.h"

#include "platform/files.h"
#include "platform/process.h"
#include "platform/window_registry.h"

namespace korva::dbupdate {

bool BackupProgramRunning() {
  return platform::FindWindow(kBackupWindowClass, kBackupWindowTitle);
}

bool CloseBackupProgram() {
  return platform::SendCloseRequest(kBackupWindowClass, kBackupWindowTitle);
}

bool RestartBackupProgramOnExit(const DatabaseState& database, const std::string& folder) {
  if (!database.restartBackupOnExit) return false;
  return platform::StartProgram(platform::JoinPath(folder, kBackupProgramFile));
}

}  // namespace korva::dbupdate
