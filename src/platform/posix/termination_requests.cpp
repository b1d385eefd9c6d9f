#include "platform/termination_requests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace korva::platform {
namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// A self-pipe: the handler may only write a byte. It stays open for the
// whole process, as a signal may arrive at any moment, watched or not.
int gPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
  errno = saved;
}

bool PipeReady() {
  static const bool ready = ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) == 0;
  return ready;
}

}  // namespace

struct TerminationRequests::Previous {
  std::array<struct sigaction, kSignals.size()> actions{};
};

TerminationRequests::TerminationRequests() {
  if (!PipeReady()) return;
  auto previous = std::make_unique<Previous>();
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals[i], &action, &previous->actions[i]);
  }
  previous_ = std::move(previous);
}

TerminationRequests::~TerminationRequests() {
  if (!previous_) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals[i], &previous_->actions[i], nullptr);
  }
}

bool TerminationRequests::IsWatching() const {
  return previous_ != nullptr;
}

NativeHandle TerminationRequests::NotificationHandle() const {
  return IsWatching() ? NativeHandle(gPipe[0]) : NativeHandle();
}

bool TerminationRequests::TakeRequests() {
  if (!IsWatching()) return false;
  bool taken = false;
  char buffer[64];
  while (::read(gPipe[0], buffer, sizeof buffer) > 0) taken = true;
  return taken;
}

}  // namespace korva::platform
