#include "support/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace korva::testing {

bool RunInChild(const std::function<bool(const std::function<void()>& report)>& body,
                const std::function<bool(int reports)>& killAt) {
  int reports[2];
  if (::pipe(reports) != 0) throw std::runtime_error("pipe");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    ::close(reports[0]);
    bool done = false;
    try {
      done = body([&] {
        const char byte = 1;
        if (::write(reports[1], &byte, 1) != 1) ::_exit(4);
      });
    } catch (...) {
    }
    ::_exit(done ? 0 : 3);
  }
  ::close(reports[1]);
  int seen = 0;
  char byte;
  bool killed = false;
  // Read until the child is gone: a report must never find the pipe closed.
  while (::read(reports[0], &byte, 1) == 1) {
    if (!killed && killAt(++seen)) {
      ::kill(child, SIGKILL);
      killed = true;
    }
  }
  ::close(reports[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

PausingChild::PausingChild(const std::function<bool(const std::function<void()>& pause)>& body) {
  int paused[2];
  int resume[2];
  if (::pipe(paused) != 0 || ::pipe(resume) != 0) throw std::runtime_error("pipe");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::close(paused[0]);
    ::close(resume[1]);
    bool done = false;
    try {
      done = body([&] {
        const char byte = 1;
        char go;
        if (::write(paused[1], &byte, 1) != 1 || ::read(resume[0], &go, 1) != 1) ::_exit(4);
      });
    } catch (...) {
    }
    ::_exit(done ? 0 : 3);
  }
  ::close(paused[1]);
  ::close(resume[0]);
  paused_ = paused[0];
  resume_ = resume[1];
}

PausingChild::~PausingChild() {
  if (!ended_) Kill();
  ::close(paused_);
  ::close(resume_);
}

bool PausingChild::WaitUntilPaused() {
  char byte;
  return ::read(paused_, &byte, 1) == 1;
}

void PausingChild::Resume() {
  const char byte = 1;
  if (::write(resume_, &byte, 1) != 1) throw std::runtime_error("the child is gone");
}

void PausingChild::Kill() {
  if (ended_) return;
  ::kill(pid_, SIGKILL);
  Succeeded();
}

bool PausingChild::Succeeded() {
  if (!ended_) {
    while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    ended_ = true;
  }
  return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

}  // namespace korva::testing
