#include "transfer/ftp_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "platform/file.h"
#include "platform/files.h"
#include "text/strings.h"

namespace korva::transfer {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr std::chrono::milliseconds kConnectSlice = 125ms;
constexpr std::chrono::milliseconds kWaitSlice = 250ms;
constexpr int kListenBacklog = 15;
// What the server is given after ABOR to say how the transfer ended and to
// answer: about two seconds, so that "&Abortar" takes effect promptly
// whatever the server does.
constexpr int kAbortGraceSlices = 8;

// A reply line quoted in a message: bounded and without control characters.
std::string Quote(std::string_view line) {
  std::string out;
  for (char c : line.substr(0, 120)) out += static_cast<unsigned char>(c) < ' ' ? '?' : c;
  if (line.size() > 120) out += "...";
  return out;
}

// Names travel inside command lines; a line break would start another command.
void CheckArgument(std::string_view argument) {
  if (argument.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    throw KorvaError("Invalid character in FTP command argument: " + Quote(argument));
  }
}

bool Accepts(std::initializer_list<int> accepted, int code) {
  return accepted.size() == 0 ||
         std::find(accepted.begin(), accepted.end(), code) != accepted.end();
}

// Runs one step on a local file; a refusal becomes `<what> "<path>". <reason>`.
template <typename Step>
auto Try(const char* what, const std::string& path, Step step) {
  try {
    return step();
  } catch (const platform::FileSystemError& e) {
    throw FileError(std::string(what) + " \"" + path + "\". " + e.Reason());
  }
}

// The local side of a transfer. Closed on every path; a failed download keeps
// what was written so far. Pieces arrive 8 KiB at a time and leave 1 KiB at a
// time; the disk sees them in large reads and writes through one buffer.
class LocalFile {
 public:
  static LocalFile Create(const std::string& path) {
    return LocalFile(Try("Cannot create file", path, [&] { return platform::File::Create(path); }));
  }
  static LocalFile OpenRead(const std::string& path) {
    LocalFile file(Try("Cannot open file", path, [&] { return platform::File::OpenRead(path); }));
    file.size_ = Try("Cannot open file", path, [&] { return file.file_.Size(); });
    return file;
  }
  LocalFile(LocalFile&&) noexcept = default;
  LocalFile(const LocalFile&) = delete;
  LocalFile& operator=(const LocalFile&) = delete;
  ~LocalFile() {
    try {
      WriteBuffered();
    } catch (const FileError&) {
      // The transfer already failed; what reached the disk stays.
    }
  }

  std::int64_t Size() const { return size_; }
  void Write(const char* bytes, std::size_t count) {
    if (unwritten_ + count > kBufferSize) WriteBuffered();
    if (count >= kBufferSize) {
      Try("Cannot write file", file_.Path(), [&] { file_.Write(bytes, count); });
      return;
    }
    std::memcpy(buffer_.get() + unwritten_, bytes, count);
    unwritten_ += count;
  }
  std::size_t Read(char* buffer, std::size_t capacity) {
    if (readAt_ == readEnd_) {
      readAt_ = 0;
      readEnd_ = Try("Cannot read file", file_.Path(),
                     [&] { return file_.Read(buffer_.get(), kBufferSize); });
    }
    const std::size_t n = std::min(capacity, readEnd_ - readAt_);
    std::memcpy(buffer, buffer_.get() + readAt_, n);
    readAt_ += n;
    return n;
  }
  // A download that failed: what came of it goes, so that it is never taken
  // for the whole file later.
  void Discard() noexcept {
    unwritten_ = 0;
    if (!file_.IsOpen()) return;
    const std::string path = file_.Path();
    try {
      file_.Close();
    } catch (const platform::FileSystemError&) {
    }
    platform::DeleteFile(path);
  }
  // What is still buffered must reach the disk, or the download failed.
  void Close() {
    WriteBuffered();
    Try("Cannot write file", file_.Path(), [&] { file_.Close(); });
  }

