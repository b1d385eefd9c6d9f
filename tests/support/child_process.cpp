#include "support/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace korva::testing
