// The companion backup program on Windows: our KORVABACKUP.EXE, started
// without waiting (CreateProcessW), found through FindWindowW, closed by the
// updater's own WM_CLOSE, and started again at the end when an update closed
// it.
#include <gtest/gtest.h>

#include <string>

#include "dbupdate/backup_program.h"
#include "platform/process.h"
#include "platform/windows/win32_api.h"

namespace korva::dbupdate {
namespace {

const std::string kBin = KORVA_BIN_DIR;

// Counted slices, not a time: the program is up once its window exists.
bool WaitUntil(bool running) {
  for (int slice = 0; slice < 6000; ++slice) {
    if (BackupProgramRunning() == running) return true;
    ::Sleep(20);
  }
  return false;
}

TEST(WindowsBackupProgram, StartedFoundClosedAndStartedAgain) {
  ASSERT_FALSE(BackupProgramRunning());
  EXPECT_FALSE(CloseBackupProgram());

  ASSERT_TRUE(platform::StartProgram(kBin + "/" + kBackupProgramFile));
  ASSERT_TRUE(WaitUntil(true));
  EXPECT_TRUE(CloseBackupProgram());
  EXPECT_FALSE(BackupProgramRunning());

  // Only when an update closed it.
  DatabaseState untouched;
  EXPECT_FALSE(RestartBackupProgramOnExit(untouched, kBin));
  DatabaseState closedByUpdate;
  closedByUpdate.restartBackupOnExit = true;
  ASSERT_TRUE(RestartBackupProgramOnExit(closedByUpdate, kBin));
  ASSERT_TRUE(WaitUntil(true));
  EXPECT_TRUE(CloseBackupProgram());
  EXPECT_FALSE(BackupProgramRunning());
}

}  // namespace
}  // namespace korva::dbupdate
