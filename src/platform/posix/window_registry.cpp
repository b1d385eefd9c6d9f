#include "platform/window_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

namespace korva::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Entries: "<pid>-<random>.sock" (the window's listening socket) and
// "<pid>-<random>.id" (its class and title). A socket is bound under a
// ".new" name and renamed into place only once it listens and its entry file
// exists, so a ".sock" nobody listens on always belongs to a dead program.
constexpr std::string_view kSocketSuffix = ".sock";
constexpr std::string_view kEntrySuffix = ".id";
constexpr std::string_view kPendingSuffix = ".new";

// Class names and titles are short; anything larger is not ours.
constexpr std::uint32_t kMaxFrame = 64 * 1024;
// A request is one small frame written right after connecting; a peer that
// takes longer is dropped so that it cannot stall the window.
constexpr std::chrono::milliseconds kRequestReadTimeout{250};

constexpr std::string_view kVerbClose = "close";
constexpr std::string_view kAnswerClosed = "closed";
constexpr std::string_view kAnswerOther = "other";
constexpr std::string_view kEntryTag = "korva-window";

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A frame: 32-bit little-endian payload length, then the payload, a list of
// fields each written as 32-bit little-endian length and bytes.
void PutLength(std::string& out, std::size_t n) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

std::uint32_t GetLength(const char* p) {
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(p[i]);
  return n;
}

std::string EncodeFrame(const std::vector<std::string_view>& fields) {
  std::string payload;
  for (auto f : fields) {
    PutLength(payload, f.size());
    payload.append(f);
  }
  std::string frame;
  PutLength(frame, payload.size());
  return frame + payload;
}

std::optional<std::vector<std::string>> DecodePayload(std::string_view payload) {
  std::vector<std::string> fields;
  while (!payload.empty()) {
    if (payload.size() < 4) return std::nullopt;
    const std::uint32_t n = GetLength(payload.data());
    payload.remove_prefix(4);
    if (n > payload.size()) return std::nullopt;
    fields.emplace_back(payload.substr(0, n));
    payload.remove_prefix(n);
  }
  return fields;
}

// Reads one whole frame before the deadline; nullopt on end of stream, a
// malformed or oversized frame, an error or time out.
std::optional<std::vector<std::string>> ReadFrame(int fd, Clock::time_point deadline) {
  std::string buffer;
  std::size_t wanted = 4;
  bool haveLength = false;
  while (buffer.size() < wanted) {
    char chunk[4096];
    const std::size_t room = std::min(sizeof chunk, wanted - buffer.size());
    const ssize_t n = ::recv(fd, chunk, room, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return std::nullopt;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) < 0 && errno != EINTR)
        return std::nullopt;
    } else if (errno != EINTR) {
      return std::nullopt;
    }
    if (!haveLength && buffer.size() == 4) {
      const std::uint32_t n = GetLength(buffer.data());
      if (n > kMaxFrame) return std::nullopt;
      wanted = 4 + n;
      haveLength = true;
    }
  }
  return DecodePayload(std::string_view(buffer).substr(4));
}

bool WriteAll(int fd, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) < 0 && errno != EINTR)
        return false;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The folder must be ours alone: a folder another user prepared could hand
// our requests to their program.
bool PrivateFolder(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = path + " is not a folder";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    error = path + " belongs to another user";
    return false;
  }
  if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
    error = path + " is open to other users";
    return false;
  }
  return true;
}

std::string RegistryFolder(std::string& error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  std::string folder;
  if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
    folder = std::string(runtime) + "/korva-windows";
  } else {
    folder = "/tmp/korva-windows-" + std::to_string(::geteuid());
  }
  return PrivateFolder(folder, error) ? folder : std::string();
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

enum class Probe { Live, Dead, Missing, Unknown };

// Connecting needs no answer from the window: the kernel queues the
// connection. Refused means nobody listens on that socket any more.
Probe ProbeSocket(const std::string& path, Fd* keep = nullptr) {
  sockaddr_un address;
  if (!FillAddress(path, address)) return Probe::Unknown;
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return Probe::Unknown;
  int result;
  do {
    result = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    if (keep) *keep = std::move(fd);
    return Probe::Live;
  }
  // A full backlog: the window exists but has not taken its requests yet.
  if (errno == EAGAIN || errno == EINPROGRESS) return Probe::Live;
  if (errno == ECONNREFUSED) return Probe::Dead;
  if (errno == ENOENT) return Probe::Missing;
  return Probe::Unknown;
}

