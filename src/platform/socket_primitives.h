#pragma once
// What each system gives the socket layer (posix/socket.cpp and
// windows/socket.cpp): single steps that never wait longer than they are
// told and fail with SocketError in the system's own words. The deadlines,
// the wait slices, the idle hook and the timeout texts are the layer's own
// (socket.cpp), written once over these.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace korva::platform::socket_primitives {

// The first IPv4 address of a host name, as dotted text; none when the
// resolver knows the name but gives no IPv4 address. Throws SocketError in
// the resolver's words.
std::optional<std::string> FirstIPv4Address(const std::string& host);

// A non-blocking IPv4 stream socket that programs we start do not inherit.
OwnedHandle NewStreamSocket();
// Starts connecting to a dotted IPv4 address; true when it is made already.
bool StartConnect(const OwnedHandle& socket, const std::string& address, std::uint16_t port);
// Once a connect is over: throws the error it ended with, if any.
void CheckConnected(const OwnedHandle& socket);

// What is there to read (0: the peer closed); none when nothing is.
std::optional<std::size_t> TryReceive(const OwnedHandle& socket, char* buffer,
                                      std::size_t capacity);
// How many bytes went out; none when the peer's window is full.
std::optional<std::size_t> TrySend(const OwnedHandle& socket, std::string_view bytes);
[[noreturn]] void ThrowNotConnected();

enum class Ready { kRead, kWrite, kConnectDone };
// Waits at most `milliseconds` for the socket; true when it is ready.
bool WaitReady(const OwnedHandle& socket, Ready ready, int milliseconds);

// Listens on a dotted IPv4 address; port 0 lets the system choose.
OwnedHandle ListenOn(const std::string& address, std::uint16_t port, int backlog);
enum class Arrival { kNothing, kConnection, kWatchedReadable };
// Waits at most `milliseconds` for a connection on the listener or for the
// watched socket (which may be unopened) to become readable; a connection
// wins when both come.
Arrival WaitArrival(const OwnedHandle& listener, const OwnedHandle& watched, int milliseconds);
// A connection from the listener's queue; unopened when there is none.
OwnedHandle TryAccept(const OwnedHandle& listener);

struct Endpoint {
  std::string address;  // dotted IPv4
  std::uint16_t port = 0;
};
Endpoint LocalEndpoint(const OwnedHandle& socket);
Endpoint PeerEndpoint(const OwnedHandle& socket);

}  // namespace korva::platform::socket_primitives
