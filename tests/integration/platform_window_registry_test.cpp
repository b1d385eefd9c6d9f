// The window registry between real processes: a window registered in one
// process is found and closed from another, exactly by class and title.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/window_registry.h"
#include "support/temp_dir.h"

namespace korva::platform {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

const std::string kClass = "TFrmKorvaBackup";
const std::string kTitle = "KORVA - Backup";

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

// A window in a process of its own. onClose runs in that process; the process
// ends once a close request has been handled.
class WindowProcess {
 public:
  struct Options {
    std::string className = kClass;
    std::string title = kTitle;
    bool serve = true;
    std::function<void()> onClose = [] {};
  };

  explicit WindowProcess(Options options) {
    int ready[2];
    if (::pipe(ready) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      RunChild(options, ready[1]);
    }
    ::close(ready[1]);
    char registered = 0;
    if (::read(ready[0], &registered, 1) != 1) registered = 0;
    ::close(ready[0]);
    registered_ = registered == 'y';
  }

  ~WindowProcess() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }

  bool Registered() const { return registered_; }
  pid_t Pid() const { return pid_; }

  // The child's exit status; waits at most a few seconds.
  int Wait() {
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  void Kill() {
    ::kill(pid_, SIGKILL);
    Wait();
  }

 private:
  [[noreturn]] static void RunChild(const Options& options, int ready) {
    auto window = std::make_unique<RegisteredWindow>(options.className, options.title);
    const char answer = window->IsRegistered() ? 'y' : 'n';
    if (::write(ready, &answer, 1) != 1) ::_exit(3);
    ::close(ready);
    if (!options.serve) {
      for (;;) ::pause();
    }
    bool closed = false;
    while (!closed) {
      pollfd p{window->NotificationHandle(), POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) ::_exit(2);
      window->ServeRequests([&] {
        options.onClose();
        closed = true;
      });
    }
    window.reset();
    ::_exit(0);
  }

  pid_t pid_ = -1;
  bool registered_ = false;
  bool ended_ = false;
};

class WindowRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    // Our own runtime folder: nothing of the user's session is seen or touched.
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) saved_ = old;
    ::setenv("XDG_RUNTIME_DIR", runtime_.Path().c_str(), 1);
    folder_ = runtime_.Path() + "/korva-windows";
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
  }

  TempDir runtime_;
  std::string folder_;
  std::optional<std::string> saved_;
};

TEST_F(WindowRegistry, FoundOnlyByExactClassAndTitle) {
  const std::string title =
      "           KORVA - Atualização de Sistemas / Banco de Dados -  Versão: 1.0";
  WindowProcess window({.className = "TFrmKorvaUpdate", .title = title});
  ASSERT_TRUE(window.Registered());
  EXPECT_EQ(WindowRegistryFolder(), folder_);

  EXPECT_TRUE(FindWindow("TFrmKorvaUpdate", title));
  EXPECT_FALSE(FindWindow("TFrmKorvaBackup", title));
  EXPECT_FALSE(FindWindow("TFrmKorvaUpdat", title));
  EXPECT_FALSE(FindWindow("tfrmkorvaupdate", title));
  EXPECT_FALSE(FindWindow("TFrmKorvaUpdate", title + " "));
  EXPECT_FALSE(FindWindow("TFrmKorvaUpdate", title.substr(1)));
  // Another build: another title.
  EXPECT_FALSE(
      FindWindow("TFrmKorvaUpdate",
                 "           KORVA - Atualização de Sistemas / Banco de Dados -  Versão: 1.1"));
  // Accented letters are bytes like any other: no folding.
  EXPECT_FALSE(
      FindWindow("TFrmKorvaUpdate",
                 "           KORVA - ATUALIZAÇÃO DE SISTEMAS / BANCO DE DADOS -  VERSÃO: 1.0"));
  EXPECT_FALSE(SendCloseRequest("TFrmKorvaUpdate", title + "x", 2s));
  EXPECT_TRUE(FindWindow("TFrmKorvaUpdate", title));
}

TEST_F(WindowRegistry, CloseRequestReturnsAfterTheWindowHandledIt) {
  const std::string marker = runtime_.File("handled");
  WindowProcess window({.onClose = [&] {
    // Slow on purpose: the sender must still be waiting when this ends.
    std::this_thread::sleep_for(300ms);
    testing::WriteBytes(marker, "closed");
  }});
  ASSERT_TRUE(window.Registered());
  ASSERT_FALSE(FileExists(marker));

  EXPECT_TRUE(SendCloseRequest(kClass, kTitle));
  EXPECT_TRUE(FileExists(marker));
  EXPECT_EQ(window.Wait(), 0);
  EXPECT_FALSE(FindWindow(kClass, kTitle));
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 1s));
  EXPECT_TRUE(FolderEntries(folder_).empty());
}

TEST_F(WindowRegistry, OtherWindowsAreNotDisturbed) {
  const std::string marker = runtime_.File("wrong window closed");
  WindowProcess backup({.onClose = [&] { testing::WriteBytes(marker, "x"); }});
  WindowProcess other({.className = kClass, .title = "KORVA - Backup 2"});
  ASSERT_TRUE(backup.Registered() && other.Registered());

  EXPECT_TRUE(SendCloseRequest(kClass, "KORVA - Backup 2"));
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_FALSE(FileExists(marker));
  EXPECT_TRUE(FindWindow(kClass, kTitle));
}

