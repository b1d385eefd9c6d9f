// Files held for a moment by another program (an antivirus scanner, an
// indexer): a second process of this test opens the file without letting
// others delete or rename it, as those programs do, and lets it go when the
// test says so. The platform's seam counts the tries: the file is released
// after a given try in one case and never in another, so nothing depends on
// how long a try takes.
//
//   platform_held_files_windows_test --hold=PATH --name=NAME   the holder
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "installer/package_extraction.h"
#include "installer/zip/zip_reader.h"
#include "platform/files.h"
#include "platform/held_files.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"
#include "records/update_log.h"
#include "settings/profile_file.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "support/zip_archives.h"
#include "text/error.h"

namespace korva {
namespace {

using platform::windows::Wide;

// The holder's side: opens the file sharing only reading, says so, and
// closes it when told.
int Hold(const std::string& path, const std::string& name) {
  const HANDLE held = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, Wide(name + "-held").c_str());
  const HANDLE release = ::OpenEventW(SYNCHRONIZE, FALSE, Wide(name + "-release").c_str());
  const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (!held || !release || file == INVALID_HANDLE_VALUE) return 2;
  ::SetEvent(held);
  ::WaitForSingleObject(release, INFINITE);
  ::CloseHandle(file);
  return 0;
}

// A second process holding a file until Release() (or its end).
class Holder {
 public:
  explicit Holder(const std::string& path) {
    static int count = 0;
    const std::string name =
        "korva-holder-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++count);
    held_ = ::CreateEventW(nullptr, TRUE, FALSE, Wide(name + "-held").c_str());
    release_ = ::CreateEventW(nullptr, TRUE, FALSE, Wide(name + "-release").c_str());
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --hold=" + Wide(path) + L" --name=" + Wide(name);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process_)) {
      // Held once the holder says so, or never when it ended instead.
      const HANDLE either[2] = {held_, process_.hProcess};
      holding_ = ::WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0;
    }
  }
  ~Holder() {
    Release();
    ::CloseHandle(held_);
    ::CloseHandle(release_);
    if (process_.hProcess) {
      ::CloseHandle(process_.hThread);
      ::CloseHandle(process_.hProcess);
    }
  }
  bool Holding() const { return holding_; }
  // Lets the file go and returns once the holder has ended.
  void Release() {
    if (!process_.hProcess) return;
    ::SetEvent(release_);
    ::WaitForSingleObject(process_.hProcess, INFINITE);
  }

 private:
  HANDLE held_ = nullptr;
  HANDLE release_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool holding_ = false;
};

class HeldFiles : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetHeldFilePause({}); }
  // The tries that met the held file, counted by the seam; the holder lets
  // the file go after the try numbered releaseAfter (0: never).
  void ReleaseAfterTry(Holder& holder, int releaseAfter) {
    platform::SetHeldFilePause([this, &holder, releaseAfter](int failedTry) {
      failedTries.push_back(failedTry);
      if (failedTry == releaseAfter) holder.Release();
    });
  }
  static std::vector<int> Tries(int count) {
    std::vector<int> tries;
    for (int i = 1; i <= count; ++i) tries.push_back(i);
    return tries;
  }
  testing::TempDir dir;
  std::vector<int> failedTries;
};

TEST_F(HeldFiles, TheOldExecutableIsSetAsideOnceTheHolderLetsItGo) {
  for (const int releaseAfter : {3, 0}) {
    SCOPED_TRACE(releaseAfter);
    failedTries.clear();
    const std::string exe = dir.File("EFIN.EXE");
    platform::WriteFileBytes(exe, "MZ old");
    Holder holder(exe);
    ASSERT_TRUE(holder.Holding());
    ReleaseAfterTry(holder, releaseAfter);
    const bool renamed = platform::RenameFile(exe, dir.File("EFIN.Old"));
    if (releaseAfter) {
      EXPECT_TRUE(renamed);
      EXPECT_EQ(failedTries, Tries(3));
      EXPECT_EQ(testing::ReadBytes(dir.File("EFIN.Old")), "MZ old");
      platform::DeleteFile(dir.File("EFIN.Old"));
    } else {
      // Twenty tries, nineteen pauses between them, then the answer.
      EXPECT_FALSE(renamed);
      EXPECT_EQ(failedTries, Tries(platform::kHeldFileTries - 1));
      EXPECT_TRUE(platform::FileExists(exe));
      holder.Release();
      platform::DeleteFile(exe);
    }
  }
}

