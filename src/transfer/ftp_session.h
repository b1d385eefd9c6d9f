#pragma once
// IdFTPKorva: the one FTP client session with the update server. Every
// operation is synchronous and reports what it does through FtpEvents on the
// calling thread; while it waits for the network it hands the idle slices to
// the wait hook, which the owner points at Shell::ProcessPendingInput.
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"
#include "text/error.h"

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

struct FtpReply {
  int code = 0;
  // Each reply line without its first four characters.
  std::vector<std::string> lines;
  // The lines joined with CR LF: the message of a refused command.
  std::string Text() const;
};

// The server answered with a code the command does not accept. The dialogue
// is still in step; the session stays open.
class FtpReplyError : public KorvaError {
 public:
  explicit FtpReplyError(const FtpReply& reply) : KorvaError(reply.Text()), reply_(reply) {}
  const FtpReply& Reply() const { return reply_; }

 private:
  FtpReply reply_;
};

class FtpSession {
 public:
  static constexpr const char* kUser = "korva";
  static constexpr const char* kPassword = "K7p3R#";
  static constexpr std::uint16_t kDefaultPort = 21;
  // Limits of the dialogue with a server that may misbehave.
  static constexpr std::size_t kMaxReplyBytes = 64 * 1024;
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
  struct Transfer;

  void Status(const std::string& text);
  void Idle();
  platform::IdleHook IdleHook();
  platform::Deadline IdleDeadline() const;
  // "60 seconds": the idle limit in the texts of its failures.
  std::string IdleLimitText() const;

  // The dialogue: one command line out, one reply in, checked against the
  // accepted codes (an empty list accepts any).
  const FtpReply& Command(std::string_view line, std::initializer_list<int> accepted);
  void SendLine(std::string_view line);
  const FtpReply& ReadReply(std::initializer_list<int> accepted);
  // Reads on past preliminary replies (1xx) to the final one.
  const FtpReply& ReadFinalReply(std::initializer_list<int> accepted);
  // One reply, unchecked, each byte within the idle limit.
  const FtpReply& ReadAnyReply();
  // Moves whole lines from inbox_ into the reply being read; true once that
  // reply is complete (it is then reply_).
  bool TakeReply();
  // Appends what arrives on the control connection to inbox_; the server's
  // close fails the operation and closes the control connection.
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
  // Waits for the server's data connection; others are turned away.
  void AcceptActive(Transfer& transfer);
  // A connection already waiting in the listener's queue, without waiting.
  platform::TcpSocket AcceptQueued();
  // The idle slice of a transfer's wait: the window's input, the operator's
  // abort, the control connection.
  void TransferIdle();
  // Takes what the server said on the control connection meanwhile, without
  // waiting: preliminary replies are passed over, a final one is kept.
  void WatchControl(Transfer& transfer);
  // The same once a slice while the data flows without pause.
  void WatchControlWhileDataFlows(Transfer& transfer, std::chrono::steady_clock::time_point now);
  void RunTransfer(Transfer& transfer, std::int64_t total,
                   const std::function<void(Transfer&)>& pump);
  void FinishTransfer(Transfer& transfer);
  // After ABOR: what the server says within a short grace, then the session
  // is closed.
  class AbortGrace;
  void FinishAbortedTransfer(Transfer& transfer);
  // After a transfer failed on our side: read the replies the server still
  // owes, so that the next command gets its own; drop the session otherwise.
  void ResyncAfterFailure(int pendingReplies) noexcept;

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
  std::string inbox_;              // control bytes read but not yet taken as lines
  std::size_t inboxSearched_ = 0;  // bytes of inbox_ known to hold no line end
  FtpReply partial_;               // the reply whose lines are being taken
  std::size_t partialBytes_ = 0;
  std::size_t replyBytes_ = 0;  // the size of reply_ on the wire
  FtpReply reply_;
  TransferOutcome lastTransfer_;
  bool busy_ = false;
  // The transfer whose waits and progress events may call AbortTransfer.
  Transfer* running_ = nullptr;
};

// Reads the six numbers of a 227 reply's first line: "h1,h2,h3,h4,p1,p2"
// between the first "(" and ")", or after the last blank. Each must be a
// decimal number from 0 to 255; anything else is an error. The address is
// what the server announced: the session only checks its form and connects
// to its control connection's peer, so that a server cannot send the data
// connection to a third host.
struct PassiveAddress {
  std::string address;
  std::uint16_t port = 0;
};
PassiveAddress ParsePassiveReply(std::string_view firstLine);
// "PORT 192,168,0,5,19,137" for 192.168.0.5 and port 5001.
std::string FormatPortCommand(const std::string& address, std::uint16_t port);
// The number of a 213 reply's text, or -1.
std::int32_t ParseSizeReply(const FtpReply& reply);

}  // namespace korva::transfer
