#include "support/x_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace korva::testing {
namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& additions) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& a : additions) {
      if (a.substr(0, a.find('=')) == name) replaced = true;
    }
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), additions.begin(), additions.end());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  ::pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace

XDisplay::XDisplay() {
  // Xvfb picks a free display number itself (-displayfd), as it binds its
  // socket, and writes it to the pipe once it accepts connections: the number
  // is ours, and the server is ready, when we read it.
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0 || ::fcntl(ready[1], F_SETFD, 0) != 0) {
    throw std::runtime_error("pipe failed");
  }
  try {
    xvfb_ = Spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp"},
                  {});
  } catch (...) {
    ::close(ready[0]);
    ::close(ready[1]);
    throw;
  }
  ::close(ready[1]);
  std::string number;
  // Generous: only a server that never comes up ends the wait.
  pollfd p{ready[0], POLLIN, 0};
  char c = 0;
  while (::poll(&p, 1, 60000) > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(ready[0]);
  if (c != '\n' || number.empty()) {
    Stop(xvfb_);
    throw std::runtime_error("Xvfb did not come up");
  }
  // Built by appending: GCC 12 at -O2 sees a false overlap in name_ = ":".
  name_.push_back(':');
  name_ += number;
  windowManager_ = Spawn({"openbox"}, {"DISPLAY=" + name_});
  // The window manager must own the screen before windows are mapped, or
  // activation requests go nowhere.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Capture("DISPLAY=" + name_ + " xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null")
             .find("window id") == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Stop(windowManager_);
      Stop(xvfb_);
      throw std::runtime_error("openbox did not take the screen");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

XDisplay::~XDisplay() {
  Stop(windowManager_);
  Stop(xvfb_);
}

std::string XDisplay::WaitForWindow(const std::string& titlePattern,
                                    std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string ids = Capture("DISPLAY=" + name_ + " xdotool search --onlyvisible --name '" +
                                    titlePattern + "' 2>/dev/null");
    if (!ids.empty()) return ids.substr(0, ids.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

void XDisplay::PressKey(const std::string& window, const std::string& key) const {
  Capture("DISPLAY=" + name_ + " xdotool windowactivate --sync " + window + " 2>/dev/null");
  Capture("DISPLAY=" + name_ + " xdotool key --clearmodifiers " + key + " 2>/dev/null");
}

std::string XDisplay::VisibleTitles() const {
  return Capture("DISPLAY=" + name_ +
                 " xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null");
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment)
    : pid_(Spawn(argv, environment)) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::Running() {
  if (ended_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    ended_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  return true;
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

}  // namespace korva::testing