 private:
  static constexpr std::size_t kBufferSize = 256 * 1024;

  explicit LocalFile(platform::File file)
      : file_(std::move(file)), buffer_(std::make_unique<char[]>(kBufferSize)) {}

  void WriteBuffered() {
    if (!file_.IsOpen() || unwritten_ == 0) return;
    const std::size_t count = std::exchange(unwritten_, 0);
    Try("Cannot write file", file_.Path(), [&] { file_.Write(buffer_.get(), count); });
  }

  platform::File file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t unwritten_ = 0;
  std::size_t readAt_ = 0;
  std::size_t readEnd_ = 0;
  std::int64_t size_ = 0;
};

}  // namespace

std::string FtpReply::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

// --- reply parsing ---

PassiveAddress ParsePassiveReply(std::string_view firstLine) {
  const std::string line = text::Trim(firstLine);
  const auto fail = [&]() -> PassiveAddress {
    throw KorvaError("Invalid reply to PASV: " + Quote(line));
  };
  std::string_view inner = line;
  const auto open = line.find('(');
  const auto close = line.find(')');
  if (open != std::string::npos && close != std::string::npos) {
    if (close < open) return fail();
    inner = inner.substr(open + 1, close - open - 1);
  } else if (const auto blank = line.rfind(' '); blank != std::string::npos) {
    inner = inner.substr(blank + 1);
  }
  int numbers[6];
  for (int i = 0; i < 6; ++i) {
    const auto comma = inner.find(',');
    if ((comma == std::string_view::npos) != (i == 5)) return fail();
    const std::string_view part = inner.substr(0, comma);
    // Strict: a number that does not fit a byte is an error, never wrapped.
    if (part.empty() || part.size() > 3) return fail();
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return fail();
      value = value * 10 + (c - '0');
    }
    if (value > 255) return fail();
    numbers[i] = value;
    if (comma != std::string_view::npos) inner.remove_prefix(comma + 1);
  }
  PassiveAddress result;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) result.address += '.';
    result.address += std::to_string(numbers[i]);
  }
  result.port = static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
  return result;
}

std::string FormatPortCommand(const std::string& address, std::uint16_t port) {
  std::string command = "PORT " + address;
  std::replace(command.begin(), command.end(), '.', ',');
  return command + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::int32_t ParseSizeReply(const FtpReply& reply) {
  if (reply.code != 213) return -1;
  std::string value = text::Trim(reply.Text());
  if (const auto blank = value.find(' '); blank != std::string::npos) value.erase(0, blank + 1);
  if (value.empty() || value.size() > 10) return -1;
  std::int64_t number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  if (number > std::numeric_limits<std::int32_t>::max()) return -1;
  return static_cast<std::int32_t>(number);
}

// --- the session ---

namespace {

bool IsPreliminary(int code) {
  return code >= 100 && code < 200;
}

[[noreturn]] void ThrowTooLong() {
  throw KorvaError("The FTP server's reply is longer than " +
                   std::to_string(FtpSession::kMaxReplyBytes) + " bytes.");
}

// Thrown from inside a transfer's wait when the server's final reply ended
// the transfer: the wait is left, and that reply is taken as the final one.
struct EndedByServer {};

// Thrown from the idle hook of a wait after ABOR once the grace is spent.
struct GraceOver {};

}  // namespace

// Marks the session busy for one operation. Input is processed inside the
// operation's waits; whatever a click starts then must not reach into the
// dialogue half-way, so it fails here instead.
class FtpSession::OperationScope {
 public:
  explicit OperationScope(FtpSession& session) : session_(session) {
    if (session.busy_) throw KorvaError("The FTP session is busy with another operation.");
    session.busy_ = true;
  }
  ~OperationScope() { session_.busy_ = false; }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

 private:
  FtpSession& session_;
};

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
        bytes += session_.replyBytes_;
        if (bytes > kMaxReplyBytes) break;
      }
    } catch (const GraceOver&) {
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
      return true;
    } catch (const GraceOver&) {
    } catch (const KorvaError&) {
    }
    over_ = true;
    return false;
  }

 private:
  platform::IdleHook Idle() {
    return [this] {
      session_.Idle();
      if (--slicesLeft_ <= 0) throw GraceOver{};
    };
  }

  FtpSession& session_;
  int slicesLeft_ = kAbortGraceSlices;
  bool over_ = false;
};

