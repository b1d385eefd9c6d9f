#include "transfer/ftp_session.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <utility>

#include "platform/file.h"
#include "text/strings.h"

namespace korva::transfer {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr std::chrono::milliseconds kConnectSlice = 125ms;
constexpr std::chrono::milliseconds kWaitSlice = 250ms;
// After a transfer failed on our side the server still owes its final reply;
// it gets this long before the control connection is given up as well.
constexpr std::chrono::seconds kResyncLimit = 30s;
constexpr int kListenBacklog = 15;

template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

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

struct FtpSession::Transfer {
  TransferDirection direction;
  bool abortSent = false;
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

void FtpSession::CloseConnections() noexcept {
  data_.Close();
  control_.Close();
  inbox_.clear();
}

bool FtpSession::IsConnected() const {
  if (!control_.IsOpen()) return false;
  return busy_ || !control_.Readable();
}

void FtpSession::RequireConnected() const {
  if (!control_.IsOpen()) throw KorvaError("Not connected.");
}

// --- the dialogue ---

void FtpSession::SendLine(std::string_view line) {
  RequireConnected();
  CheckArgument(line);
  std::string bytes(line);
  bytes += "\r\n";
  try {
    control_.Send(bytes, platform::kNoDeadline, kWaitSlice, IdleHook());
  } catch (...) {
    // Part of the line may be out: nothing said after it would be understood.
    CloseConnections();
    throw;
  }
}

bool FtpSession::ReadLine(std::string& line, std::size_t& replyBytes,
                          steady_clock::time_point deadline) {
  for (;;) {
    const auto end = inbox_.find('\n');
    const std::size_t lineBytes = end == std::string::npos ? inbox_.size() : end + 1;
    if (replyBytes + lineBytes > kMaxReplyBytes) {
      CloseConnections();
      throw KorvaError("The FTP server's reply is longer than " + std::to_string(kMaxReplyBytes) +
                       " bytes.");
    }
    if (end != std::string::npos) {
      replyBytes += lineBytes;
      line.assign(inbox_, 0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      inbox_.erase(0, lineBytes);
      return true;
    }
    RequireConnected();
    char piece[4096];
    std::size_t n = 0;
    try {
      n = control_.Receive(piece, sizeof piece, deadline, kWaitSlice, IdleHook());
    } catch (const platform::SocketTimeout&) {
      return false;
    } catch (...) {
      CloseConnections();
      throw;
    }
    if (n == 0) {
      CloseConnections();
      throw platform::SocketError("The FTP server closed the connection.");
    }
    inbox_.append(piece, n);
  }
}

bool FtpSession::ReadReplyUntil(steady_clock::time_point deadline) {
  FtpReply reply;
  std::size_t replyBytes = 0;
  std::string line;
  const auto text = [](const std::string& l) { return l.size() > 4 ? l.substr(4) : std::string(); };
  if (!ReadLine(line, replyBytes, deadline)) return false;
  const bool wellFormed =
      line.size() >= 3 &&
      std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }) &&
      (line.size() == 3 || line[3] == ' ' || line[3] == '-');
  if (!wellFormed) {
    CloseConnections();
    throw KorvaError("Invalid reply from the FTP server: " + Quote(line));
  }
  const std::string code = line.substr(0, 3);
  reply.code = std::stoi(code);
  reply.lines.push_back(text(line));
  if (line.size() > 3 && line[3] == '-') {
    for (;;) {
      if (!ReadLine(line, replyBytes, deadline)) return false;
      reply.lines.push_back(text(line));
      if (line.compare(0, 3, code) == 0 && (line.size() == 3 || line[3] == ' ')) break;
    }
  }
  reply_ = std::move(reply);
  return true;
}

const FtpReply& FtpSession::ReadReply(std::initializer_list<int> accepted) {
  ReadReplyUntil(steady_clock::time_point::max());
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
  Status("Connected.");
}

void FtpSession::Login() {
  ReadReply({220});
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

platform::TcpSocket FtpSession::ConnectPassive() {
  const FtpReply& reply = Command("PASV", {227});
  const PassiveAddress target = ParsePassiveReply(reply.lines.empty() ? "" : reply.lines.front());
  return platform::TcpSocket::Connect(
      target.address, target.port, steady_clock::now() + connectLimit_, kConnectSlice, IdleHook());
}

platform::TcpListener FtpSession::ListenActive() {
  platform::TcpListener listener =
      platform::TcpListener::Listen(control_.LocalAddress(), 0, kListenBacklog);
  Command(FormatPortCommand(listener.Address(), listener.Port()), {200});
  return listener;
}

void FtpSession::AcceptActive(platform::TcpListener& listener) {
  platform::TcpSocket connection;
  try {
    connection = listener.AcceptUnless(control_, platform::kNoDeadline, kWaitSlice, IdleHook());
  } catch (...) {
    listener.Close();
    ResyncAfterFailure(1);
    throw;
  }
  listener.Close();
  if (!connection.IsOpen()) {
    // The server answered instead of connecting; that answer ends the
    // transfer command.
    throw FtpReplyError(ReadReply({}));
  }
  data_ = std::move(connection);
}

// Moves the bytes between the events, then reads how the server saw it.
void FtpSession::RunTransfer(TransferDirection direction, std::int64_t total,
                             const std::function<void()>& pump) {
  Transfer transfer{direction};
  std::exception_ptr failure;
  bool began = false;
  running_ = &transfer;
  try {
    if (events_) events_->OnTransferBegin(direction, total);
    began = true;
    pump();
  } catch (...) {
    failure = std::current_exception();
  }
  running_ = nullptr;
  data_.Close();
  const auto keepFirst = [&](const auto& step) {
    try {
      step();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  if (began) {
    keepFirst([&] {
      if (events_) events_->OnTransferEnd(direction);
    });
  }
  keepFirst([&] { Status("Transfer complete"); });
  if (failure) {
    ResyncAfterFailure(transfer.abortSent ? 2 : 1);
    std::rethrow_exception(failure);
  }
  FinishTransfer(transfer);
}

void FtpSession::FinishTransfer(const Transfer& transfer) {
  const FtpReply final = ReadReply({});
  const bool accepted = Accepts({225, 226, 250, 426, 450}, final.code);
  const bool serverAborted = final.code == 426 || final.code == 450;
  if (transfer.abortSent) {
    // The answer to ABOR follows whatever the transfer's own reply was; it is
    // read even when that reply is a failure, so the next command gets its own.
    ReadReply({226, 225});
    if (!accepted) throw FtpReplyError(final);
    lastTransfer_.aborted = true;
    Status("Transfer aborted");
    return;
  }
  if (!accepted) throw FtpReplyError(final);
  if (serverAborted) {
    // The server gave up on its own: what arrived is not the whole file.
    lastTransfer_.aborted = true;
    Status("Transfer aborted");
    throw FtpReplyError(final);
  }
}

void FtpSession::ResyncAfterFailure(int pendingReplies) noexcept {
  try {
    const auto deadline = steady_clock::now() + kResyncLimit;
    for (int i = 0; i < pendingReplies && control_.IsOpen(); ++i) {
      if (!ReadReplyUntil(deadline)) CloseConnections();
    }
  } catch (...) {
    CloseConnections();
  }
}

void FtpSession::FetchFile(const std::string& remoteName, const std::string& localPath) {
  OperationScope scope(*this);
  RequireConnected();
  CheckArgument(remoteName);
  ScopeExit closeData([this] { data_.Close(); });
  lastTransfer_ = TransferOutcome{};
  LocalFile file = LocalFile::Create(localPath);
  Status("Starting FTP transfer");
  const std::string retrieve = "RETR " + remoteName;
  if (passive_) {
    data_ = ConnectPassive();
    Command(retrieve, {125, 150, 154});
  } else {
    platform::TcpListener listener = ListenActive();
    Command(retrieve, {125, 150, 154});
    AcceptActive(listener);
  }
  RunTransfer(TransferDirection::Download, 0, [&] {
    char piece[kReceivePiece];
    std::int64_t received = 0;
    for (;;) {
      const std::size_t n =
          data_.Receive(piece, sizeof piece, platform::kNoDeadline, kWaitSlice, IdleHook());
      if (n == 0) break;
      file.Write(piece, n);
      received += static_cast<std::int64_t>(n);
      lastTransfer_.bytes = received;
      if (events_ && !events_->OnProgress(TransferDirection::Download, received)) AbortTransfer();
    }
  });
  file.Close();
}

void FtpSession::SendFile(const std::string& localPath, const std::string& remoteName) {
  OperationScope scope(*this);
  RequireConnected();
  CheckArgument(remoteName);
  ScopeExit closeData([this] { data_.Close(); });
  LocalFile file = LocalFile::OpenRead(localPath);
  Status("Starting FTP transfer");
  const std::string store = "STOR " + remoteName;
  if (passive_) {
    const FtpReply& reply = Command("PASV", {227});
    const PassiveAddress target = ParsePassiveReply(reply.lines.empty() ? "" : reply.lines.front());
    SendLine(store);
    try {
      data_ = platform::TcpSocket::Connect(target.address, target.port,
                                           steady_clock::now() + connectLimit_, kConnectSlice,
                                           IdleHook());
    } catch (...) {
      // The server waits for this connection before it answers STOR.
      CloseConnections();
      throw;
    }
    ReadReply({110, 125, 150});
  } else {
    platform::TcpListener listener = ListenActive();
    Command(store, {125, 150});
    AcceptActive(listener);
  }
  RunTransfer(TransferDirection::Upload, file.Size(), [&] {
    char piece[kSendPiece];
    std::int64_t sent = 0;
    for (;;) {
      const std::size_t n = file.Read(piece, sizeof piece);
      if (n == 0) break;
      data_.Send(std::string_view(piece, n), platform::kNoDeadline, kWaitSlice, IdleHook());
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
}

}  // namespace korva::transfer
