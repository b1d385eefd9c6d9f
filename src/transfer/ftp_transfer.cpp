// The transfer machinery: the data connection, the waits of a running
// transfer and how its end is read. A transfer ends when its data does, when
// the server's final reply says it has ended, or by an abort; each of these
// is a state the waits return, and only a failure is thrown.
#include <optional>
#include <utility>

#include "transfer/ftp_session.h"
#include "transfer/ftp_session_internal.h"
#include "transfer/transfer_file.h"

namespace korva::transfer {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

// What the server is given after ABOR to say how the transfer ended and to
// answer: about two seconds, so that "&Abortar" takes effect promptly
// whatever the server does.
constexpr int kAbortGraceSlices = 8;

}  // namespace

// One file transfer: an operation on a connected session for a name that can
// travel in a command, whose data connection and listener go however it ends.
class FtpSession::TransferScope {
 public:
  TransferScope(FtpSession& session, const std::string& remoteName)
      : operation_(session), session_(session) {
    session.RequireConnected();
    CheckArgument(remoteName);
  }
  ~TransferScope() {
    session_.data_.Close();
    session_.listener_.Close();
  }
  TransferScope(const TransferScope&) = delete;
  TransferScope& operator=(const TransferScope&) = delete;

 private:
  OperationScope operation_;
  FtpSession& session_;
};

// The wait slices the server has left after ABOR. Each wait processes the
// window's input as any other; the grace spent, the server gone or a reply
// that is none end the waiting, never the operation.
class FtpSession::AbortGrace {
 public:
  explicit AbortGrace(FtpSession& session) : session_(session) {}

  // The next reply whose code `ends` takes; none once the grace is over.
  std::optional<FtpReply> ReadReply(const std::function<bool(int)>& ends) {
    if (over_) return std::nullopt;
    std::size_t bytes = 0;
    try {
      for (;;) {
        while (!session_.TakeReply()) session_.ReceiveControl(platform::kNoDeadline, Idle());
        if (ends(session_.reply_.code)) return session_.reply_;
        bytes += session_.reader_.LastReplyBytes();
        if (bytes > kMaxReplyBytes) break;
      }
    } catch (const KorvaError&) {
    }
    over_ = true;
    return std::nullopt;
  }

  bool Send(std::string_view line) {
    if (over_ || !session_.control_.IsOpen()) return false;
    std::string bytes(line);
    bytes += "\r\n";
    try {
      session_.control_.Send(bytes, platform::kNoDeadline, kWaitSlice, Idle());
      if (session_.control_.IsOpen()) return true;
    } catch (const KorvaError&) {
    }
    over_ = true;
    return false;
  }

 private:
  // The grace spent closes the control connection, which ends the wait.
  platform::IdleHook Idle() {
    return [this] {
      session_.Idle();
      if (--slicesLeft_ <= 0) session_.control_.Close();
    };
  }

  FtpSession& session_;
  int slicesLeft_ = kAbortGraceSlices;
  bool over_ = false;
};

// --- the waits of a running transfer ---

bool FtpSession::TransferIdle(Transfer& transfer) {
  Idle();
  if (events_ && !events_->OnTransferIdle(transfer.direction)) AbortTransfer();
  WatchControl(transfer);
  // Nothing came for a whole slice: no data is left to take.
  if (transfer.controlLost) std::rethrow_exception(transfer.controlLost);
  // A final reply ends the wait when it reports a failure, or when no data
  // connection is left to wait on.
  return !(transfer.final && (transfer.final->code >= 300 || !data_.IsOpen()));
}

platform::IdleHook FtpSession::DataIdle(Transfer& transfer) {
  return [this, &transfer] {
    if (!TransferIdle(transfer)) data_.Close();
  };
}

void FtpSession::WatchControl(Transfer& transfer) {
  const auto takeReplies = [&] {
    while (!transfer.final && TakeReply()) {
      if (!IsPreliminary(reply_.code)) transfer.final = reply_;
    }
  };
  // What came with earlier replies first: the server may have closed since.
  takeReplies();
  if (transfer.final || transfer.controlLost || !control_.IsOpen()) return;
  try {
    // One look: a server that talks without end cannot hold the transfer here.
    ReceiveControlNow();
  } catch (const platform::SocketError&) {
    transfer.controlLost = std::current_exception();
    return;
  }
  takeReplies();
}

