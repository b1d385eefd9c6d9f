#include "platform/socket.h"

#include <algorithm>

#include "platform/socket_primitives.h"
#include "platform/windows/system_error.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {
namespace {

// Winsock is started once for the process and never stopped: sockets may be
// open until the very end.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw SocketError("Socket Error # 10091\r\nWinsock could not be started.");
}

// The network layer's wording of a Winsock error code.
[[noreturn]] void ThrowError(int error) {
  throw SocketError("Socket Error # " + std::to_string(error) + "\r\n" +
                    windows::SystemErrorText(static_cast<std::uint32_t>(error)) + ".");
}

[[noreturn]] void ThrowLastError() {
  ThrowError(::WSAGetLastError());
}

SOCKET Sock(const OwnedHandle& handle) {
  return static_cast<SOCKET>(handle.Get().Value());
}

sockaddr_in MakeAddress(const std::string& address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = ::htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    throw SocketError("Invalid IPv4 address: " + address);
  }
  return sa;
}

// Non-blocking, and not inherited by programs we start: every wait goes
// through select, so that it can be sliced.
OwnedHandle MakeOurs(SOCKET s) {
  OwnedHandle handle(NativeHandle(static_cast<std::intptr_t>(s)), OwnedHandle::Kind::kSocket);
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) ThrowLastError();
  ::SetHandleInformation(windows::FromInteger<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return handle;
}

timeval Limit(int milliseconds) {
  return timeval{milliseconds / 1000, (milliseconds % 1000) * 1000};
}

// Winsock counts bytes in an int.
int Clamped(std::size_t count) {
  return static_cast<int>(std::min<std::size_t>(count, 1 << 30));
}

std::string AddressText(const sockaddr_in& sa) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
  return text;
}

socket_primitives::Endpoint EndpointOf(const sockaddr_in& sa) {
  return {AddressText(sa), ::ntohs(sa.sin_port)};
}

}  // namespace

bool IsNumericIPv4(std::string_view host) {
  in_addr a{};
  return ::inet_pton(AF_INET, std::string(host).c_str(), &a) == 1;
}

namespace socket_primitives {

std::optional<std::string> FirstIPv4Address(const std::string& host) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    throw SocketError(windows::SystemErrorText(static_cast<std::uint32_t>(rc)) + ": " + host + ".");
  }
  // Asked for IPv4 alone, the resolver gives nothing else.
  std::optional<std::string> address;
  if (found) address = AddressText(*reinterpret_cast<const sockaddr_in*>(found->ai_addr));
  ::freeaddrinfo(found);
  return address;
}

OwnedHandle NewStreamSocket() {
  StartWinsock();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) ThrowLastError();
  return MakeOurs(s);
}

bool StartConnect(const OwnedHandle& socket, const std::string& address, std::uint16_t port) {
  const sockaddr_in sa = MakeAddress(address, port);
  if (::connect(Sock(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return true;
  if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
  return false;
}

void CheckConnected(const OwnedHandle& socket) {
  int error = 0;
  int len = sizeof error;
  if (::getsockopt(Sock(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) !=
      0) {
    ThrowLastError();
  }
  if (error != 0) ThrowError(error);
}

std::optional<std::size_t> TryReceive(const OwnedHandle& socket, char* buffer,
                                      std::size_t capacity) {
  const int n = ::recv(Sock(socket), buffer, Clamped(capacity), 0);
  if (n >= 0) return static_cast<std::size_t>(n);
  if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
  return std::nullopt;
}

std::optional<std::size_t> TrySend(const OwnedHandle& socket, std::string_view bytes) {
  const int n = ::send(Sock(socket), bytes.data(), Clamped(bytes.size()), 0);
  if (n >= 0) return static_cast<std::size_t>(n);
  if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
  return std::nullopt;
}

void ThrowNotConnected() {
  ThrowError(WSAENOTCONN);
}

bool WaitReady(const OwnedHandle& socket, Ready ready, int milliseconds) {
  const SOCKET s = Sock(socket);
  fd_set set;
  fd_set failed;
  FD_ZERO(&set);
  FD_ZERO(&failed);
  FD_SET(s, &set);
  // A connect that failed shows in the exception set, not as writable.
  if (ready == Ready::kConnectDone) FD_SET(s, &failed);
  timeval limit = Limit(milliseconds);
  const bool read = ready == Ready::kRead;
  const int rc = ::select(0, read ? &set : nullptr, read ? nullptr : &set,
                          ready == Ready::kConnectDone ? &failed : nullptr, &limit);
  if (rc == SOCKET_ERROR) ThrowLastError();
  return rc > 0;
}

OwnedHandle ListenOn(const std::string& address, std::uint16_t port, int backlog) {
  const sockaddr_in sa = MakeAddress(address, port);
  OwnedHandle handle = NewStreamSocket();
  // Nobody else may take the same port beside us.
  BOOL exclusive = TRUE;
  ::setsockopt(Sock(handle), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  if (::bind(Sock(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    ThrowLastError();
  }
  if (::listen(Sock(handle), backlog) != 0) ThrowLastError();
  return handle;
}

Arrival WaitArrival(const OwnedHandle& listener, const OwnedHandle& watched, int milliseconds) {
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(Sock(listener), &ready);
  if (watched.IsOpen()) FD_SET(Sock(watched), &ready);
  timeval limit = Limit(milliseconds);
  const int rc = ::select(0, &ready, nullptr, nullptr, &limit);
  if (rc == SOCKET_ERROR) ThrowLastError();
  if (rc == 0) return Arrival::kNothing;
  if (FD_ISSET(Sock(listener), &ready)) return Arrival::kConnection;
  return watched.IsOpen() && FD_ISSET(Sock(watched), &ready) ? Arrival::kWatchedReadable
                                                             : Arrival::kNothing;
}

OwnedHandle TryAccept(const OwnedHandle& listener) {
  const SOCKET s = ::accept(Sock(listener), nullptr, nullptr);
  if (s != INVALID_SOCKET) return MakeOurs(s);
  // The connection went away before we took it: wait for the next.
  const int error = ::WSAGetLastError();
  if (error != WSAEWOULDBLOCK && error != WSAECONNRESET && error != WSAEINTR) ThrowError(error);
  return OwnedHandle();
}

Endpoint LocalEndpoint(const OwnedHandle& socket) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowLastError();
  return EndpointOf(sa);
}

Endpoint PeerEndpoint(const OwnedHandle& socket) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getpeername(Sock(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowLastError();
  return EndpointOf(sa);
}

}  // namespace socket_primitives
}  // namespace korva::platform
