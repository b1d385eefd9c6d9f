// Socket waits on loopback connections: a deadline that has passed ends the
// wait with its own timeout after the slice, never before what is already
// there is taken, and a wait without deadline runs the idle hook once a slice
// until its socket is closed.
#include <gtest/gtest.h>

#include <string>

#include "platform/socket.h"
#include "support/error_text.h"

namespace korva::platform {
namespace {

using namespace std::chrono_literals;
using testing::ErrorOf;

constexpr auto kSlice = 5ms;

struct Pair {
  TcpListener listener = TcpListener::Listen("127.0.0.1", 0, 4);
  TcpSocket client = TcpSocket::Connect("127.0.0.1", listener.Port(), kNoDeadline, kSlice, nullptr);
  TcpSocket server = listener.AcceptUnless(TcpSocket(), kNoDeadline, kSlice, nullptr);
};

Deadline Passed() {
  return std::chrono::steady_clock::now() - 1s;
}

TEST(PlatformSocket, EachWaitEndsAtItsDeadline) {
  Pair pair;
  int idle = 0;
  const IdleHook count = [&] { ++idle; };
  char buffer[16];
  EXPECT_EQ(ErrorOf([&] { pair.client.Receive(buffer, sizeof buffer, Passed(), kSlice, count); }),
            "Read timed out.");
  // Nobody reads on the other side: the window fills.
  const std::string flood(64 << 20, 'x');
  EXPECT_EQ(ErrorOf([&] { pair.client.Send(flood, Passed(), kSlice, count); }), "Write timed out.");
  EXPECT_EQ(ErrorOf([&] { pair.listener.AcceptUnless(TcpSocket(), Passed(), kSlice, count); }),
            "Accept timed out.");
  EXPECT_EQ(idle, 0);
}

TEST(PlatformSocket, WhatIsThereIsTakenBeforeTheDeadlineCounts) {
  Pair pair;
  pair.server.Send("220 ready\r\n", kNoDeadline, kSlice, nullptr);
  char buffer[64];
  const std::size_t n = pair.client.Receive(buffer, sizeof buffer, Passed(), kSlice, nullptr);
  EXPECT_EQ(std::string(buffer, n), "220 ready\r\n");

  // A queued connection wins over the watched socket and the deadline.
  TcpSocket queued =
      TcpSocket::Connect("127.0.0.1", pair.listener.Port(), kNoDeadline, kSlice, nullptr);
  pair.server.Send("x", kNoDeadline, kSlice, nullptr);
  EXPECT_TRUE(pair.listener.AcceptUnless(pair.client, Passed(), kSlice, nullptr).IsOpen());
  // Then the watched socket's news ends the wait.
  EXPECT_FALSE(pair.listener.AcceptUnless(pair.client, kNoDeadline, kSlice, nullptr).IsOpen());
}

TEST(PlatformSocket, ListenerClosedByTheIdleHookEndsTheWait) {
  Pair pair;
  int idle = 0;
  const TcpSocket accepted = pair.listener.AcceptUnless(TcpSocket(), kNoDeadline, kSlice, [&] {
    if (++idle == 2) pair.listener.Close();
  });
  EXPECT_FALSE(accepted.IsOpen());
  EXPECT_EQ(idle, 2);
}

TEST(PlatformSocket, PeerAddressIsTheOtherEnd) {
  Pair pair;
  EXPECT_EQ(pair.client.PeerAddress(), "127.0.0.1");
  EXPECT_EQ(pair.server.PeerAddress(), pair.client.LocalAddress());
}

TEST(PlatformSocket, WithoutDeadlineTheIdleHookRunsEverySliceUntilItCloses) {
  Pair pair;
  int idle = 0;
  char buffer[16];
  const std::size_t n = pair.client.Receive(buffer, sizeof buffer, kNoDeadline, kSlice, [&] {
    if (++idle == 3) pair.client.Close();
  });
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(idle, 3);
}

}  // namespace
}  // namespace korva::platform
