#include "platform/socket.h"

#include <algorithm>

#include "platform/windows/system_error.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

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

void CheckDeadline(Deadline deadline, const char* timedOut) {
  if (steady_clock::now() >= deadline) throw SocketTimeout(timedOut);
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
void MakeOurs(SOCKET s) {
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) ThrowLastError();
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

OwnedHandle NewStreamSocket() {
  StartWinsock();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) ThrowLastError();
  OwnedHandle handle(NativeHandle(static_cast<std::intptr_t>(s)), OwnedHandle::Kind::kSocket);
  MakeOurs(s);
  return handle;
}

enum class Wait { kRead, kWrite, kConnect };

// select() for at most the slice; true when the socket is ready (for a
// connect: finished, well or not).
bool WaitSlice(SOCKET s, Wait wait, int timeoutMs) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  if (wait == Wait::kConnect) FD_SET(s, &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int rc =
      ::select(0, wait == Wait::kRead ? &ready : nullptr, wait == Wait::kRead ? nullptr : &ready,
               wait == Wait::kConnect ? &failed : nullptr, &limit);
  if (rc == SOCKET_ERROR) ThrowLastError();
  return rc > 0;
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
  int len = sizeof sa;
  if (::getsockname(Sock(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowLastError();
  return sa;
}

sockaddr_in PeerName(const OwnedHandle& handle) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getpeername(Sock(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowLastError();
  return sa;
}

}  // namespace

bool IsNumericIPv4(std::string_view host) {
  in_addr a{};
  return ::inet_pton(AF_INET, std::string(host).c_str(), &a) == 1;
}

std::string ResolveIPv4(const std::string& host) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    throw SocketError(windows::SystemErrorText(static_cast<std::uint32_t>(rc)) + ": " + host + ".");
  }
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
  const SOCKET sock = Sock(s.handle_);
  if (::connect(sock, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return s;
  if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
  for (;;) {
    CheckDeadline(deadline, kTimedOut);
    const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
    if (WaitSlice(sock, Wait::kConnect, SliceMs(std::min(slice, left)))) break;
    CheckDeadline(deadline, kTimedOut);
    RunIdle(idle);
  }
  int error = 0;
  int len = sizeof error;
  if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
    ThrowLastError();
  }
  if (error != 0) ThrowError(error);
  return s;
}

std::size_t TcpSocket::Receive(char* buffer, std::size_t capacity, Deadline deadline,
                               milliseconds slice, const IdleHook& idle) {
  for (;;) {
    if (!IsOpen()) return 0;
    // Read first and wait only when nothing is there: while data streams in,
    // one call per piece.
    const int wanted = static_cast<int>(std::min<std::size_t>(capacity, 1 << 30));
    const int n = ::recv(Sock(handle_), buffer, wanted, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
    if (WaitSlice(Sock(handle_), Wait::kRead, SliceMs(slice))) continue;
    CheckDeadline(deadline, "Read timed out.");
    RunIdle(idle);
  }
}

void TcpSocket::Send(std::string_view bytes, Deadline deadline, milliseconds slice,
                     const IdleHook& idle) {
  if (!IsOpen()) ThrowError(WSAENOTCONN);
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
    const int n = ::send(Sock(handle_), bytes.data(), chunk, 0);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
    if (WaitSlice(Sock(handle_), Wait::kWrite, SliceMs(slice))) continue;
    CheckDeadline(deadline, "Write timed out.");
    RunIdle(idle);
    if (!IsOpen()) return;
  }
}

bool TcpSocket::Readable() const {
  if (!IsOpen()) return false;
  return WaitSlice(Sock(handle_), Wait::kRead, 0);
}

std::string TcpSocket::LocalAddress() const {
  return AddressText(LocalName(handle_));
}

std::uint16_t TcpSocket::LocalPort() const {
  return ::ntohs(LocalName(handle_).sin_port);
}

std::string TcpSocket::PeerAddress() const {
  return AddressText(PeerName(handle_));
}

// --- TcpListener ---

TcpListener TcpListener::Listen(const std::string& address, std::uint16_t port, int backlog) {
  const sockaddr_in sa = MakeAddress(address, port);
  TcpListener l;
  l.handle_ = NewStreamSocket();
  // Nobody else may take the same port beside us.
  BOOL exclusive = TRUE;
  ::setsockopt(Sock(l.handle_), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  if (::bind(Sock(l.handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    ThrowLastError();
  }
  if (::listen(Sock(l.handle_), backlog) != 0) ThrowLastError();
  return l;
}

std::string TcpListener::Address() const {
  return AddressText(LocalName(handle_));
}

std::uint16_t TcpListener::Port() const {
  return ::ntohs(LocalName(handle_).sin_port);
}

TcpSocket TcpListener::AcceptUnless(const TcpSocket& watched, Deadline deadline, milliseconds slice,
                                    const IdleHook& idle) {
  for (;;) {
    if (!IsOpen()) return TcpSocket();
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(Sock(handle_), &ready);
    if (watched.IsOpen()) FD_SET(Sock(watched.handle_), &ready);
    const int ms = SliceMs(slice);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    const int rc = ::select(0, &ready, nullptr, nullptr, &limit);
    if (rc == SOCKET_ERROR) ThrowLastError();
    if (rc == 0) {
      CheckDeadline(deadline, "Accept timed out.");
      RunIdle(idle);
      continue;
    }
    // A connection that is already queued wins over the watched socket: a
    // quick server may connect, send and answer before we get here.
    if (FD_ISSET(Sock(handle_), &ready)) {
      const SOCKET s = ::accept(Sock(handle_), nullptr, nullptr);
      if (s != INVALID_SOCKET) {
        OwnedHandle accepted(NativeHandle(static_cast<std::intptr_t>(s)),
                             OwnedHandle::Kind::kSocket);
        MakeOurs(s);
        return TcpSocket(std::move(accepted));
      }
      const int error = ::WSAGetLastError();
      if (error != WSAEWOULDBLOCK && error != WSAECONNRESET && error != WSAEINTR) {
        ThrowError(error);
      }
      continue;
    }
    if (watched.IsOpen() && FD_ISSET(Sock(watched.handle_), &ready)) return TcpSocket();
  }
}

}  // namespace korva::platform
