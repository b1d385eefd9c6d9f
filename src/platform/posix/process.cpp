#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "text/cp1252.h"

namespace korva::platform {
namespace {

struct SpawnRequest {
  const char* file = nullptr;
  char* const* argv = nullptr;
  const char* folder = nullptr;  // nullptr: keep ours
  bool searchPath = false;
  bool quiet = false;  // standard output and error to /dev/null as well
  int highestFd = 1024;
};

// Only async-signal-safe calls from here on: the parent may have threads.
[[noreturn]] void FailChild(int reportFd) {
  const int error = errno;
  [[maybe_unused]] const ssize_t n = ::write(reportFd, &error, sizeof error);
  ::_exit(127);
}

void MarkInheritedHandlesCloseOnExec(int highestFd) {
#ifdef CLOSE_RANGE_CLOEXEC
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
  for (int fd = 3; fd <= highestFd; ++fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

[[noreturn]] void RunGrandchild(const SpawnRequest& request, int reportFd) {
  // Dispositions and masks set by our toolkit must not leak into the program.
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaultAction, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    ::dup2(devNull, STDIN_FILENO);
    if (request.quiet) {
      ::dup2(devNull, STDOUT_FILENO);
      ::dup2(devNull, STDERR_FILENO);
    }
    if (devNull > STDERR_FILENO) ::close(devNull);
  }
  if (request.folder && ::chdir(request.folder) != 0) FailChild(reportFd);
  MarkInheritedHandlesCloseOnExec(request.highestFd);
  if (request.searchPath) {
    ::execvp(request.file, request.argv);
  } else {
    ::execv(request.file, request.argv);
  }
  FailChild(reportFd);
}

// Double fork: the intermediate child ends at once and is reaped here, so the
// program is adopted by init and never becomes our zombie.
bool SpawnDetached(const std::string& file, const std::vector<std::string>& arguments,
                   const std::string& folder, bool searchPath, bool quiet) {
  std::vector<std::string> args;
  args.push_back(file);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  SpawnRequest request;
  request.file = file.c_str();
  request.argv = argv.data();
  request.folder = folder.empty() ? nullptr : folder.c_str();
  request.searchPath = searchPath;
  request.quiet = quiet;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    request.highestFd = static_cast<int>(limit.rlim_cur < 65536 ? limit.rlim_cur : 65536);
  }

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;

  const pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild < 0) FailChild(report[1]);
    if (grandchild > 0) ::_exit(0);
    RunGrandchild(request, report[1]);
  }

  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The report pipe closes without a word when exec succeeded.
  int childError = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  return n == 0;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

bool StartProgram(const std::string& path, const std::vector<std::string>& arguments) {
  if (path.empty()) return false;
  std::string absolute = path;
  // The program starts in its own folder, so a relative path must not be
  // taken relative to that folder a second time.
  if (absolute.front() != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return false;
    absolute = std::string(cwd) + "/" + path;
  }
  return SpawnDetached(absolute, arguments, FolderOf(absolute), false, false);
}

void OpenWebAddress(const std::string& address) {
  SpawnDetached("xdg-open", {text::ToUtf8(address)}, {}, true, true);
}

}  // namespace korva::platform