bool FtpSession::WatchControlWhileDataFlows(Transfer& transfer, steady_clock::time_point now) {
  if (now < transfer.nextControlLook) return true;
  transfer.nextControlLook = now + kWaitSlice;
  WatchControl(transfer);
  return !(transfer.final && transfer.final->code >= 300);
}

// --- how a transfer ends ---

// Moves the bytes between the events, then reads how the server saw it.
void FtpSession::RunTransfer(Transfer& transfer, std::int64_t total,
                             const std::function<void(Transfer&)>& pump) {
  std::exception_ptr failure;
  bool began = false;
  running_ = &transfer;
  try {
    if (events_) events_->OnTransferBegin(transfer.direction, total);
    began = true;
    pump(transfer);
  } catch (...) {
    failure = std::current_exception();
  }
  running_ = nullptr;
  data_.Close();
  listener_.Close();
  if (began) {
    KeepFirstFailure(failure, [&] {
      if (events_) events_->OnTransferEnd(transfer.direction);
    });
  }
  KeepFirstFailure(failure, [&] { Status("Transfer complete"); });
  if (failure) {
    // After ABOR nothing the server still owes is waited for: the session goes.
    if (transfer.abortSent) {
      CloseConnections();
    } else {
      ResyncAfterFailure((transfer.final ? 0 : 1));
    }
    std::rethrow_exception(failure);
  }
  if (transfer.abortSent) return FinishAbortedTransfer(transfer);
  FinishTransfer(transfer);
}

