// The data connection of a transfer: the server's passive port, or our
// listener for its active connection, which only the server may make.
#include <utility>

#include "transfer/ftp_session.h"
#include "transfer/ftp_session_internal.h"

namespace korva::transfer {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr int kListenBacklog = 15;

std::uint16_t FtpSession::PassivePort() {
  const FtpReply& reply = Command("PASV", {227});
  return ParsePassiveReply(reply.lines.empty() ? "" : reply.lines.front()).port;
}

platform::TcpSocket FtpSession::ConnectData(std::uint16_t port) {
  // The data goes where the control connection goes, whatever address the
  // reply announced: a server must not send it to a third host.
  return platform::TcpSocket::Connect(
      control_.PeerAddress(), port, steady_clock::now() + connectLimit_, kConnectSlice, IdleHook());
}

void FtpSession::ListenActive() {
  listener_ = platform::TcpListener::Listen(control_.LocalAddress(), 0, kListenBacklog);
  Command(FormatPortCommand(listener_.Address(), listener_.Port()), {200});
}

bool FtpSession::AcceptActive(Transfer& transfer) {
  const std::string server = control_.PeerAddress();
  const platform::Deadline deadline = IdleDeadline();
  // The server's final reply, when it comes first, ends the wait; a
  // connection it made just before still counts.
  const platform::IdleHook idle = [&] {
    if (!TransferIdle(transfer)) TakeQueued(transfer, server);
  };
  // An abort closes the listener, and so does the connection taken.
  while (listener_.IsOpen()) {
    // Also a reply that came together with the one to the transfer command:
    // the reader holds it already, and the socket has nothing more to say.
    WatchControl(transfer);
    if (transfer.controlLost) std::rethrow_exception(transfer.controlLost);
    if (transfer.final) {
      // A quick server may connect, send, close and answer before we look.
      TakeQueued(transfer, server);
      break;
    }
    try {
      TakeConnection(transfer, server,
                     listener_.AcceptUnless(control_, deadline, kWaitSlice, idle));
    } catch (const platform::SocketTimeout&) {
      FailIdle("did not open the data connection within ");
    }
  }
  return transfer.connected;
}

void FtpSession::TakeConnection(Transfer& transfer, const std::string& server,
                                platform::TcpSocket connection) {
  if (!connection.IsOpen() || connection.PeerAddress() != server) return;
  data_ = std::move(connection);
  transfer.connected = true;
  listener_.Close();
}

void FtpSession::TakeQueued(Transfer& transfer, const std::string& server) {
  for (platform::TcpSocket queued = AcceptQueued(); queued.IsOpen() && listener_.IsOpen();
       queued = AcceptQueued()) {
    TakeConnection(transfer, server, std::move(queued));
  }
  listener_.Close();
}

platform::TcpSocket FtpSession::AcceptQueued() {
  try {
    return listener_.AcceptUnless(platform::TcpSocket(), steady_clock::now(), 0ms, nullptr);
  } catch (const platform::SocketTimeout&) {
    return platform::TcpSocket();
  }
}

}  // namespace korva::transfer
