#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/system_error.h"

namespace korva::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The network layer's wording of an errno value.
[[noreturn]] void ThrowErrno(int error) {
  throw SocketError("Socket Error # " + std::to_string(error) + "\r\n" +
                    posix::SystemErrorText(error) + ".");
}

int Fd(const OwnedHandle& handle) {
  return static_cast<int>(handle.Get().Value());
}

void CheckDeadline(Deadline deadline, const char* timedOut) {
  if (steady_clock::now() >= deadline) throw SocketTimeout(timedOut);
}

sockaddr_in MakeAddress(const std::string& address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    throw SocketError("Invalid IPv4 address: " + address);
  }
  return sa;
}

OwnedHandle NewStreamSocket() {
  // Non-blocking: every wait goes through poll, so that it can be sliced.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowErrno(errno);
  return OwnedHandle(NativeHandle(fd), OwnedHandle::Kind::kSocket);
}

// poll() for the whole slice; the number of ready descriptors (0: the slice
// ran out). A signal does not end the slice: the idle hook would run at every
// signal instead of once a slice.
int PollSlice(pollfd* fds, nfds_t count, int timeoutMs) {
  const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
  int wait = timeoutMs;
  for (;;) {
    const int rc = ::poll(fds, count, wait);
    if (rc >= 0) return rc;
    if (errno != EINTR) ThrowErrno(errno);
    const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
    wait = static_cast<int>(std::max<milliseconds::rep>(0, left.count()));
  }
}

int PollOne(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  return PollSlice(&p, 1, timeoutMs);
}

int SliceMs(milliseconds slice) {
  return static_cast<int>(std::max<milliseconds::rep>(1, slice.count()));
}

void RunIdle(const IdleHook& idle) {
  if (idle) idle();
}

std::string AddressText(const sockaddr_in& sa) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
  return text;
}

sockaddr_in LocalName(const OwnedHandle& handle) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(Fd(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowErrno(errno);
  return sa;
}

sockaddr_in PeerName(const OwnedHandle& handle) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(Fd(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowErrno(errno);
  return sa;
}

}  // namespace

bool IsNumericIPv4(std::string_view host) {
  in_addr a{};
  return ::inet_pton(AF_INET, std::string(host).c_str(), &a) == 1;
}

std::string ResolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc == EAI_SYSTEM) ThrowErrno(errno);
  if (rc != 0) throw SocketError(std::string(::gai_strerror(rc)) + ": " + host + ".");
  std::string address;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      address = AddressText(*reinterpret_cast<const sockaddr_in*>(a->ai_addr));
      break;
    }
  }
  ::freeaddrinfo(found);
  if (address.empty()) throw SocketError("No IPv4 address for " + host + ".");
  return address;
}

// --- TcpSocket ---

TcpSocket TcpSocket::Connect(const std::string& address, std::uint16_t port, Deadline deadline,
                             milliseconds slice, const IdleHook& idle) {
  constexpr const char* kTimedOut = "Connect timed out.";
  const sockaddr_in sa = MakeAddress(address, port);
  TcpSocket s(NewStreamSocket());
  if (::connect(Fd(s.handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return s;
  if (errno != EINPROGRESS && errno != EINTR) ThrowErrno(errno);
  for (;;) {
    CheckDeadline(deadline, kTimedOut);
    const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
    if (PollOne(Fd(s.handle_), POLLOUT, SliceMs(std::min(slice, left))) > 0) break;
    CheckDeadline(deadline, kTimedOut);
    RunIdle(idle);
  }
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(Fd(s.handle_), SOL_SOCKET, SO_ERROR, &error, &len) != 0) ThrowErrno(errno);
  if (error != 0) ThrowErrno(error);
  return s;
}

std::size_t TcpSocket::Receive(char* buffer, std::size_t capacity, Deadline deadline,
                               milliseconds slice, const IdleHook& idle) {
  for (;;) {
    if (!IsOpen()) return 0;
    // Read first and poll only when nothing is there: while data streams in,
    // one system call per piece.
    const ssize_t n = ::recv(Fd(handle_), buffer, capacity, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
    if (PollOne(Fd(handle_), POLLIN, SliceMs(slice)) > 0) continue;
    CheckDeadline(deadline, "Read timed out.");
    RunIdle(idle);
  }
}

void TcpSocket::Send(std::string_view bytes, Deadline deadline, milliseconds slice,
                     const IdleHook& idle) {
  if (!IsOpen()) ThrowErrno(ENOTCONN);
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a peer that went away is an error here, not SIGPIPE.
    const ssize_t n = ::send(Fd(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
    if (PollOne(Fd(handle_), POLLOUT, SliceMs(slice)) > 0) continue;
    CheckDeadline(deadline, "Write timed out.");
    RunIdle(idle);
    if (!IsOpen()) return;
  }
}

bool TcpSocket::Readable() const {
  if (!IsOpen()) return false;
  return PollOne(Fd(handle_), POLLIN, 0) > 0;
}

std::string TcpSocket::LocalAddress() const {
  return AddressText(LocalName(handle_));
}

std::uint16_t TcpSocket::LocalPort() const {
  return ntohs(LocalName(handle_).sin_port);
}

std::string TcpSocket::PeerAddress() const {
  return AddressText(PeerName(handle_));
}

// --- TcpListener ---

TcpListener TcpListener::Listen(const std::string& address, std::uint16_t port, int backlog) {
  const sockaddr_in sa = MakeAddress(address, port);
  TcpListener l;
  l.handle_ = NewStreamSocket();
  if (::bind(Fd(l.handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    ThrowErrno(errno);
  }
  if (::listen(Fd(l.handle_), backlog) != 0) ThrowErrno(errno);
  return l;
}

std::string TcpListener::Address() const {
  return AddressText(LocalName(handle_));
}

std::uint16_t TcpListener::Port() const {
  return ntohs(LocalName(handle_).sin_port);
}

TcpSocket TcpListener::AcceptUnless(const TcpSocket& watched, Deadline deadline, milliseconds slice,
                                    const IdleHook& idle) {
  for (;;) {
    if (!IsOpen()) return TcpSocket();
    pollfd p[2] = {{Fd(handle_), POLLIN, 0}, {Fd(watched.handle_), POLLIN, 0}};
    const int rc = PollSlice(p, 2, SliceMs(slice));
    if (rc == 0) {
      CheckDeadline(deadline, "Accept timed out.");
      RunIdle(idle);
      continue;
    }
    // A connection that is already queued wins over the watched socket: a
    // quick server may connect, send and answer before we get here.
    if (p[0].revents != 0) {
      const int fd = ::accept4(Fd(handle_), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) return TcpSocket(OwnedHandle(NativeHandle(fd), OwnedHandle::Kind::kSocket));
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
        ThrowErrno(errno);
      }
      continue;
    }
    if (p[1].revents != 0) return TcpSocket();
  }
}

}  // namespace korva::platform
