#include "support/window_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/window_registry.h"

namespace korva::testing {
namespace {

[[noreturn]] void RunWindow(const WindowProcess::Options& options, int ready) {
  auto window = std::make_unique<platform::RegisteredWindow>(options.className, options.title);
  const char answer = window->IsRegistered() ? 'y' : 'n';
  if (::write(ready, &answer, 1) != 1) ::_exit(3);
  ::close(ready);
  if (!options.serve) {
    for (;;) ::pause();
  }
  bool closed = false;
  while (!closed) {
    pollfd p{static_cast<int>(window->NotificationHandle().Value()), POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) ::_exit(2);
    window->ServeRequests([&] {
      options.onClose();
      closed = true;
    });
  }
  window.reset();
  ::_exit(0);
}

}  // namespace

PrivateWindowRegistry::PrivateWindowRegistry() {
  if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old;
  ::setenv("XDG_RUNTIME_DIR", runtime_.Path().c_str(), 1);
}

PrivateWindowRegistry::~PrivateWindowRegistry() {
  if (saved_) {
    ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

WindowProcess::WindowProcess(Options options) {
  int ready[2];
  if (::pipe(ready) != 0) std::abort();
  pid_ = ::fork();
  if (pid_ < 0) std::abort();
  if (pid_ == 0) {
    ::close(ready[0]);
    RunWindow(options, ready[1]);
  }
  ::close(ready[1]);
  char answer = 0;
  registered_ = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
  ::close(ready[0]);
}

WindowProcess::~WindowProcess() {
  if (!ended_) Kill();
}

int WindowProcess::Wait() {
  using namespace std::chrono_literals;
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(10ms);
  }
  return -1;
}

void WindowProcess::Kill() {
  ::kill(pid_, SIGKILL);
  Wait();
}

bool WindowProcess::Running() {
  return !ended_ && ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

}  // namespace korva::testing
