#pragma once
// IdFTPKorva: the one FTP client session with the update server. Every
// operation is synchronous and reports what it does through FtpEvents on the
// calling thread; while it waits for the network it hands the idle slices to
// the wait hook, which the owner points at Shell::ProcessPendingInput.
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"
#include "text/error.h"
#include "transfer/ftp_reply.h"

namespace korva::transfer {

enum class TransferDirection { Download, Upload };

// The session's events, in the middle of the operation that causes them. A
// handler that throws makes that operation fail with its failure. The
// progress handler answers whether the transfer goes on: false aborts a
// download (AbortTransfer); an upload always runs to its end.
class FtpEvents {
 public:
  virtual ~FtpEvents() = default;
  virtual void OnStatus(const std::string& text) = 0;
  // total: the announced size; always 0 for downloads.
  virtual void OnTransferBegin(TransferDirection direction, std::int64_t total) = 0;
  virtual bool OnProgress(TransferDirection direction, std::int64_t bytesSoFar) = 0;
  virtual void OnTransferEnd(TransferDirection direction) = 0;
  // After each idle wait slice of a running transfer (nothing arrived or left
  // for a whole slice; the wait hook has just processed the window's input).
  // False aborts a download as a false answer to OnProgress does: an abort
  // asked for while the server keeps silent must not wait for the next piece.
  virtual bool OnTransferIdle(TransferDirection direction) {
    (void)direction;
    return true;
  }
};

// Kept for the settings page; connections are always made directly.
struct FtpProxy {
  std::string host;
  std::int32_t port = 0;
  std::string user;
  std::string password;
};

// How the last download ended: the bytes that reached the local file, and
// whether it was cut short by an abort ("Transfer aborted").
struct TransferOutcome {
  std::int64_t bytes = 0;
  bool aborted = false;
  // The file went past the limit its caller set: it was cut there, as an
  // abort cuts it, and holds the limit's bytes at most.
  bool overLimit = false;
};

class LocalFile;

class FtpSession {
 public:
  static constexpr const char* kUser = "korva";
  static constexpr const char* kPassword = "K7p3R#";
  static constexpr std::uint16_t kDefaultPort = 21;
  // Limits of the dialogue with a server that may misbehave.
  static constexpr std::size_t kMaxReplyBytes = FtpReplyReader::kMaxReplyBytes;
  static constexpr std::size_t kReceivePiece = 8192;
  static constexpr std::size_t kSendPiece = 1024;

  explicit FtpSession(std::string host, std::uint16_t port = kDefaultPort);
  ~FtpSession();
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  const std::string& Host() const { return host_; }
  std::uint16_t Port() const { return port_; }
  // Takes effect at the next OpenSession.
  void SetServer(std::string host, std::uint16_t port);

  bool Passive() const { return passive_; }
  void SetPassive(bool passive) { passive_ = passive; }
  const FtpProxy& Proxy() const { return proxy_; }
  void SetProxy(FtpProxy proxy) { proxy_ = std::move(proxy); }

  void SetEvents(FtpEvents* events) { events_ = events; }
  // Runs after each idle wait slice (125 ms while connecting, 250 ms while
  // waiting for a reply, for data or for the server's data connection).
  void SetWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }
  // 120 seconds; tests shorten it.
  void SetConnectTimeLimit(std::chrono::milliseconds limit) { connectLimit_ = limit; }
  // How long the session waits for the next byte of a reply, of the data, or
  // for the server's data connection: 60 seconds; tests shorten it. When it
  // passes the operation fails and the session is closed.
  void SetIdleTimeLimit(std::chrono::milliseconds limit) { idleLimit_ = limit; }

  // Connects and logs in. A failure leaves the session closed.
  void OpenSession();
  // Whether the control connection is open. Outside an operation a server
  // speaks only to say goodbye (421 when it timed the session out) or by
  // closing; either way that session is over and this reports false, and the
  // next operation fails with the server's last words or "Not connected.".
  bool IsConnected() const;
  void ChangeRemoteDir(const std::string& directory);
  // -1 when the server gives no size.
  std::int32_t RemoteFileSize(const std::string& name);
  // Downloads into localPath, replacing whatever was there. A file that
  // grows past limit bytes (when limit is not negative) is cut there by an
  // abort: the local file never holds more than limit bytes. A download that
  // fails leaves no file there: a part of it could later be taken for the
  // whole. One cut short by AbortTransfer returns normally with the part.
  static constexpr std::int64_t kNoLimit = -1;
  void FetchFile(const std::string& remoteName, const std::string& localPath,
                 std::int64_t limit = kNoLimit);
  // Uploads into the current remote directory, replacing the server's file.
  void SendFile(const std::string& localPath, const std::string& remoteName);
  // Only acts on a running download (the progress handler's or the idle
  // handler's false answer calls it, and so may the handlers themselves):
  // sends ABOR and drops the data connection, or stops waiting for it;
  // FetchFile then returns normally with the part received, once the server
  // has answered or 8 wait slices have passed, and leaves the session
  // closed, so that no late answer is left for the next command.
  void AbortTransfer();
  // No QUIT: the control connection is simply closed.
  void CloseSession();

