// Program start and end around other programs: the guard against a second
// copy, and the real KORVABACKUP.EXE started at exit and closed by request.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "app/single_instance_guard.h"
#include "dbupdate/backup_program.h"
#include "platform/files.h"
#include "platform/window_registry.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "support/window_process.h"

namespace korva {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedShell;
using testing::TempDir;

const std::string kTitle =
    "           KORVA - Atualização de Sistemas / Banco de Dados -  Versão: 1.0.0.0";

// The bound only ends the wait for something that never happens; a loaded
// machine may take seconds to start a Qt program.
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Processes whose executable is that file.
int ProcessesRunning(const std::string& executable) {
  int count = 0;
  DIR* proc = ::opendir("/proc");
  while (const dirent* e = proc ? ::readdir(proc) : nullptr) {
    char target[4096];
    const std::string link = std::string("/proc/") + e->d_name + "/exe";
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == executable) ++count;
  }
  if (proc) ::closedir(proc);
  return count;
}

class ProgramStart : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QT_QPA_PLATFORM", "offscreen", 0); }
  void TearDown() override { platform::OverrideExecutablePath(std::nullopt); }

  // The main window of a first copy, in a process of its own.
  static testing::WindowProcess::Options FirstCopy(const std::string& title) {
    return {.className = kMainWindowClass, .title = title, .serve = false};
  }

  testing::PrivateWindowRegistry registry_;
};

TEST_F(ProgramStart, SecondCopyIsRefused) {
  testing::WindowProcess first(FirstCopy(kTitle));
  ASSERT_TRUE(first.Registered());
  ScriptedShell shell;
  EXPECT_EQ(SingleInstanceGuard(shell, kTitle), StartDecision::End);
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0], (Message{"KORVA - UPDATE", "Aplicação já está sendo executada.",
                                        MsgIcon::Information, kOk, kOk}));
  // The first copy is not disturbed.
  EXPECT_TRUE(platform::FindWindow(kMainWindowClass, kTitle));
  EXPECT_TRUE(first.Running());
}

TEST_F(ProgramStart, OtherBuildsAndNoCopyRun) {
  ScriptedShell shell;
  EXPECT_EQ(SingleInstanceGuard(shell, kTitle), StartDecision::Run);
  testing::WindowProcess other(FirstCopy(kTitle.substr(0, kTitle.size() - 1) + "1"));
  EXPECT_EQ(SingleInstanceGuard(shell, kTitle), StartDecision::Run);
  EXPECT_TRUE(shell.messages.empty());
  // A copy that died without closing its window does not block a new start.
  testing::WindowProcess dead(FirstCopy(kTitle));
  dead.Kill();
  EXPECT_EQ(SingleInstanceGuard(shell, kTitle), StartDecision::Run);
  EXPECT_TRUE(shell.messages.empty());
}

TEST_F(ProgramStart, BackupProgramClosedByRequestAndStartedAgainAtExit) {
  // An installation folder with the real backup program beside the updater.
  const std::string built = std::string(KORVA_BIN_DIR) + "/KORVABACKUP.EXE";
  ASSERT_TRUE(platform::FileExists(built)) << "build KORVABACKUP first";
  TempDir site;
  const std::string backup = site.File("KORVABACKUP.EXE");
  ASSERT_TRUE(platform::CopyFile(built, backup));
  ASSERT_TRUE(platform::SetFileAttributes(backup, platform::kAttrArchive));
  ASSERT_EQ(::chmod(backup.c_str(), 0755), 0);
  platform::OverrideExecutablePath(site.File("korvaupdate"));

  dbupdate::DatabaseState database;
  EXPECT_FALSE(
      dbupdate::RestartBackupProgramOnExit(database, site.Path()));  // the update never closed it
  EXPECT_FALSE(dbupdate::BackupProgramRunning());
  EXPECT_FALSE(dbupdate::CloseBackupProgram());

  database.restartBackupOnExit = true;
  ASSERT_TRUE(dbupdate::RestartBackupProgramOnExit(database, site.Path()));
  ASSERT_TRUE(Eventually(dbupdate::BackupProgramRunning))
      << "KORVABACKUP.EXE never showed its window";
  EXPECT_EQ(ProcessesRunning(backup), 1);

  EXPECT_TRUE(dbupdate::CloseBackupProgram());
  EXPECT_FALSE(dbupdate::BackupProgramRunning());
  EXPECT_TRUE(Eventually([&] { return ProcessesRunning(backup) == 0; }))
      << "KORVABACKUP.EXE kept running after its window closed";
}

TEST_F(ProgramStart, BackupProgramMissingAtExit) {
  TempDir site;
  platform::OverrideExecutablePath(site.File("korvaupdate"));
  dbupdate::DatabaseState database;
  database.restartBackupOnExit = true;
  EXPECT_FALSE(dbupdate::RestartBackupProgramOnExit(database, site.Path()));
}

}  // namespace
}  // namespace korva
