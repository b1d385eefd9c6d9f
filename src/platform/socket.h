#pragma once
// TCP client and listening sockets (IPv4, as FTP's PORT and PASV speak it).
// Every wait is cut into slices: when a slice ends with nothing having
// happened, the caller's idle hook runs. That is how the window keeps handling
// input while the network is slow, on the one thread the program has.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "text/error.h"

namespace korva::platform {

// A failure of the network layer, worded by the operating system.
class SocketError : public KorvaError {
 public:
  using KorvaError::KorvaError;
};

// Runs at the end of each wait slice in which nothing arrived or left.
using IdleHook = std::function<void()>;

// The network layer's wording of an errno value:
// "Socket Error # 111\r\nConnection refused."
std::string SocketErrorText(int error);

// True for a dotted IPv4 address such as "127.0.0.1".
bool IsNumericIPv4(std::string_view host);
// The first IPv4 address of a host name, as dotted text. Blocks while the
// resolver works; throws SocketError with the resolver's wording.
std::string ResolveIPv4(const std::string& host);

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to a dotted IPv4 address. Gives up after `limit` with
  // "Connect timed out."; `idle` runs after every `slice`.
  static TcpSocket Connect(const std::string& address, std::uint16_t port,
                           std::chrono::milliseconds limit, std::chrono::milliseconds slice,
                           const IdleHook& idle);

  bool IsOpen() const { return fd_ >= 0; }
  // Safe to call from inside an idle hook of this socket's own wait: the wait
  // then ends as if the peer had closed.
  void Close();

  // Waits until bytes or the peer's close arrive, without a time limit.
  // Returns the number of bytes read (at most `capacity`); 0 when the peer
  // closed the connection or the socket was closed meanwhile.
  std::size_t Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds slice,
                      const IdleHook& idle);
  // As Receive, but gives up at `deadline` and then returns nullopt.
  std::optional<std::size_t> ReceiveUntil(char* buffer, std::size_t capacity,
                                          std::chrono::steady_clock::time_point deadline,
                                          std::chrono::milliseconds slice, const IdleHook& idle);
  // Writes every byte, waiting while the peer's window is full.
  void Send(std::string_view bytes, std::chrono::milliseconds slice, const IdleHook& idle);

  // Whether bytes or the peer's close are waiting to be read (no wait).
  bool Readable() const;

  std::string LocalAddress() const;
  std::uint16_t LocalPort() const;

 private:
  friend class TcpListener;
  explicit TcpSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(TcpListener&& other) noexcept;
  TcpListener& operator=(TcpListener&& other) noexcept;
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on a dotted IPv4 address; port 0 lets the system choose.
  static TcpListener Listen(const std::string& address, std::uint16_t port, int backlog);

  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  std::string Address() const;
  std::uint16_t Port() const;

  // Waits for one connection, without a time limit, unless `watched` becomes
  // readable first (its peer said something or went away): then returns an
  // unopened socket and leaves the connection, if any, in the queue.
  TcpSocket AcceptUnless(const TcpSocket& watched, std::chrono::milliseconds slice,
                         const IdleHook& idle);

 private:
  int fd_ = -1;
};

}  // namespace korva::platform