  // The reply read last (code 0 before any).
  const FtpReply& LastReply() const { return reply_; }
  // The last FetchFile's outcome; a caller that must not use a file cut
  // short looks here, since an aborted download returns normally.
  const TransferOutcome& LastTransfer() const { return lastTransfer_; }
  // True while an operation runs (its waits process the window's input).
  bool Busy() const { return busy_; }

 private:
  class OperationScope;
  class TransferScope;
  class AbortGrace;
  struct Transfer;

  void Status(const std::string& text);
  void Idle();
  platform::IdleHook IdleHook();
  platform::Deadline IdleDeadline() const;
  // "60 seconds": the idle limit in the texts of its failures.
  std::string IdleLimitText() const;
  // The session's own words for a wait that reached the idle limit: the
  // session is closed, and the text names what the server did not do.
  [[noreturn]] void FailIdle(const std::string& what);

  // The dialogue: one command line out, one reply in, checked against the
  // accepted codes (an empty list accepts any).
  const FtpReply& Command(std::string_view line, std::initializer_list<int> accepted);
  void SendLine(std::string_view line);
  const FtpReply& ReadReply(std::initializer_list<int> accepted);
  // Reads on past preliminary replies (1xx) to the final one.
  const FtpReply& ReadFinalReply(std::initializer_list<int> accepted);
  // One reply (a final one when `final`), each byte within the idle limit.
  const FtpReply& ReadAnyReply(bool final);
  // Takes the next reply the reader holds (the next final one when
  // `final`); true once it is reply_. A reply the reader refuses closes the
  // session.
  bool TakeReply(bool final = false);
  // Feeds what arrives on the control connection to the reader; the
  // server's close fails the operation and closes the control connection.
  void ReceiveControl(platform::Deadline deadline, const platform::IdleHook& idle);
  // The same without waiting; false when nothing has arrived.
  bool ReceiveControlNow();

  void Connect();
  void Login();
  // At the start of an operation: the session is open and the server has not
  // ended it while it sat idle.
  void RequireConnected();
  // Closes every connection without a word to the server: used when the
  // dialogue cannot go on.
  void CloseConnections() noexcept;
  // The control connection alone: the server closed it.
  void CloseControl() noexcept;
  void CloseWithStatus();

  // PASV: the port the server listens on for our data connection.
  std::uint16_t PassivePort();
  platform::TcpSocket ConnectData(std::uint16_t port);
  void ListenActive();
  // Waits for the server's data connection; others are turned away. True
  // when it came; false when the server's final reply came instead or the
  // transfer was aborted.
  bool AcceptActive(Transfer& transfer);
  // Only the server delivers the data; anybody else is turned away.
  void TakeConnection(Transfer& transfer, const std::string& server,
                      platform::TcpSocket connection);
  // Takes the server's connection if one waits in the listener's queue, then
  // closes the listener.
  void TakeQueued(Transfer& transfer, const std::string& server);
  // A connection already waiting in the listener's queue, without waiting.
  platform::TcpSocket AcceptQueued();
  // The idle slice of a transfer's wait: the window's input, the operator's
  // abort, the control connection. False once the server's final reply has
  // ended the transfer.
  bool TransferIdle(Transfer& transfer);
  // The idle hook of a wait on the data connection: once the server has
  // ended the transfer, the connection is closed, which ends the wait.
  platform::IdleHook DataIdle(Transfer& transfer);
  // Takes what the server said on the control connection meanwhile, without
  // waiting: preliminary replies are passed over, a final one is kept.
  void WatchControl(Transfer& transfer);
  // The same once a slice while the data flows without pause; false once a
  // failure reply has ended the transfer.
  bool WatchControlWhileDataFlows(Transfer& transfer, std::chrono::steady_clock::time_point now);
  void RunTransfer(Transfer& transfer, std::int64_t total,
                   const std::function<void(Transfer&)>& pump);
  // Runs the step; its failure is kept unless an earlier one was.
  static void KeepFirstFailure(std::exception_ptr& failure, const std::function<void()>& step);
  void FinishTransfer(Transfer& transfer);
  // After ABOR: what the server says within a short grace, then the session
  // is closed.
  void FinishAbortedTransfer(Transfer& transfer);
  // After a transfer failed on our side: read the replies the server still
  // owes, so that the next command gets its own; drop the session otherwise.
  void ResyncAfterFailure(int pendingReplies) noexcept;
  // The data connection of a download, made or awaited.
  void OpenDownload(Transfer& transfer, const std::string& remoteName);
  void OpenUpload(Transfer& transfer, const std::string& remoteName);
  void ReceiveInto(Transfer& transfer, LocalFile& file, std::int64_t limit);
  void SendFrom(Transfer& transfer, LocalFile& file);

  std::string host_;
  std::uint16_t port_;
  bool passive_ = false;
  FtpProxy proxy_;
  FtpEvents* events_ = nullptr;
  std::function<void()> waitHook_;
  std::chrono::milliseconds connectLimit_{120000};
  std::chrono::milliseconds idleLimit_{60000};

  platform::TcpSocket control_;
  platform::TcpSocket data_;
  // Active mode: where the server's data connection is awaited.
  platform::TcpListener listener_;
  FtpReplyReader reader_;
  FtpReply reply_;
  TransferOutcome lastTransfer_;
  bool busy_ = false;
  // The transfer whose waits and progress events may call AbortTransfer.
  Transfer* running_ = nullptr;
};

}  // namespace korva::transfer
