#pragma once
// The KORVA system's companion backup program, KORVABACKUP.EXE beside the
// updater: a database update closes its window so that it does not copy a
// database half-way through a change, and the end of the program starts it
// again.
#include <string>

#include "dbupdate/database_state.h"

namespace korva::dbupdate {

inline constexpr const char* kBackupProgramFile = "KORVABACKUP.EXE";
inline constexpr const char* kBackupWindowClass = "TFrmKorvaBackup";
inline constexpr const char* kBackupWindowTitle = "KORVA - Backup";

// Whether the backup program's window is open.
bool BackupProgramRunning();
// The synchronous close request; true when the window handled it (see
// platform::kCloseRequestTimeout for how long it may take).
bool CloseBackupProgram();
// Window destroyed: when a database update closed the backup program, starts
// it again from that folder without waiting for it. True when it was
// started; its failure is not reported to the operator.
bool RestartBackupProgramOnExit(const DatabaseState& database, const std::string& folder);

}  // namespace korva::dbupdate
