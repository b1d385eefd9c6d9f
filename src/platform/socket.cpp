// The waits of the socket layer, alike on every system: each is cut into
// slices, the idle hook runs after a slice in which nothing happened, and the
// deadline is looked at then. The single steps under them are the system's
// own (socket_primitives.h).
#include "platform/socket.h"

#include <algorithm>

#include "platform/socket_primitives.h"

namespace korva::platform {
namespace {

namespace sp = socket_primitives;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

void CheckDeadline(Deadline deadline, const char* timedOut) {
  if (steady_clock::now() >= deadline) throw SocketTimeout(timedOut);
}

int SliceMs(milliseconds slice) {
  return static_cast<int>(std::max<milliseconds::rep>(1, slice.count()));
}

void RunIdle(const IdleHook& idle) {
  if (idle) idle();
}

}  // namespace

std::string ResolveIPv4(const std::string& host) {
  if (std::optional<std::string> address = sp::FirstIPv4Address(host)) return *address;
  throw SocketError("No IPv4 address for " + host + ".");
}

// --- TcpSocket ---

TcpSocket TcpSocket::Connect(const std::string& address, std::uint16_t port, Deadline deadline,
                             milliseconds slice, const IdleHook& idle) {
  constexpr const char* kTimedOut = "Connect timed out.";
  TcpSocket s(sp::NewStreamSocket());
  if (sp::StartConnect(s.handle_, address, port)) return s;
  for (;;) {
    CheckDeadline(deadline, kTimedOut);
    const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
    if (sp::WaitReady(s.handle_, sp::Ready::kConnectDone, SliceMs(std::min(slice, left)))) break;
    CheckDeadline(deadline, kTimedOut);
    RunIdle(idle);
  }
  sp::CheckConnected(s.handle_);
  return s;
}

std::size_t TcpSocket::Receive(char* buffer, std::size_t capacity, Deadline deadline,
                               milliseconds slice, const IdleHook& idle) {
  for (;;) {
    if (!IsOpen()) return 0;
    // Read first and wait only when nothing is there: while data streams in,
    // one system call per piece.
    if (const auto n = sp::TryReceive(handle_, buffer, capacity)) return *n;
    if (sp::WaitReady(handle_, sp::Ready::kRead, SliceMs(slice))) continue;
    CheckDeadline(deadline, "Read timed out.");
    RunIdle(idle);
  }
}

void TcpSocket::Send(std::string_view bytes, Deadline deadline, milliseconds slice,
                     const IdleHook& idle) {
  if (!IsOpen()) sp::ThrowNotConnected();
  while (!bytes.empty()) {
    if (const auto n = sp::TrySend(handle_, bytes)) {
      bytes.remove_prefix(*n);
      continue;
    }
    if (sp::WaitReady(handle_, sp::Ready::kWrite, SliceMs(slice))) continue;
    CheckDeadline(deadline, "Write timed out.");
    RunIdle(idle);
    if (!IsOpen()) return;
  }
}

bool TcpSocket::Readable() const {
  if (!IsOpen()) return false;
  return sp::WaitReady(handle_, sp::Ready::kRead, 0);
}

std::string TcpSocket::LocalAddress() const {
  return sp::LocalEndpoint(handle_).address;
}

std::uint16_t TcpSocket::LocalPort() const {
  return sp::LocalEndpoint(handle_).port;
}

std::string TcpSocket::PeerAddress() const {
  return sp::PeerEndpoint(handle_).address;
}

// --- TcpListener ---

TcpListener TcpListener::Listen(const std::string& address, std::uint16_t port, int backlog) {
  TcpListener l;
  l.handle_ = sp::ListenOn(address, port, backlog);
  return l;
}

std::string TcpListener::Address() const {
  return sp::LocalEndpoint(handle_).address;
}

std::uint16_t TcpListener::Port() const {
  return sp::LocalEndpoint(handle_).port;
}

TcpSocket TcpListener::AcceptUnless(const TcpSocket& watched, Deadline deadline, milliseconds slice,
                                    const IdleHook& idle) {
  for (;;) {
    if (!IsOpen()) return TcpSocket();
    switch (sp::WaitArrival(handle_, watched.handle_, SliceMs(slice))) {
      case sp::Arrival::kNothing:
        CheckDeadline(deadline, "Accept timed out.");
        RunIdle(idle);
        break;
      // A connection that is already queued wins over the watched socket: a
      // quick server may connect, send and answer before we get here.
      case sp::Arrival::kConnection:
        if (OwnedHandle accepted = sp::TryAccept(handle_); accepted.IsOpen()) {
          return TcpSocket(std::move(accepted));
        }
        break;
      case sp::Arrival::kWatchedReadable:
        return TcpSocket();
    }
  }
}

}  // namespace korva::platform
