#include "transfer/ftp_session.h"

#include <optional>
#include <utility>

#include "text/strings.h"
#include "transfer/ftp_session_internal.h"

namespace korva::transfer {

using std::chrono::steady_clock;

void CheckArgument(std::string_view argument) {
  if (argument.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    throw KorvaError("Invalid character in FTP command argument: " + QuoteLine(argument));
  }
}

FtpSession::FtpSession(std::string host, std::uint16_t port)
    : host_(std::move(host)), port_(port) {}

FtpSession::~FtpSession() {
  CloseConnections();
}

void FtpSession::SetServer(std::string host, std::uint16_t port) {
  host_ = std::move(host);
  port_ = port;
}

void FtpSession::Status(const std::string& text) {
  if (events_) events_->OnStatus(text);
}

void FtpSession::Idle() {
  if (waitHook_) waitHook_();
}

platform::IdleHook FtpSession::IdleHook() {
  return [this] { Idle(); };
}

platform::Deadline FtpSession::IdleDeadline() const {
  return steady_clock::now() + idleLimit_;
}

std::string FtpSession::IdleLimitText() const {
  const auto ms = idleLimit_.count();
  if (ms % 1000 != 0) return std::to_string(ms) + " milliseconds";
  return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
}

void FtpSession::FailIdle(const std::string& what) {
  CloseConnections();
  throw platform::SocketTimeout("The FTP server " + what + IdleLimitText() + ".");
}

void FtpSession::CloseConnections() noexcept {
  data_.Close();
  listener_.Close();
  CloseControl();
}

void FtpSession::CloseControl() noexcept {
  control_.Close();
  reader_.Clear();
}

bool FtpSession::IsConnected() const {
  if (!control_.IsOpen()) return false;
  return busy_ || (!reader_.HasUnread() && !control_.Readable());
}

void FtpSession::RequireConnected() {
  if (control_.IsOpen() && (reader_.HasUnread() || control_.Readable())) {
    // Outside an operation the server speaks only to end the session; its
    // last words, when they make a whole reply, are this operation's failure.
    // They may have come with the previous operation's last reply.
    std::optional<FtpReply> lastWords;
    try {
      for (;;) {
        if (TakeReply()) {
          lastWords = reply_;
          break;
        }
        if (!ReceiveControlNow()) break;
      }
    } catch (const platform::SocketError&) {
      // Gone: what it said before going is all there is.
    }
    CloseConnections();
    if (lastWords) throw FtpReplyError(*lastWords);
  }
  if (!control_.IsOpen()) throw KorvaError("Not connected.");
}

// --- the dialogue ---

void FtpSession::SendLine(std::string_view line) {
  if (!control_.IsOpen()) throw KorvaError("Not connected.");
  CheckArgument(line);
  std::string bytes(line);
  bytes += "\r\n";
  try {
    control_.Send(bytes, IdleDeadline(), kWaitSlice, IdleHook());
  } catch (const platform::SocketTimeout&) {
    FailIdle("did not answer for ");
  } catch (...) {
    // Part of the line may be out: nothing said after it would be understood.
    CloseConnections();
    throw;
  }
  // Closed by an idle slice (an abort whose ABOR could not go out whole).
  if (!control_.IsOpen()) throw KorvaError("Not connected.");
}

void FtpSession::ReceiveControl(platform::Deadline deadline, const platform::IdleHook& idle) {
  if (!control_.IsOpen()) throw KorvaError("Not connected.");
  char piece[4096];
  std::size_t n = 0;
  try {
    n = control_.Receive(piece, sizeof piece, deadline, kWaitSlice, idle);
  } catch (const platform::SocketTimeout&) {
    throw;
  } catch (...) {
    CloseControl();
    throw;
  }
  if (n == 0) {
    CloseControl();
    throw platform::SocketError("The FTP server closed the connection.");
  }
  reader_.Feed(std::string_view(piece, n));
}

bool FtpSession::ReceiveControlNow() {
  if (!control_.IsOpen() || !control_.Readable()) return false;
  try {
    // What is there is taken before a passed deadline counts.
    ReceiveControl(steady_clock::now(), nullptr);
  } catch (const platform::SocketTimeout&) {
    return false;
  }
  return true;
}

bool FtpSession::TakeReply(bool final) {
  std::optional<FtpReply> reply;
  try {
    reply = final ? reader_.TakeFinal() : reader_.Take();
  } catch (const KorvaError&) {
    // The dialogue is out of step: nothing the server says next is understood.
    CloseConnections();
    throw;
  }
  if (!reply) return false;
  reply_ = std::move(*reply);
  // "Service not available, closing control connection": in answer to
  // anything, and the session is over.
  if (reply_.code == 421) CloseConnections();
  return true;
}

const FtpReply& FtpSession::ReadAnyReply(bool final) {
  while (!TakeReply(final)) {
    try {
      ReceiveControl(IdleDeadline(), IdleHook());
    } catch (const platform::SocketTimeout&) {
      FailIdle("did not answer for ");
    }
  }
  return reply_;
}

const FtpReply& FtpSession::ReadReply(std::initializer_list<int> accepted) {
  ReadAnyReply(false);
  if (!Accepts(accepted, reply_.code)) throw FtpReplyError(reply_);
  return reply_;
}

const FtpReply& FtpSession::ReadFinalReply(std::initializer_list<int> accepted) {
  ReadAnyReply(true);
  if (!Accepts(accepted, reply_.code)) throw FtpReplyError(reply_);
  return reply_;
}

const FtpReply& FtpSession::Command(std::string_view line, std::initializer_list<int> accepted) {
  SendLine(line);
  return ReadReply(accepted);
}

// --- opening and closing ---

void FtpSession::Connect() {
  std::string address = host_;
  if (!platform::IsNumericIPv4(host_)) {
    Status(text::Format("Resolving hostname %s.", {host_}));
    address = platform::ResolveIPv4(host_);
  }
  Status(text::Format("Connecting to %s.", {address}));
  control_ = platform::TcpSocket::Connect(address, port_, steady_clock::now() + connectLimit_,
                                          kConnectSlice, IdleHook());
  reader_.Clear();
  Status("Connected.");
}

void FtpSession::Login() {
  // A busy server may first say when it will be ready (120).
  ReadFinalReply({220});
  if (Command(std::string("USER ") + kUser, {230, 331}).code == 331) {
    Command(std::string("PASS ") + kPassword, {230});
  }
  Command("TYPE I", {200});
  Command("SYST", {200, 215, 500});
  Status("Connection established");
}

void FtpSession::OpenSession() {
  OperationScope scope(*this);
  // A session that an earlier operation left open starts afresh.
  CloseConnections();
  try {
    Connect();
    Login();
  } catch (...) {
    // The failure that ended the log-in is the one the caller must see.
    try {
      CloseWithStatus();
    } catch (...) {
    }
    throw;
  }
}

void FtpSession::CloseWithStatus() {
  try {
    Status("Disconnecting.");
  } catch (...) {
    // A display that fails must not keep the connection open.
    CloseConnections();
    throw;
  }
  CloseConnections();
  Status("Disconnected.");
}

void FtpSession::CloseSession() {
  OperationScope scope(*this);
  CloseWithStatus();
}

// --- simple commands ---

void FtpSession::ChangeRemoteDir(const std::string& directory) {
  OperationScope scope(*this);
  RequireConnected();
  CheckArgument(directory);
  Command("CWD " + directory, {200, 250});
}

std::int32_t FtpSession::RemoteFileSize(const std::string& name) {
  OperationScope scope(*this);
  RequireConnected();
  CheckArgument(name);
  return ParseSizeReply(Command("SIZE " + name, {}));
}

}  // namespace korva::transfer
