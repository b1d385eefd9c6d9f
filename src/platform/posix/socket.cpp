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
#include "platform/socket_primitives.h"

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

sockaddr_in MakeAddress(const std::string& address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    throw SocketError("Invalid IPv4 address: " + address);
  }
  return sa;
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

std::string AddressText(const sockaddr_in& sa) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
  return text;
}

socket_primitives::Endpoint EndpointOf(const sockaddr_in& sa) {
  return {AddressText(sa), ntohs(sa.sin_port)};
}

// Nothing to do without waiting: the caller waits, in slices.
bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace

bool IsNumericIPv4(std::string_view host) {
  in_addr a{};
  return ::inet_pton(AF_INET, std::string(host).c_str(), &a) == 1;
}

namespace socket_primitives {

std::optional<std::string> FirstIPv4Address(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc == EAI_SYSTEM) ThrowErrno(errno);
  if (rc != 0) throw SocketError(std::string(::gai_strerror(rc)) + ": " + host + ".");
  // Asked for IPv4 alone, the resolver gives nothing else.
  std::optional<std::string> address;
  if (found) address = AddressText(*reinterpret_cast<const sockaddr_in*>(found->ai_addr));
  ::freeaddrinfo(found);
  return address;
}

OwnedHandle NewStreamSocket() {
  // Non-blocking: every wait goes through poll, so that it can be sliced.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowErrno(errno);
  return OwnedHandle(NativeHandle(fd), OwnedHandle::Kind::kSocket);
}

bool StartConnect(const OwnedHandle& socket, const std::string& address, std::uint16_t port) {
  const sockaddr_in sa = MakeAddress(address, port);
  if (::connect(Fd(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return true;
  if (errno != EINPROGRESS && errno != EINTR) ThrowErrno(errno);
  return false;
}

void CheckConnected(const OwnedHandle& socket) {
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &len) != 0) ThrowErrno(errno);
  if (error != 0) ThrowErrno(error);
}

std::optional<std::size_t> TryReceive(const OwnedHandle& socket, char* buffer,
                                      std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::recv(Fd(socket), buffer, capacity, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    if (WouldBlock(errno)) return std::nullopt;
    ThrowErrno(errno);
  }
}

std::optional<std::size_t> TrySend(const OwnedHandle& socket, std::string_view bytes) {
  for (;;) {
    // MSG_NOSIGNAL: a peer that went away is an error here, not SIGPIPE.
    const ssize_t n = ::send(Fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    if (WouldBlock(errno)) return std::nullopt;
    ThrowErrno(errno);
  }
}

void ThrowNotConnected() {
  ThrowErrno(ENOTCONN);
}

bool WaitReady(const OwnedHandle& socket, Ready ready, int milliseconds) {
  // A finished connect, well or not, makes the socket writable.
  pollfd p{Fd(socket), static_cast<short>(ready == Ready::kRead ? POLLIN : POLLOUT), 0};
  return PollSlice(&p, 1, milliseconds) > 0;
}

OwnedHandle ListenOn(const std::string& address, std::uint16_t port, int backlog) {
  const sockaddr_in sa = MakeAddress(address, port);
  OwnedHandle handle = NewStreamSocket();
  if (::bind(Fd(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    ThrowErrno(errno);
  }
  if (::listen(Fd(handle), backlog) != 0) ThrowErrno(errno);
  return handle;
}

Arrival WaitArrival(const OwnedHandle& listener, const OwnedHandle& watched, int milliseconds) {
  // An unopened watched socket is -1, which poll passes over.
  pollfd p[2] = {{Fd(listener), POLLIN, 0}, {Fd(watched), POLLIN, 0}};
  if (PollSlice(p, 2, milliseconds) == 0) return Arrival::kNothing;
  if (p[0].revents != 0) return Arrival::kConnection;
  return p[1].revents != 0 ? Arrival::kWatchedReadable : Arrival::kNothing;
}

OwnedHandle TryAccept(const OwnedHandle& listener) {
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) return OwnedHandle(NativeHandle(fd), OwnedHandle::Kind::kSocket);
  // The connection went away before we took it: wait for the next.
  if (!WouldBlock(errno) && errno != EINTR && errno != ECONNABORTED) ThrowErrno(errno);
  return OwnedHandle();
}

Endpoint LocalEndpoint(const OwnedHandle& socket) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowErrno(errno);
  return EndpointOf(sa);
}

Endpoint PeerEndpoint(const OwnedHandle& socket) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(Fd(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowErrno(errno);
  return EndpointOf(sa);
}

}  // namespace socket_primitives
}  // namespace korva::platform
