// The program in a folder whose name Windows-1252 cannot write ("Łódź"):
// it finds itself and its files through the folder's short (8.3) name, and
// where short names are not to be had it stops at once, saying why. This
// test copies itself there and runs the copy (KORVA_IN_FOLDER set), which
// looks at itself from the inside; and runs the real korvaupdate.exe there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/program_start.h"
#include "platform/files.h"
#include "platform/windows/short_paths.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "support/win32_windows.h"

namespace korva {
namespace {

using platform::windows::Wide;

const wchar_t* const kFolderName = L"\u0141\u00f3d\u017a";  // Łódź

bool InsideTheFolder() {
  return std::getenv("KORVA_IN_FOLDER") != nullptr;
}

// A program of the folder, started with the arguments; and, once it ends,
// its exit status. A program still running after a minute is ended and
// counts as failed: a box nobody answers never holds the test run.
class Started {
 public:
  Started(const std::wstring& program, const std::wstring& arguments, bool child) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    if (child) ::SetEnvironmentVariableW(L"KORVA_IN_FOLDER", L"1");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &process_);
    ::SetEnvironmentVariableW(L"KORVA_IN_FOLDER", nullptr);
  }
  ~Started() {
    if (!started_) return;
    if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.hProcess, 1);
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
  }
  DWORD Id() const { return process_.dwProcessId; }
  DWORD Status() {
    if (!started_ || ::WaitForSingleObject(process_.hProcess, 60000) != WAIT_OBJECT_0) {
      return ~DWORD{0};
    }
    DWORD status = 0;
    ::GetExitCodeProcess(process_.hProcess, &status);
    return status;
  }

 private:
  BOOL started_ = FALSE;
  PROCESS_INFORMATION process_{};
};

class ForeignFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (InsideTheFolder()) GTEST_SKIP() << "runs in the folder's copy only";
    folder_ = std::filesystem::path(Wide(dir_.Path())) / kFolderName;
    std::filesystem::create_directory(folder_);
    const std::filesystem::path bin = Wide(platform::ExecutableFolder());
    for (const wchar_t* file : {L"korvaupdate.exe", L"KorvaLib.dll"}) {
      std::filesystem::copy_file(bin / file, folder_ / file);
    }
    std::filesystem::copy_file(Wide(platform::ExecutablePath()), folder_ / L"start_test.exe");
  }
  testing::TempDir dir_;
  std::filesystem::path folder_;
};

TEST_F(ForeignFolder, TheCopyThereFindsItselfOrStopsSayingWhy) {
  Started copy((folder_ / L"start_test.exe").wstring(), L"--gtest_filter=InTheFolder.*", true);
  EXPECT_EQ(copy.Status(), 0u);
}

TEST_F(ForeignFolder, TheProgramThereReachesItsDatabaseNotAMissingLibrary) {
  // No fbclient.dll in this build: the start goes as far as the database
  // and stops there with its own message. Before short names were used it
  // stopped at "KorvaLib.Dll não disponível.", the library being there.
  Started program((folder_ / L"korvaupdate.exe").wstring(), L"", false);
  const testing::ShownBox shown = testing::AnswerBox(L"KORVA", IDOK, program.Id());
  program.Status();
  ASSERT_TRUE(shown.found);
  EXPECT_NE(
      shown.text.find(L"N\u00e3o foi poss\u00edvel se conectar ao servidor de Banco de Dados."),
      std::wstring::npos)
      << platform::windows::Narrow(shown.text);
}

// In the folder's copy.
TEST(InTheFolder, ItsPathIsTheShortFormOrTheStartStopsWithTheCause) {
  if (!InsideTheFolder()) GTEST_SKIP() << "runs in the folder's copy only";
  const std::string path = platform::ExecutablePath();
  ASSERT_TRUE(platform::ExecutablePathFitsCodePage());
  EXPECT_EQ(path.find('?'), std::string::npos) << path;
  EXPECT_TRUE(platform::FileExists(path)) << path;
  EXPECT_TRUE(
      platform::FileExists(platform::JoinPath(platform::ExecutableFolder(), "KorvaLib.dll")));
  // The short name names the folder of the long one.
  wchar_t longPath[MAX_PATH] = {};
  ::GetLongPathNameW(Wide(platform::ExecutableFolder()).c_str(), longPath, MAX_PATH);
  EXPECT_TRUE(std::wstring(longPath).ends_with(kFolderName));

  // The start reads the build through the vendor library, found there.
  testing::ScriptedShell shell;
  int exitCode = -1;
  EXPECT_NE(StartProgram(shell, exitCode), nullptr);
  EXPECT_TRUE(shell.messages.empty());

  // A volume without short names: the start stops, naming the cause.
  platform::windows::FailShortPathNames(true);
  EXPECT_FALSE(platform::ExecutablePathFitsCodePage());
  EXPECT_EQ(StartProgram(shell, exitCode), nullptr);
  EXPECT_EQ(exitCode, 1);
  const Message stop{"KORVA",
                     "A pasta do programa tem caracteres que o programa não aceita: "
                     "mova-o para uma pasta de nome simples.",
                     MsgIcon::Error, kOk, kOk};
  EXPECT_EQ(shell.messages, std::vector<Message>{stop});
  platform::windows::FailShortPathNames(false);
}

}  // namespace
}  // namespace korva