bool ProcessGone(std::string_view entry) {
  long pid = 0;
  std::size_t i = 0;
  while (i < entry.size() && i < 10 && entry[i] >= '0' && entry[i] <= '9') {
    pid = pid * 10 + (entry[i] - '0');
    ++i;
  }
  if (i == 0 || i >= entry.size() || entry[i] != '-' || pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::optional<std::vector<std::string>> ReadEntryFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.Valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 4 ||
      st.st_size > static_cast<off_t>(kMaxFrame) + 4)
    return std::nullopt;
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd.Get(), bytes.data() + got, bytes.size() - got);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return std::nullopt;
    }
    got += static_cast<std::size_t>(n);
  }
  if (GetLength(bytes.data()) != bytes.size() - 4) return std::nullopt;
  return DecodePayload(std::string_view(bytes).substr(4));
}

// Written beside and renamed over the old one: readers see the old or the new
// entry, never half of one.
bool WriteEntryFile(const std::string& path, const std::string& className,
                    const std::string& title) {
  const std::string temp = path + std::string(kPendingSuffix);
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.Valid()) return false;
  const std::string bytes = EncodeFrame({kEntryTag, className, title});
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd.Get(), rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::unlink(temp.c_str());
      return false;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  fd.Reset();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string RandomTag() {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
    static std::uint64_t counter = 0;
    value = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()) ^
            (++counter * 0x9E3779B97F4A7C15ull);
  }
  static const char* digits = "0123456789abcdef";
  std::string tag;
  for (int i = 0; i < 16; ++i) tag.push_back(digits[(value >> (4 * i)) & 0xF]);
  return tag;
}

// Live sockets of windows with exactly that class and title; stale entries of
// dead programs are removed on the way.
std::vector<std::string> MatchingSockets(const std::string& className, const std::string& title) {
  std::vector<std::string> found;
  std::string error;
  const std::string folder = RegistryFolder(error);
  if (folder.empty()) return found;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return found;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) names.emplace_back(e->d_name);
  ::closedir(dir);

  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    if (EndsWith(name, kPendingSuffix)) {
      if (ProcessGone(name)) ::unlink(path.c_str());
      continue;
    }
    if (EndsWith(name, kSocketSuffix)) {
      // A socket without an entry file is found by nobody; remove it once dead.
      const std::string entry = name.substr(0, name.size() - kSocketSuffix.size());
      struct stat st {};
      if (::lstat((folder + "/" + entry + std::string(kEntrySuffix)).c_str(), &st) != 0 &&
          ProbeSocket(path) == Probe::Dead)
        ::unlink(path.c_str());
      continue;
    }
    if (!EndsWith(name, kEntrySuffix)) continue;
    const std::string entry = name.substr(0, name.size() - kEntrySuffix.size());
    const std::string socketPath = folder + "/" + entry + std::string(kSocketSuffix);
    const auto fields = ReadEntryFile(path);
    const bool matches = fields && fields->size() == 3 && (*fields)[0] == kEntryTag &&
                         (*fields)[1] == className && (*fields)[2] == title;
    switch (ProbeSocket(socketPath)) {
      case Probe::Live:
        if (matches) found.push_back(socketPath);
        break;
      case Probe::Dead:
        ::unlink(socketPath.c_str());
        ::unlink(path.c_str());
        break;
      case Probe::Missing:
        // Still registering, or its program died before it listened.
        if (ProcessGone(entry)) ::unlink(path.c_str());
        break;
      case Probe::Unknown:
        break;
    }
  }
  return found;
}

}  // namespace

struct RegisteredWindow::State {
  std::string className;
  std::string title;
  std::string folder;
  std::string entry;
  Fd listener;
  std::string error;
  bool registered = false;
  bool gone = false;  // the RegisteredWindow was destroyed
  bool serving = false;
  struct Request {
    Fd connection;
    std::vector<std::string> fields;
  };
  std::deque<Request> queue;

  std::string EntryPath() const { return folder + "/" + entry + std::string(kEntrySuffix); }
  std::string SocketPath() const { return folder + "/" + entry + std::string(kSocketSuffix); }