struct FtpSession::Transfer {
  TransferDirection direction;
  bool abortSent = false;
  // Whether the data connection was made (active mode: accepted).
  bool connected = false;
  // The transfer command's final reply, once it has come; a server may send
  // it before the data has all arrived.
  std::optional<FtpReply> final;
  // The control connection failed meanwhile: what has already come on the
  // data connection is still taken, then the transfer fails with this.
  std::exception_ptr controlLost;
  steady_clock::time_point nextControlLook{};
};

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

void FtpSession::CloseConnections() noexcept {
  data_.Close();
  listener_.Close();
  CloseControl();
}

void FtpSession::CloseControl() noexcept {
  control_.Close();
  inbox_.clear();
  inboxSearched_ = 0;
  partial_ = FtpReply{};
  partialBytes_ = 0;
}

bool FtpSession::IsConnected() const {
  if (!control_.IsOpen()) return false;
  return busy_ || (inbox_.empty() && !control_.Readable());
}

void FtpSession::RequireConnected() {
  if (control_.IsOpen() && (!inbox_.empty() || control_.Readable())) {
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
    CloseConnections();
    throw platform::SocketTimeout("The FTP server did not answer for " + IdleLimitText() + ".");
  } catch (...) {
    // Part of the line may be out: nothing said after it would be understood.
    CloseConnections();
    throw;
  }
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
  inbox_.append(piece, n);
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

bool FtpSession::TakeReply() {
  for (;;) {
    const auto end = inbox_.find('\n', inboxSearched_);
    const std::size_t lineBytes = end == std::string::npos ? inbox_.size() : end + 1;
    if (partialBytes_ + lineBytes > kMaxReplyBytes) {
      CloseConnections();
      ThrowTooLong();
    }
    if (end == std::string::npos) {
      inboxSearched_ = inbox_.size();
      return false;
    }
    std::string line = inbox_.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    inbox_.erase(0, lineBytes);
    inboxSearched_ = 0;
    partialBytes_ += lineBytes;
    std::string text = line.size() > 4 ? line.substr(4) : std::string();
    if (partial_.lines.empty()) {
      const bool wellFormed = line.size() >= 3 &&
                              std::all_of(line.begin(), line.begin() + 3,
                                          [](char c) { return c >= '0' && c <= '9'; }) &&
                              (line.size() == 3 || line[3] == ' ' || line[3] == '-');
      if (!wellFormed) {
        CloseConnections();
        throw KorvaError("Invalid reply from the FTP server: " + Quote(line));
      }
      partial_.code = std::stoi(line.substr(0, 3));
      partial_.lines.push_back(std::move(text));
      if (line.size() > 3 && line[3] == '-') continue;
    } else {
      partial_.lines.push_back(std::move(text));
      char code[8];
      std::snprintf(code, sizeof code, "%03d", partial_.code);
      const bool last = line.compare(0, 3, code) == 0 && (line.size() == 3 || line[3] == ' ');
      if (!last) continue;
    }
    reply_ = std::exchange(partial_, FtpReply{});
    replyBytes_ = std::exchange(partialBytes_, 0);
    // "Service not available, closing control connection": in answer to
    // anything, and the session is over.
    if (reply_.code == 421) CloseConnections();
    return true;
  }
}

const FtpReply& FtpSession::ReadAnyReply() {
  while (!TakeReply()) {
    try {
      ReceiveControl(IdleDeadline(), IdleHook());
    } catch (const platform::SocketTimeout&) {
      CloseConnections();
      throw platform::SocketTimeout("The FTP server did not answer for " + IdleLimitText() + ".");
    }
  }
  return reply_;
}

const FtpReply& FtpSession::ReadReply(std::initializer_list<int> accepted) {
  ReadAnyReply();
  if (!Accepts(accepted, reply_.code)) throw FtpReplyError(reply_);
  return reply_;
}

const FtpReply& FtpSession::ReadFinalReply(std::initializer_list<int> accepted) {
  // The preliminary replies count towards one reply's size, so that a server
  // cannot keep the session reading them for ever.
  std::size_t bytes = 0;
  for (;;) {
    ReadAnyReply();
    if (!IsPreliminary(reply_.code)) break;
    bytes += replyBytes_;
    if (bytes > kMaxReplyBytes) {
      CloseConnections();
      ThrowTooLong();
    }
  }
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
  inbox_.clear();
  inboxSearched_ = 0;
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

// --- data connections ---

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

void FtpSession::AcceptActive(Transfer& transfer) {
  const std::string server = control_.PeerAddress();
  const platform::Deadline deadline = IdleDeadline();
  const platform::IdleHook idle = [this] { TransferIdle(); };
  // Only the server delivers the data; anybody else is turned away.
  const auto take = [&](platform::TcpSocket connection) {
    if (!connection.IsOpen() || connection.PeerAddress() != server) return;
    data_ = std::move(connection);
    transfer.connected = true;
    listener_.Close();
  };
  // An abort closes the listener.
  while (listener_.IsOpen()) {
    // Also a reply that came together with the one to the transfer command:
    // it is in inbox_ already, and the socket has nothing more to say.
    WatchControl(transfer);
    if (transfer.controlLost) std::rethrow_exception(transfer.controlLost);
    if (transfer.final) {
      // A quick server may connect, send, close and answer before we look.
      for (platform::TcpSocket queued = AcceptQueued(); queued.IsOpen() && listener_.IsOpen();
           queued = AcceptQueued()) {
        take(std::move(queued));
      }
      if (transfer.connected) return;
      throw EndedByServer{};
    }
    try {
      take(listener_.AcceptUnless(control_, deadline, kWaitSlice, idle));
    } catch (const EndedByServer&) {
      // The idle slice took the final reply; it is handled above.
    } catch (const platform::SocketTimeout&) {
      CloseConnections();
      throw platform::SocketTimeout("The FTP server did not open the data connection within " +
                                    IdleLimitText() + ".");
    }
  }
}

platform::TcpSocket FtpSession::AcceptQueued() {
  try {
    return listener_.AcceptUnless(platform::TcpSocket(), steady_clock::now(), 0ms, nullptr);
  } catch (const platform::SocketTimeout&) {
    return platform::TcpSocket();
  }
}

void FtpSession::TransferIdle() {
  Idle();
  Transfer* transfer = running_;
  if (!transfer) return;
  if (events_ && !events_->OnTransferIdle(transfer->direction)) AbortTransfer();
  WatchControl(*transfer);
  // Nothing came for a whole slice: no data is left to take.
  if (transfer->controlLost) std::rethrow_exception(transfer->controlLost);
  // A final reply ends the wait when it reports a failure, or when no data
  // connection is left to wait on.
  if (transfer->final && (transfer->final->code >= 300 || !data_.IsOpen())) {
    throw EndedByServer{};
  }
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

void FtpSession::WatchControlWhileDataFlows(Transfer& transfer, steady_clock::time_point now) {
  if (now < transfer.nextControlLook) return;
  transfer.nextControlLook = now + kWaitSlice;
  WatchControl(transfer);
  if (transfer.final && transfer.final->code >= 300) throw EndedByServer{};
}

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
  } catch (const EndedByServer&) {
    // Its final reply is in transfer.final.
  } catch (...) {
    failure = std::current_exception();
  }
  running_ = nullptr;
  data_.Close();
  listener_.Close();
  const auto keepFirst = [&](const auto& step) {
    try {
      step();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  if (began) {
    keepFirst([&] {
      if (events_) events_->OnTransferEnd(transfer.direction);
    });
  }
  keepFirst([&] { Status("Transfer complete"); });
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

void FtpSession::FetchFile(const std::string& remoteName, const std::string& localPath,
                           std::int64_t limit) {
  TransferScope scope(*this, remoteName);
  lastTransfer_ = TransferOutcome{};
  LocalFile file = LocalFile::Create(localPath);
  try {
    Status("Starting FTP transfer");
    Transfer transfer{TransferDirection::Download};
    if (passive_) {
      data_ = ConnectData(PassivePort());
      transfer.connected = true;
    } else {
      ListenActive();
    }
    Command("RETR " + remoteName, {125, 150, 154});
    RunTransfer(transfer, 0, [&](Transfer& t) {
      if (!t.connected) AcceptActive(t);
      const platform::IdleHook idle = [this] { TransferIdle(); };
      char piece[kReceivePiece];
      std::int64_t received = 0;
      for (;;) {
        const auto now = steady_clock::now();
        WatchControlWhileDataFlows(t, now);
        // Once the control connection is gone, only what has come is taken.
        const platform::Deadline deadline = t.controlLost ? now : now + idleLimit_;
        std::size_t n = 0;
        try {
          n = data_.Receive(piece, sizeof piece, deadline, kWaitSlice, idle);
        } catch (const platform::SocketTimeout&) {
          if (t.controlLost) std::rethrow_exception(t.controlLost);
          CloseConnections();
          throw platform::SocketTimeout("The FTP server sent no data for " + IdleLimitText() + ".");
        }
        if (n == 0) {
          if (t.controlLost) std::rethrow_exception(t.controlLost);
          break;
        }
        if (limit >= 0 && received + static_cast<std::int64_t>(n) > limit) {
          // Not one byte past the limit reaches the disk.
          file.Write(piece, static_cast<std::size_t>(limit - received));
          lastTransfer_.bytes = limit;
          lastTransfer_.overLimit = true;
          AbortTransfer();
          break;
        }
        file.Write(piece, n);
        received += static_cast<std::int64_t>(n);
        lastTransfer_.bytes = received;
        if (events_ && !events_->OnProgress(TransferDirection::Download, received)) {
          AbortTransfer();
        }
      }
    });
    file.Close();
  } catch (...) {
    file.Discard();
    throw;
  }
}

void FtpSession::SendFile(const std::string& localPath, const std::string& remoteName) {
  TransferScope scope(*this, remoteName);
  LocalFile file = LocalFile::OpenRead(localPath);
  Status("Starting FTP transfer");
  const std::string store = "STOR " + remoteName;
  Transfer transfer{TransferDirection::Upload};
  if (passive_) {
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
  } else {
    ListenActive();
    Command(store, {125, 150});
  }
  RunTransfer(transfer, file.Size(), [&](Transfer& t) {
    if (!t.connected) AcceptActive(t);
    const platform::IdleHook idle = [this] { TransferIdle(); };
    char piece[kSendPiece];
    std::int64_t sent = 0;
    for (;;) {
      const std::size_t n = file.Read(piece, sizeof piece);
      if (n == 0) break;
      const auto now = steady_clock::now();
      WatchControlWhileDataFlows(t, now);
      if (t.controlLost) std::rethrow_exception(t.controlLost);
      try {
        data_.Send(std::string_view(piece, n), now + idleLimit_, kWaitSlice, idle);
      } catch (const platform::SocketTimeout&) {
        CloseConnections();
        throw platform::SocketTimeout("The FTP server took no data for " + IdleLimitText() + ".");
      }
      sent += static_cast<std::int64_t>(n);
      // Uploads run to their end whatever the answer (see AbortTransfer).
      if (events_) events_->OnProgress(TransferDirection::Upload, sent);
    }
  });
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
