#pragma once
// TCP client and listening sockets (IPv4, as FTP's PORT and PASV speak it).
// Every wait is cut into slices: when a slice ends with nothing having
// happened, the caller's idle hook runs. That is how the window keeps handling
// input while the network is slow, on the one thread the program has.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/handle.h"
#include "text/error.h"

namespace korva::platform {

// A failure of the network layer, worded by the operating system:
// "Socket Error # 111\r\nConnection refused."
class SocketError : public KorvaError {
 public:
  using KorvaError::KorvaError;
};

// A wait that reached its deadline: "Connect timed out.", "Read timed
// out.", "Write timed out." or "Accept timed out.".
class SocketTimeout : public SocketError {
 public:
  using SocketError::SocketError;
};

// Every blocking operation waits at most until its deadline; kNoDeadline
// waits without limit.
using Deadline = std::chrono::steady_clock::time_point;
inline constexpr Deadline kNoDeadline = Deadline::max();

// Runs at the end of each wait slice in which nothing arrived or left.
using IdleHook = std::function<void()>;

// True for a dotted IPv4 address such as "127.0.0.1".
bool IsNumericIPv4(std::string_view host);
// The first IPv4 address of a host name, as dotted text. Blocks while the
// resolver works; throws SocketError with the resolver's wording.
std::string ResolveIPv4(const std::string& host);

// Each wait below is cut into slices of `slice`; the idle hook runs after
// every slice in which nothing happened, and the deadline is looked at then
// (SocketTimeout once it has passed).
class TcpSocket {
 public:
  TcpSocket() = default;
  TcpSocket(TcpSocket&& other) noexcept = default;
  TcpSocket& operator=(TcpSocket&& other) noexcept = default;

  // Connects to a dotted IPv4 address; the last slice ends at the deadline.
  static TcpSocket Connect(const std::string& address, std::uint16_t port, Deadline deadline,
                           std::chrono::milliseconds slice, const IdleHook& idle);

  bool IsOpen() const { return handle_.IsOpen(); }
  // Safe to call from inside an idle hook of this socket's own wait: the wait
  // then ends as if the peer had closed.
  void Close() { handle_.Reset(); }

  // Waits until bytes or the peer's close arrive. Returns the number of
  // bytes read (at most `capacity`); 0 when the peer closed the connection
  // or the socket was closed meanwhile.
  std::size_t Receive(char* buffer, std::size_t capacity, Deadline deadline,
                      std::chrono::milliseconds slice, const IdleHook& idle);
  // Writes every byte, waiting while the peer's window is full. Some of
  // them may be gone when it times out. Closing the socket from the idle
  // hook ends the wait with the rest unsent.
  void Send(std::string_view bytes, Deadline deadline, std::chrono::milliseconds slice,
            const IdleHook& idle);

  // Whether bytes or the peer's close are waiting to be read (no wait).
  bool Readable() const;

  std::string LocalAddress() const;
  std::uint16_t LocalPort() const;
  // The dotted address of the other end.
  std::string PeerAddress() const;

 private:
  friend class TcpListener;
  explicit TcpSocket(OwnedHandle handle) : handle_(std::move(handle)) {}
  OwnedHandle handle_;
};

class TcpListener {
 public:
  TcpListener() = default;
  TcpListener(TcpListener&& other) noexcept = default;
  TcpListener& operator=(TcpListener&& other) noexcept = default;

  // Listens on a dotted IPv4 address; port 0 lets the system choose.
  static TcpListener Listen(const std::string& address, std::uint16_t port, int backlog);

  bool IsOpen() const { return handle_.IsOpen(); }
  void Close() { handle_.Reset(); }
  std::string Address() const;
  std::uint16_t Port() const;

  // Waits for one connection unless `watched` becomes readable first (its
  // peer said something or went away) or the listener is closed meanwhile
  // (from the idle hook): then returns an unopened socket and leaves the
  // connection, if any, in the queue.
  TcpSocket AcceptUnless(const TcpSocket& watched, Deadline deadline,
                         std::chrono::milliseconds slice, const IdleHook& idle);

 private:
  OwnedHandle handle_;
};

}  // namespace korva::platform