  void Register() {
    folder = RegistryFolder(error);
    if (folder.empty()) return;
    entry = std::to_string(::getpid()) + "-" + RandomTag();
    const std::string pending = SocketPath() + std::string(kPendingSuffix);
    sockaddr_un address;
    if (!FillAddress(pending, address)) {
      error = "window registry path too long: " + pending;
      return;
    }
    listener = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.Valid()) {
      error = std::string("socket: ") + std::strerror(errno);
      return;
    }
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), 64) != 0) {
      error = "cannot listen on " + pending + ": " + std::strerror(errno);
      ::unlink(pending.c_str());
      listener.Reset();
      return;
    }
    if (!WriteEntryFile(EntryPath(), className, title) ||
        ::rename(pending.c_str(), SocketPath().c_str()) != 0) {
      error = "cannot register the window in " + folder + ": " + std::strerror(errno);
      ::unlink(pending.c_str());
      ::unlink(EntryPath().c_str());
      listener.Reset();
      return;
    }
    registered = true;
  }

  void Unregister() {
    if (registered) {
      // Socket first: from then on nobody finds a window that is going away.
      ::unlink(SocketPath().c_str());
      ::unlink(EntryPath().c_str());
      registered = false;
    }
    listener.Reset();
    queue.clear();
  }

  void TakeWaitingRequests() {
    if (!listener.Valid()) return;
    for (;;) {
      Fd connection(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (!connection.Valid()) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      // Probes from FindWindow close without a word: nothing to keep.
      auto fields = ReadFrame(connection.Get(), Clock::now() + kRequestReadTimeout);
      if (fields && !fields->empty()) queue.push_back({std::move(connection), std::move(*fields)});
    }
  }
};

RegisteredWindow::RegisteredWindow(std::string className, std::string title)
    : state_(std::make_shared<State>()) {
  state_->className = std::move(className);
  state_->title = std::move(title);
  state_->Register();
}

RegisteredWindow::~RegisteredWindow() {
  state_->Unregister();
  state_->gone = true;
}

bool RegisteredWindow::IsRegistered() const {
  return state_->registered;
}
const std::string& RegisteredWindow::RegistrationError() const {
  return state_->error;
}
const std::string& RegisteredWindow::ClassName() const {
  return state_->className;
}
const std::string& RegisteredWindow::Title() const {
  return state_->title;
}

void RegisteredWindow::SetTitle(std::string title) {
  state_->title = std::move(title);
  if (state_->registered && !WriteEntryFile(state_->EntryPath(), state_->className, state_->title))
    state_->error = "cannot update the window's title in " + state_->folder;
}

int RegisteredWindow::NotificationHandle() const {
  return state_->listener.Get();
}

void RegisteredWindow::ServeRequests(const std::function<void()>& onClose) {
  // Held here: onClose may destroy the RegisteredWindow, not what we use.
  const std::shared_ptr<State> state = state_;
  state->TakeWaitingRequests();
  if (state->serving) return;
  state->serving = true;
  struct Done {
    State& s;
    ~Done() { s.serving = false; }
  } done{*state};

  while (!state->queue.empty() && !state->gone) {
    State::Request request = std::move(state->queue.front());
    state->queue.pop_front();
    const auto& f = request.fields;
    const bool forUs =
        f.size() == 3 && f[0] == kVerbClose && f[1] == state->className && f[2] == state->title;
    const auto deadline = Clock::now() + kRequestReadTimeout;
    if (!forUs) {
      WriteAll(request.connection.Get(), EncodeFrame({kAnswerOther}), deadline);
      continue;
    }
    // The answer goes out after onClose, also when it fails: the sender must
    // not wait for nothing.
    try {
      onClose();
    } catch (...) {
      WriteAll(request.connection.Get(), EncodeFrame({kAnswerClosed}),
               Clock::now() + kRequestReadTimeout);
      throw;
    }
    WriteAll(request.connection.Get(), EncodeFrame({kAnswerClosed}),
             Clock::now() + kRequestReadTimeout);
  }
}

bool FindWindow(const std::string& className, const std::string& title) {
  return !MatchingSockets(className, title).empty();
}

bool SendCloseRequest(const std::string& className, const std::string& title,
                      std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (const std::string& socketPath : MatchingSockets(className, title)) {
    Fd connection;
    if (ProbeSocket(socketPath, &connection) != Probe::Live || !connection.Valid()) continue;
    if (!WriteAll(connection.Get(), EncodeFrame({kVerbClose, className, title}), deadline))
      continue;
    const auto answer = ReadFrame(connection.Get(), deadline);
    if (!answer || answer->empty()) return false;
    if ((*answer)[0] == kAnswerClosed) return true;
    // "other": its title changed since we read its entry; try the next one.
  }
  return false;
}

std::string WindowRegistryFolder() {
  std::string error;
  return RegistryFolder(error);
}

}  // namespace korva::platform
