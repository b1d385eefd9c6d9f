#pragma once
// The updater and the other programs around it: the guard that refuses a
// second running copy at program start, and the companion backup program,
// which a database update closes and the end of the program starts again.
#include <string>

#include "app/session_state.h"
#include "app/shell.h"

namespace korva {

inline constexpr const char* kMainWindowClass = "TFrmKorvaUpdate";
inline constexpr const char* kBackupProgramFile = "KORVABACKUP.EXE";
inline constexpr const char* kBackupWindowClass = "TFrmKorvaBackup";
inline constexpr const char* kBackupWindowTitle = "KORVA - Backup";

enum class StartDecision { Run, End };

// Program start: when a main window with exactly this title is open already
// (another copy of the same build), tells the operator so and answers End:
// the program ends without creating its window.
StartDecision SingleInstanceGuard(Shell& shell, const std::string& mainTitle);

// Window destroyed: when a database update closed the backup program, starts
// it again from the executable's folder without waiting for it. True when it
// was started; its failure is not reported to the operator.
bool RestartBackupProgramOnExit(const SessionState& session);

// Database update steps: whether the backup program's window is open, and the
// synchronous request that closes it (true when it handled the request;
// see platform::kCloseRequestTimeout for how long it may take).
bool BackupProgramRunning();
bool CloseBackupProgram();

}  // namespace korva
