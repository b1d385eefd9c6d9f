// Starting real programs without waiting for them, and the dynamic loader.
// Runs on Linux only: fork, wait and the dynamic loader of POSIX.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace korva::platform {
namespace {

using namespace std::chrono_literals;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

void WriteScript(const std::string& path, const std::string& body) {
  WriteBytes(path, "#!/bin/sh\n" + body);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

// The file's content once the program says it is done. The bound only ends
// the wait for a program that never finishes; a loaded machine may take
// seconds to start a shell.
std::string AwaitFile(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!FileExists(path + ".done") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  return FileExists(path) ? ReadBytes(path) : std::string("(never written)");
}

bool HaveChildren() {
  return !(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
}

TEST(StartProgram, RunsInItsOwnFolderWithoutWaiting) {
  TempDir dir;
  const std::string out = dir.File("out");
  // The program finishes only once we let it (a line down this pipe), so it
  // is surely still running when StartProgram has returned. Opened for both
  // ends, the pipe never blocks us, and the program's read ends at the latest
  // when this process does.
  const std::string go = dir.File("go");
  ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
  const int letGo = ::open(go.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(letGo, 0);
  ASSERT_TRUE(CreateDir(dir.File("Backup")));
  WriteScript(dir.File("Backup/KORVABACKUP.EXE"),
              "pwd > '" + out +
                  "'\n"
                  "echo \"$#:$1:$2\" >> '" +
                  out +
                  "'\n"
                  "read line; echo \"stdin:$line:$?\" >> '" +
                  out +
                  "'\n"
                  // A handle of ours left open without close-on-exec must not arrive.
                  "test -e /proc/$$/fd/200 && echo leaked >> '" +
                  out +
                  "'\n"
                  "read go < '" +
                  go +
                  "'\n"
                  "touch '" +
                  out + ".done'\n");
  const int leaked = ::open(dir.File("Backup/KORVABACKUP.EXE").c_str(), O_RDONLY);
  ASSERT_EQ(::dup2(leaked, 200), 200);
  ::close(leaked);

  EXPECT_TRUE(StartProgram(dir.File("Backup/KORVABACKUP.EXE"), {"a b", "c"}));
  // Returned before the program ended, and no child of ours is left to reap.
  EXPECT_FALSE(FileExists(out + ".done"));
  EXPECT_FALSE(HaveChildren());
  ::close(200);

  ASSERT_EQ(::write(letGo, "\n", 1), 1);
  EXPECT_EQ(AwaitFile(out), dir.File("Backup") + "\n2:a b:c\nstdin::1\n");
  ::close(letGo);
}

TEST(StartProgram, RelativePathIsTakenFromOurFolder) {
  TempDir dir;
  const std::string out = dir.File("out");
  WriteScript(dir.File("prog"), "pwd > '" + out + "'; : > '" + out + ".done'\n");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
  const bool started = StartProgram("./prog");
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_TRUE(started);
  EXPECT_EQ(AwaitFile(out), dir.Path() + "\n");
}

TEST(StartProgram, FailuresAreReported) {
  TempDir dir;
  EXPECT_FALSE(StartProgram(dir.File("KORVABACKUP.EXE")));
  EXPECT_FALSE(StartProgram(""));
  EXPECT_FALSE(StartProgram(dir.Path()));
  WriteBytes(dir.File("plain.txt"), "not a program");
  EXPECT_FALSE(StartProgram(dir.File("plain.txt")));
  WriteBytes(dir.File("garbage.exe"), std::string("\x7f"
                                                  "ELF\x01\x02garbage",
                                                  13));
  ASSERT_EQ(::chmod(dir.File("garbage.exe").c_str(), 0755), 0);
  EXPECT_FALSE(StartProgram(dir.File("garbage.exe")));
  EXPECT_FALSE(HaveChildren());
}

TEST(OpenWebAddress, HandsTheAddressToTheDesktopOpener) {
  // xdg-open is whatever the desktop provides; here a script in its place.
  TempDir dir;
  const std::string out = dir.File("out");
  WriteScript(dir.File("xdg-open"), "echo \"$1\" > '" + out + "'; : > '" + out + ".done'\n");
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", dir.Path().c_str(), 1);
  OpenWebAddress("http://www.korva.com.br/atualização");
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(AwaitFile(out), "http://www.korva.com.br/atualiza\xC3\xA7\xC3\xA3o\n");

  // Without any opener nothing happens, and nothing is left behind.
  TempDir empty;
  ::setenv("PATH", empty.Path().c_str(), 1);
  OpenWebAddress("http://www.korva.com.br");
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_FALSE(HaveChildren());
}

TEST(DynamicLibrary, LoadsOnlyTheFileNamed) {
  const std::string korvaLib = std::string(KORVA_BIN_DIR) + "/KorvaLib.dll";
  DynamicLibrary library(korvaLib);
  ASSERT_TRUE(library.IsLoaded()) << library.LoadError();
  EXPECT_NE(library.Lookup("ExisteAtualizacao"), nullptr);
  EXPECT_EQ(library.Lookup("NoSuchEntry"), nullptr);

  DynamicLibrary moved = std::move(library);
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_NE(moved.Lookup("GetBuildInfo"), nullptr);
  moved.Unload();
  EXPECT_EQ(moved.Lookup("GetBuildInfo"), nullptr);

  // A bare name is a file in the current folder, never a search of the
  // loader's paths (libz is loaded in this very process).
  DynamicLibrary bare("libz.so.1");
  EXPECT_FALSE(bare.IsLoaded());
  EXPECT_NE(bare.LoadError(), "");
}

}  // namespace
}  // namespace korva::platform
