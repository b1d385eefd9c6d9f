// The window registry between real processes: a window registered in one
// process is found and closed from another, exactly by class and title.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/window_registry.h"
#include "support/window_process.h"

namespace korva::platform {
namespace {

using namespace std::chrono_literals;
using testing::WindowProcess;

const std::string kClass = "TFrmKorvaBackup";
const std::string kTitle = "KORVA - Backup";

int EntryCount(const std::string& folder) {
  int count = 0;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir)) count += e->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

// Whether bytes (or the writer's end) arrive within a generous while.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 60000) > 0;
}

// Serves a window of this process from a thread, as an event loop would.
void ServeUntil(RegisteredWindow& window, const bool& done, const std::function<void()>& onClose) {
  pollfd p{static_cast<int>(window.NotificationHandle().Value()), POLLIN, 0};
  while (!done && ::poll(&p, 1, 5000) > 0) window.ServeRequests(onClose);
}

class WindowRegistry : public ::testing::Test {
 protected:
  testing::PrivateWindowRegistry registry_;
};

TEST_F(WindowRegistry, FoundOnlyByExactClassAndTitle) {
  const std::string title =
      "           KORVA - Atualização de Sistemas / Banco de Dados -  Versão: 1.0";
  WindowProcess window({.className = "TFrmKorvaUpdate", .title = title});
  ASSERT_TRUE(window.Registered());
  EXPECT_EQ(WindowRegistryFolder(), registry_.Folder());

  EXPECT_TRUE(FindWindow("TFrmKorvaUpdate", title));
  for (const auto& [className, other] : {
           std::pair<std::string, std::string>{"TFrmKorvaBackup", title},
           {"tfrmkorvaupdate", title},
           {"TFrmKorvaUpdate", title + " "},
           {"TFrmKorvaUpdate", title.substr(1)},
           {"TFrmKorvaUpdate", title.substr(0, title.size() - 1) + "1"},  // another build
           // Accented letters are bytes like any other: no folding.
           {"TFrmKorvaUpdate",
            "           KORVA - ATUALIZAÇÃO DE SISTEMAS / BANCO DE DADOS -  "
            "VERSÃO: 1.0"},
       }) {
    EXPECT_FALSE(FindWindow(className, other)) << className << "|" << other;
    EXPECT_FALSE(SendCloseRequest(className, other, 2s));
  }
  EXPECT_TRUE(window.Running());
  EXPECT_TRUE(FindWindow("TFrmKorvaUpdate", title));
}

TEST_F(WindowRegistry, CloseRequestReturnsAfterTheWindowHandledIt) {
  const std::string marker = registry_.RuntimeFolder() + "/handled";
  // The handler says when it starts, then waits for our word: in between we
  // look whether the sender is still waiting.
  int started[2], go[2];
  ASSERT_EQ(::pipe(started), 0);
  ASSERT_EQ(::pipe(go), 0);
  WindowProcess window({.className = kClass, .title = kTitle, .onClose = [&] {
                          char c = 's';
                          if (::write(started[1], &c, 1) != 1 || !Readable(go[0]) ||
                              ::read(go[0], &c, 1) != 1) {
                            ::_exit(4);
                          }
                          testing::WriteBytes(marker, "closed");
                        }});
  WindowProcess other({.className = kClass, .title = "KORVA - Backup 2"});
  ASSERT_TRUE(window.Registered() && other.Registered());

  std::atomic<bool> returned{false};
  bool waitedForTheHandler = false;
  std::thread watcher([&] {
    char c = 'g';
    waitedForTheHandler = Readable(started[0]) && ::read(started[0], &c, 1) == 1 && !returned;
    if (::write(go[1], &c, 1) != 1) ADD_FAILURE() << "the handler cannot be let go";
  });
  EXPECT_TRUE(SendCloseRequest(kClass, kTitle));
  returned = true;
  EXPECT_TRUE(FileExists(marker));
  watcher.join();
  for (int fd : {started[0], started[1], go[0], go[1]}) ::close(fd);
  EXPECT_TRUE(waitedForTheHandler);
  EXPECT_EQ(window.Wait(), 0);
  EXPECT_FALSE(FindWindow(kClass, kTitle));
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 1s));
  // The other window was not disturbed.
  EXPECT_TRUE(other.Running());
  EXPECT_TRUE(FindWindow(kClass, "KORVA - Backup 2"));
}

