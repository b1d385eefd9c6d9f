#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/files.h"

namespace korva::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

[[noreturn]] void ThrowErrno(int error) {
  throw SocketError(SocketErrorText(error));
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

int NewStreamSocket() {
  // Non-blocking: every wait goes through poll, so that it can be sliced.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowErrno(errno);
  return fd;
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

sockaddr_in LocalName(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowErrno(errno);
  return sa;
}

}  // namespace

std::string SocketErrorText(int error) {
  return "Socket Error # " + std::to_string(error) + "\r\n" + SystemErrorText(error) + ".";
}

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

TcpSocket::~TcpSocket() {
  Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void TcpSocket::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

TcpSocket TcpSocket::Connect(const std::string& address, std::uint16_t port, milliseconds limit,
                             milliseconds slice, const IdleHook& idle) {
  const sockaddr_in sa = MakeAddress(address, port);
  TcpSocket s(NewStreamSocket());
  if (::connect(s.fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return s;
  if (errno != EINPROGRESS && errno != EINTR) ThrowErrno(errno);
  const auto deadline = steady_clock::now() + limit;
  for (;;) {
    const auto now = steady_clock::now();
    if (now >= deadline) throw SocketError("Connect timed out.");
    const auto left = std::chrono::ceil<milliseconds>(deadline - now);
    if (PollOne(s.fd_, POLLOUT, SliceMs(std::min(slice, left))) > 0) break;
    if (steady_clock::now() >= deadline) throw SocketError("Connect timed out.");
    RunIdle(idle);
  }
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(s.fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) ThrowErrno(errno);
  if (error != 0) ThrowErrno(error);
  return s;
}

std::size_t TcpSocket::Receive(char* buffer, std::size_t capacity, milliseconds slice,
                               const IdleHook& idle) {
  return *ReceiveUntil(buffer, capacity, steady_clock::time_point::max(), slice, idle);
}

std::optional<std::size_t> TcpSocket::ReceiveUntil(char* buffer, std::size_t capacity,
                                                   steady_clock::time_point deadline,
                                                   milliseconds slice, const IdleHook& idle) {
  for (;;) {
    if (fd_ < 0) return 0;
    // Read first and poll only when nothing is there: while data streams in,
    // one system call per piece.
    const ssize_t n = ::recv(fd_, buffer, capacity, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
    if (PollOne(fd_, POLLIN, SliceMs(slice)) > 0) continue;
    if (steady_clock::now() >= deadline) return std::nullopt;
    RunIdle(idle);
  }
}

void TcpSocket::Send(std::string_view bytes, milliseconds slice, const IdleHook& idle) {
  while (!bytes.empty()) {
    if (fd_ < 0) ThrowErrno(ENOTCONN);
    // MSG_NOSIGNAL: a peer that went away is an error here, not SIGPIPE.
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
    if (PollOne(fd_, POLLOUT, SliceMs(slice)) == 0) RunIdle(idle);
  }
}

bool TcpSocket::Readable() const {
  if (fd_ < 0) return false;
  return PollOne(fd_, POLLIN, 0) > 0;
}

std::string TcpSocket::LocalAddress() const {
  return AddressText(LocalName(fd_));
}

std::uint16_t TcpSocket::LocalPort() const {
  return ntohs(LocalName(fd_).sin_port);
}

// --- TcpListener ---

TcpListener::~TcpListener() {
  Close();
}

TcpListener::TcpListener(TcpListener&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void TcpListener::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

TcpListener TcpListener::Listen(const std::string& address, std::uint16_t port, int backlog) {
  const sockaddr_in sa = MakeAddress(address, port);
  TcpListener l;
  l.fd_ = NewStreamSocket();
  if (::bind(l.fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) ThrowErrno(errno);
  if (::listen(l.fd_, backlog) != 0) ThrowErrno(errno);
  return l;
}

std::string TcpListener::Address() const {
  return AddressText(LocalName(fd_));
}

std::uint16_t TcpListener::Port() const {
  return ntohs(LocalName(fd_).sin_port);
}

TcpSocket TcpListener::AcceptUnless(const TcpSocket& watched, milliseconds slice,
                                    const IdleHook& idle) {
  for (;;) {
    if (fd_ < 0) ThrowErrno(EBADF);
    pollfd p[2] = {{fd_, POLLIN, 0}, {watched.fd_, POLLIN, 0}};
    const int rc = PollSlice(p, 2, SliceMs(slice));
    if (rc == 0) {
      RunIdle(idle);
      continue;
    }
    // A connection that is already queued wins over the watched socket: a
    // quick server may connect, send and answer before we get here.
    if (p[0].revents != 0) {
      const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) return TcpSocket(fd);
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
        ThrowErrno(errno);
      }
      continue;
    }
    if (p[1].revents != 0) return TcpSocket();
  }
}

}  // namespace korva::platform