TEST_F(HeldFiles, ASettingsFileIsWrittenOnceFreeOrRefusedWithTheCause) {
  const std::string ini = dir.File("KORVA.INI");
  platform::WriteFileBytes(ini, "[UPDATE]\r\nTIPO_FTP=0\r\n");
  settings::ProfileFile profile(ini);
  {
    Holder holder(ini);
    ASSERT_TRUE(holder.Holding());
    ReleaseAfterTry(holder, 5);
    profile.WriteString("UPDATE", "TIPO_FTP", "1");
    EXPECT_EQ(failedTries, Tries(5));
    EXPECT_EQ(testing::ReadBytes(ini), "[UPDATE]\r\nTIPO_FTP=1\r\n");
  }
  failedTries.clear();
  Holder holder(ini);
  ASSERT_TRUE(holder.Holding());
  ReleaseAfterTry(holder, 0);
  try {
    profile.WriteString("UPDATE", "TIPO_FTP", "0");
    ADD_FAILURE() << "written over a held file";
  } catch (const KorvaError& e) {
    // The fixed text, with the real cause in its %s.
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("Unable to write to " + ini + ": ", 0), 0u) << text;
    EXPECT_GT(text.size(), ("Unable to write to " + ini + ": ").size());
  }
  EXPECT_EQ(failedTries, Tries(platform::kHeldFileTries - 1));
  holder.Release();
  // Nothing lost, nothing left beside it.
  EXPECT_EQ(testing::ReadBytes(ini), "[UPDATE]\r\nTIPO_FTP=1\r\n");
  EXPECT_EQ(testing::ReadTree(dir.Path()).size(), 1u);
}

TEST_F(HeldFiles, AModuleIsPutInPlaceOnceFreeOrItsEntryFailsWithTheCause) {
  testing::HandArchive archive;
  archive.entries.push_back({.name = "EFIN.EXE", .data = "MZ new"});
  testing::WriteBytes(dir.File("efin.zip"), archive.Build());
  for (const int releaseAfter : {2, 0}) {
    SCOPED_TRACE(releaseAfter);
    failedTries.clear();
    platform::DeleteFile(dir.File("EFIN.Old"));
    platform::WriteFileBytes(dir.File("EFIN.EXE"), "MZ old");
    testing::ScriptedShell shell;
    shell.QueueAnswer(kIgnore);
    installer::ZipReader reader(shell);
    Holder holder(dir.File("EFIN.EXE"));
    ASSERT_TRUE(holder.Holding());
    ReleaseAfterTry(holder, releaseAfter);
    const bool placed =
        installer::DescompactaPacote(shell, reader, dir.Path(), "EFIN.EXE", "efin.zip");
    reader.Close();
    if (releaseAfter) {
      EXPECT_TRUE(placed);
      EXPECT_EQ(failedTries, Tries(2));
      EXPECT_EQ(testing::ReadBytes(dir.File("EFIN.Old")), "MZ old");
      EXPECT_EQ(testing::ReadBytes(dir.File("EFIN.EXE")), "MZ new");
      EXPECT_TRUE(shell.messages.empty());
    } else {
      // Setting aside gives up (silently, as it always has), then putting
      // the new one in its place gives up too: the entry fails with the
      // system's reason in the reader's fixed text, and the old file stays.
      EXPECT_FALSE(placed);
      EXPECT_EQ(failedTries.size(), 2u * (platform::kHeldFileTries - 1));
      ASSERT_EQ(shell.messages.size(), 2u);
      const std::string text = shell.messages[0].text;
      const std::string start = "Cannot replace " + dir.File("EFIN.EXE") + ": ";
      EXPECT_EQ(text.rfind(start, 0), 0u) << text;
      EXPECT_TRUE(text.ends_with(". File processing error, possibly disk is full")) << text;
      EXPECT_EQ(shell.messages[1].text.rfind("Falha na descompactação do arquivo em\r", 0), 0u);
      holder.Release();
      EXPECT_EQ(testing::ReadBytes(dir.File("EFIN.EXE")), "MZ old");
    }
  }
}

TEST_F(HeldFiles, AReadOnlyFileAndTheLogAreNeverTriedAgain) {
  // A read-only settings file is refused at once.
  const std::string ini = dir.File("KORVA.INI");
  platform::WriteFileBytes(ini, "[UPDATE]\r\n");
  platform::SetFileAttributes(ini, platform::kAttrReadOnly);
  platform::SetHeldFilePause([this](int failedTry) { failedTries.push_back(failedTry); });
  settings::ProfileFile profile(ini);
  EXPECT_THROW(profile.WriteString("UPDATE", "TIPO_FTP", "1"), KorvaError);
  platform::SetFileAttributes(ini, 0);

  // The update log held by another program: the line fails at once.
  const std::string logPath = dir.File("LogUpdate.txt");
  platform::WriteFileBytes(logPath, "");
  form::CheckList list("ChkLBxLog");
  testing::ScriptedShell shell;
  records::UpdateLog log(list, shell, logPath);
  {
    const HANDLE exclusive =
        ::CreateFileW(Wide(logPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_THROW(log.LogWriteFile("MÓDULO FIN atualizado"), FileError);
    ::CloseHandle(exclusive);
  }
  EXPECT_TRUE(failedTries.empty());
}

}  // namespace
}  // namespace korva

int main(int argc, char** argv) {
  std::string hold;
  std::string name;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--hold=", 7) == 0) hold = argv[i] + 7;
    if (std::strncmp(argv[i], "--name=", 7) == 0) name = argv[i] + 7;
  }
  if (!hold.empty()) return korva::Hold(hold, name);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