void FtpSession::KeepFirstFailure(std::exception_ptr& failure, const std::function<void()>& step) {
  try {
    step();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
}

void FtpSession::FinishTransfer(Transfer& transfer) {
  if (!transfer.final) transfer.final = ReadFinalReply({});
  const FtpReply final = *transfer.final;
  const bool accepted = Accepts({225, 226, 250, 426, 450}, final.code);
  // A final reply before the data connection was made: no data came.
  if (!accepted || !transfer.connected) throw FtpReplyError(final);
  if (final.code == 426 || final.code == 450) {
    // The server gave up on its own: what arrived is not the whole file.
    lastTransfer_.aborted = true;
    Status("Transfer aborted");
    throw FtpReplyError(final);
  }
}

void FtpSession::FinishAbortedTransfer(Transfer& transfer) {
  // The server has a short grace to say how the transfer ended and to answer
  // ABOR. Whatever it says after that would be taken for the answer to the
  // next command, so the session is closed in any case: its next user opens
  // a new one.
  AbortGrace grace(*this);
  std::optional<FtpReply> final = transfer.final;
  const auto anyFinal = [](int code) { return !IsPreliminary(code); };
  if (!final) final = grace.ReadReply(anyFinal);
  if (final && final->code >= 300) {
    // The transfer was cut short: the answer to ABOR comes next.
    grace.ReadReply(anyFinal);
  } else if (final && grace.Send("NOOP")) {
    // The transfer had ended before the server read ABOR. Some servers
    // answer ABOR on its own then, some do not (225, 226), and some know no
    // ABOR (500, 502): the first other final reply is NOOP's own answer.
    grace.ReadReply([](int code) { return !IsPreliminary(code) && code != 225 && code != 226; });
  }
  CloseConnections();
  if (final && !Accepts({225, 226, 250, 426, 450}, final->code)) throw FtpReplyError(*final);
  lastTransfer_.aborted = true;
  Status("Transfer aborted");
}

void FtpSession::ResyncAfterFailure(int pendingReplies) noexcept {
  try {
    for (int i = 0; i < pendingReplies && control_.IsOpen(); ++i) ReadFinalReply({});
  } catch (...) {
    CloseConnections();
  }
}

// --- the two directions ---

void FtpSession::FetchFile(const std::string& remoteName, const std::string& localPath,
                           std::int64_t limit) {
  TransferScope scope(*this, remoteName);
  lastTransfer_ = TransferOutcome{};
  LocalFile file = LocalFile::Create(localPath);
  try {
    Status("Starting FTP transfer");
    Transfer transfer{TransferDirection::Download};
    OpenDownload(transfer, remoteName);
    RunTransfer(transfer, 0, [&](Transfer& t) { ReceiveInto(t, file, limit); });
    file.Close();
  } catch (...) {
    file.Discard();
    throw;
  }
}

void FtpSession::OpenDownload(Transfer& transfer, const std::string& remoteName) {
  if (passive_) {
    data_ = ConnectData(PassivePort());
    transfer.connected = true;
  } else {
    ListenActive();
  }
  Command("RETR " + remoteName, {125, 150, 154});
}

void FtpSession::ReceiveInto(Transfer& transfer, LocalFile& file, std::int64_t limit) {
  // Ended by the server's final reply before its data connection came.
  if (!transfer.connected && !AcceptActive(transfer) && transfer.final) return;
  const platform::IdleHook idle = DataIdle(transfer);
  char piece[kReceivePiece];
  std::int64_t received = 0;
  for (;;) {
    const auto now = steady_clock::now();
    if (!WatchControlWhileDataFlows(transfer, now)) return;
    // Once the control connection is gone, only what has come is taken.
    const platform::Deadline deadline = transfer.controlLost ? now : now + idleLimit_;
    std::size_t n = 0;
    try {
      n = data_.Receive(piece, sizeof piece, deadline, kWaitSlice, idle);
    } catch (const platform::SocketTimeout&) {
      if (transfer.controlLost) std::rethrow_exception(transfer.controlLost);
      FailIdle("sent no data for ");
    }
    // The end of the data, an abort, or the server's final reply.
    if (n == 0) {
      if (transfer.controlLost) std::rethrow_exception(transfer.controlLost);
      return;
    }
    if (limit >= 0 && received + static_cast<std::int64_t>(n) > limit) {
      // Not one byte past the limit reaches the disk.
      file.Write(piece, static_cast<std::size_t>(limit - received));
      lastTransfer_.bytes = limit;
      lastTransfer_.overLimit = true;
      AbortTransfer();
      return;
    }
    file.Write(piece, n);
    received += static_cast<std::int64_t>(n);
    lastTransfer_.bytes = received;
    if (events_ && !events_->OnProgress(TransferDirection::Download, received)) AbortTransfer();
  }
}

void FtpSession::SendFile(const std::string& localPath, const std::string& remoteName) {
  TransferScope scope(*this, remoteName);
  LocalFile file = LocalFile::OpenRead(localPath);
  Status("Starting FTP transfer");
  Transfer transfer{TransferDirection::Upload};
  OpenUpload(transfer, remoteName);
  RunTransfer(transfer, file.Size(), [&](Transfer& t) { SendFrom(t, file); });
}

void FtpSession::OpenUpload(Transfer& transfer, const std::string& remoteName) {
  const std::string store = "STOR " + remoteName;
  if (!passive_) {
    ListenActive();
    Command(store, {125, 150});
    return;
  }
  const std::uint16_t port = PassivePort();
  SendLine(store);
  try {
    data_ = ConnectData(port);
  } catch (...) {
    // The server waits for this connection before it answers STOR.
    CloseConnections();
    throw;
  }
  transfer.connected = true;
  ReadReply({110, 125, 150});
}

void FtpSession::SendFrom(Transfer& transfer, LocalFile& file) {
  if (!transfer.connected && !AcceptActive(transfer) && transfer.final) return;
  const platform::IdleHook idle = DataIdle(transfer);
  char piece[kSendPiece];
  std::int64_t sent = 0;
  for (;;) {
    const std::size_t n = file.Read(piece, sizeof piece);
    if (n == 0) return;
    const auto now = steady_clock::now();
    if (!WatchControlWhileDataFlows(transfer, now)) return;
    if (transfer.controlLost) std::rethrow_exception(transfer.controlLost);
    try {
      data_.Send(std::string_view(piece, n), now + idleLimit_, kWaitSlice, idle);
    } catch (const platform::SocketTimeout&) {
      FailIdle("took no data for ");
    }
    // Closed by a wait slice: the server's final reply ended the transfer.
    if (!data_.IsOpen()) return;
    sent += static_cast<std::int64_t>(n);
    // Uploads run to their end whatever the answer (see AbortTransfer).
    if (events_) events_->OnProgress(TransferDirection::Upload, sent);
  }
}

void FtpSession::AbortTransfer() {
  // Uploads are small and run to their end: a file cut short on the server
  // would replace the good one there.
  if (!running_ || running_->direction != TransferDirection::Download || running_->abortSent) {
    return;
  }
  if (control_.IsOpen()) {
    running_->abortSent = true;
    SendLine("ABOR");
  }
  data_.Close();
  listener_.Close();
}

}  // namespace korva::transfer
