// Termination requests while the window watches them: the signal no longer
// ends the process, it wakes the watcher once, and when the watch ends the
// signal goes back to whoever handled it before.
// Runs on Linux only: POSIX signals.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include "platform/termination_requests.h"

namespace korva::platform {
namespace {

volatile sig_atomic_t gBefore = 0;
void CountBefore(int) {
  gBefore = gBefore + 1;
}

bool Readable(const TerminationRequests& requests) {
  pollfd p{static_cast<int>(requests.NotificationHandle().Value()), POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

TEST(TerminationRequests, EachSignalWakesTheWatcherInsteadOfEndingTheProgram) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction before {};
    before.sa_handler = CountBefore;
    sigemptyset(&before.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(::sigaction(signal, &before, &saved), 0);
    gBefore = 0;
    {
      TerminationRequests requests;
      ASSERT_TRUE(requests.IsWatching());
      EXPECT_FALSE(Readable(requests));
      EXPECT_FALSE(requests.TakeRequests());
      ASSERT_EQ(::raise(signal), 0);
      ASSERT_EQ(::raise(signal), 0);
      EXPECT_TRUE(Readable(requests)) << signal;
      EXPECT_TRUE(requests.TakeRequests());
      // Both taken at once.
      EXPECT_FALSE(Readable(requests));
      EXPECT_FALSE(requests.TakeRequests());
      EXPECT_EQ(gBefore, 0);
    }
    ASSERT_EQ(::raise(signal), 0);
    EXPECT_EQ(gBefore, 1) << signal;
    ::sigaction(signal, &saved, nullptr);
  }
}

}  // namespace
}  // namespace korva::platform