TEST_F(WindowRegistry, EntriesOfDeadProgramsAreIgnoredAndRemoved) {
  WindowProcess window({});
  ASSERT_TRUE(window.Registered());
  ASSERT_FALSE(FolderEntries(folder_).empty());
  window.Kill();
  // The socket file and the entry are still there, nobody listens.
  ASSERT_FALSE(FolderEntries(folder_).empty());

  EXPECT_FALSE(FindWindow(kClass, kTitle));
  EXPECT_TRUE(FolderEntries(folder_).empty());
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 1s));

  // A new window of the same name is found as usual.
  WindowProcess again({});
  EXPECT_TRUE(FindWindow(kClass, kTitle));
}

TEST_F(WindowRegistry, BusyWindowIsFoundButItsCloseWaitIsBounded) {
  // A window whose program never takes its requests (a long operation).
  WindowProcess busy({.serve = false});
  ASSERT_TRUE(busy.Registered());
  EXPECT_TRUE(FindWindow(kClass, kTitle));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 500ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(FindWindow(kClass, kTitle));
}

TEST_F(WindowRegistry, ProgramEndingWhileClosingIsNoAnswer) {
  WindowProcess window({.onClose = [] { ::_exit(5); }});
  ASSERT_TRUE(window.Registered());
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 10s));
  EXPECT_EQ(window.Wait(), 5);
  EXPECT_FALSE(FindWindow(kClass, kTitle));
}

TEST_F(WindowRegistry, TitleChangesAreSeen) {
  RegisteredWindow window(kClass, "first");
  ASSERT_TRUE(window.IsRegistered());
  EXPECT_TRUE(FindWindow(kClass, "first"));
  window.SetTitle("second");
  EXPECT_FALSE(FindWindow(kClass, "first"));
  EXPECT_TRUE(FindWindow(kClass, "second"));
}

TEST_F(WindowRegistry, WindowDestroyedByItsCloseHandler) {
  // The window answers from a thread of ours while this thread sends.
  auto window = std::make_unique<RegisteredWindow>(kClass, kTitle);
  ASSERT_TRUE(window->IsRegistered());
  const int handle = window->NotificationHandle();
  bool handled = false;
  std::thread server([&] {
    pollfd p{handle, POLLIN, 0};
    while (!handled && ::poll(&p, 1, 5000) > 0) {
      window->ServeRequests([&] {
        handled = true;
        window.reset();
      });
    }
  });
  EXPECT_TRUE(SendCloseRequest(kClass, kTitle, 5s));
  server.join();
  EXPECT_TRUE(handled);
  EXPECT_FALSE(FindWindow(kClass, kTitle));
}

TEST_F(WindowRegistry, FailingCloseHandlerStillAnswers) {
  RegisteredWindow window(kClass, kTitle);
  std::thread server([&] {
    pollfd p{window.NotificationHandle(), POLLIN, 0};
    for (bool thrown = false; !thrown && ::poll(&p, 1, 5000) > 0;) {
      try {
        window.ServeRequests([] { throw std::runtime_error("refused"); });
      } catch (const std::runtime_error&) {
        thrown = true;
      }
    }
  });
  EXPECT_TRUE(SendCloseRequest(kClass, kTitle, 5s));
  server.join();
}

TEST_F(WindowRegistry, NestedServingOnlyQueues) {
  // onClose running a nested event loop must not run onClose again inside;
  // the second request is answered once the first is done.
  RegisteredWindow window(kClass, kTitle);
  int depth = 0;
  int maxDepth = 0;
  int closes = 0;
  std::thread server([&] {
    pollfd p{window.NotificationHandle(), POLLIN, 0};
    std::function<void()> onClose = [&] {
      maxDepth = std::max(maxDepth, ++depth);
      ++closes;
      if (closes == 1) {
        // The nested loop: wait for the second request and serve it.
        if (::poll(&p, 1, 5000) > 0) window.ServeRequests(onClose);
      }
      --depth;
    };
    while (closes < 2 && ::poll(&p, 1, 5000) > 0) window.ServeRequests(onClose);
  });
  std::thread second([&] {
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(SendCloseRequest(kClass, kTitle, 5s));
  });
  EXPECT_TRUE(SendCloseRequest(kClass, kTitle, 5s));
  second.join();
  server.join();
  EXPECT_EQ(closes, 2);
  EXPECT_EQ(maxDepth, 1);
}

TEST_F(WindowRegistry, RegistryFolderMustBeOurs) {
  // Opened up by somebody: closed again to us alone.
  ASSERT_TRUE(CreateDir(folder_));
  ASSERT_EQ(::chmod(folder_.c_str(), 0777), 0);
  EXPECT_EQ(WindowRegistryFolder(), folder_);
  struct stat st {};
  ASSERT_EQ(::stat(folder_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A link somewhere else is refused: nothing is registered there.
  ASSERT_EQ(::rmdir(folder_.c_str()), 0);
  TempDir elsewhere;
  ASSERT_EQ(::symlink(elsewhere.Path().c_str(), folder_.c_str()), 0);
  EXPECT_EQ(WindowRegistryFolder(), "");
  RegisteredWindow window(kClass, kTitle);
  EXPECT_FALSE(window.IsRegistered());
  EXPECT_NE(window.RegistrationError(), "");
  EXPECT_EQ(window.NotificationHandle(), -1);
  window.ServeRequests([] {});
  EXPECT_FALSE(FindWindow(kClass, kTitle));
  EXPECT_TRUE(FolderEntries(elsewhere.Path()).empty());
}

}  // namespace
}  // namespace korva::platform