TEST_F(WindowRegistry, EntriesOfDeadProgramsAreIgnoredAndRemoved) {
  WindowProcess window({.className = kClass, .title = kTitle});
  ASSERT_TRUE(window.Registered());
  window.Kill();
  ASSERT_EQ(EntryCount(registry_.Folder()), 2);  // its socket and entry stay behind

  EXPECT_FALSE(FindWindow(kClass, kTitle));
  EXPECT_EQ(EntryCount(registry_.Folder()), 0);
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 1s));
  WindowProcess again({.className = kClass, .title = kTitle});
  EXPECT_TRUE(FindWindow(kClass, kTitle));
}

TEST_F(WindowRegistry, CloseWaitIsBounded) {
  // A program busy with a long operation never takes its requests: it is
  // found, and the sender gives up after its timeout.
  WindowProcess busy({.className = kClass, .title = kTitle, .serve = false});
  ASSERT_TRUE(busy.Registered());
  EXPECT_TRUE(FindWindow(kClass, kTitle));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 500ms));
  // Only time shows a timeout kept. Loose enough for a loaded machine, and
  // still short of the 30 s default that a sender ignoring its timeout waits.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  busy.Kill();

  // A program that ends while handling the request gives no answer.
  WindowProcess dying({.className = kClass, .title = kTitle, .onClose = [] { ::_exit(5); }});
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle, 10s));
  EXPECT_EQ(dying.Wait(), 5);
}

TEST_F(WindowRegistry, TitleChangesAreSeen) {
  RegisteredWindow window(kClass, "first");
  ASSERT_TRUE(window.IsRegistered());
  EXPECT_TRUE(FindWindow(kClass, "first"));
  window.SetTitle("second");
  EXPECT_FALSE(FindWindow(kClass, "first"));
  EXPECT_TRUE(FindWindow(kClass, "second"));
}

TEST_F(WindowRegistry, CloseHandlerThatDestroysTheWindowOrFails) {
  auto window = std::make_unique<RegisteredWindow>(kClass, kTitle);
  bool done = false;
  std::thread destroying([&] {
    ServeUntil(*window, done, [&] {
      done = true;
      window.reset();
    });
  });
  EXPECT_TRUE(SendCloseRequest(kClass, kTitle, 5s));
  destroying.join();
  EXPECT_FALSE(FindWindow(kClass, kTitle));

  // The sender hears back also when the handler fails; the failure goes on.
  RegisteredWindow failing(kClass, kTitle);
  bool thrown = false;
  std::thread server([&] {
    try {
      ServeUntil(failing, thrown, [] { throw std::runtime_error("refused"); });
    } catch (const std::runtime_error&) {
      thrown = true;
    }
  });
  EXPECT_TRUE(SendCloseRequest(kClass, kTitle, 5s));
  server.join();
  EXPECT_TRUE(thrown);
}

TEST_F(WindowRegistry, NestedServingOnlyQueues) {
  // A close handler running a nested event loop (a message box) must not run
  // the handler again inside; the second request waits for the first.
  RegisteredWindow window(kClass, kTitle);
  int depth = 0, maxDepth = 0, closes = 0;
  std::promise<void> firstRunning;
  std::function<void()> onClose = [&] {
    maxDepth = std::max(maxDepth, ++depth);
    if (++closes == 1) {
      firstRunning.set_value();
      pollfd p{static_cast<int>(window.NotificationHandle().Value()), POLLIN, 0};
      if (::poll(&p, 1, 5000) > 0) window.ServeRequests(onClose);
    }
    --depth;
  };
  std::thread server([&] {
    pollfd p{static_cast<int>(window.NotificationHandle().Value()), POLLIN, 0};
    while (closes < 2 && ::poll(&p, 1, 5000) > 0) window.ServeRequests(onClose);
  });
  std::thread second([&] {
    // Sent while the first request's handler runs.
    firstRunning.get_future().wait_for(60s);
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
  const std::string folder = registry_.Folder();
  ASSERT_TRUE(CreateDir(folder));
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  EXPECT_EQ(WindowRegistryFolder(), folder);
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A link to somewhere else is refused: nothing is registered there.
  ASSERT_EQ(::rmdir(folder.c_str()), 0);
  testing::TempDir elsewhere;
  ASSERT_EQ(::symlink(elsewhere.Path().c_str(), folder.c_str()), 0);
  EXPECT_EQ(WindowRegistryFolder(), "");
  RegisteredWindow window(kClass, kTitle);
  EXPECT_FALSE(window.IsRegistered());
  EXPECT_NE(window.RegistrationError(), "");
  EXPECT_FALSE(window.NotificationHandle().IsValid());
  window.ServeRequests([] {});
  EXPECT_FALSE(FindWindow(kClass, kTitle));
  EXPECT_EQ(EntryCount(elsewhere.Path()), 0);
}

}  // namespace
}  // namespace korva::platform
