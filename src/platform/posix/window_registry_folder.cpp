#include "platform/posix/window_registry_folder.h"

#include <dirent.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/file.h"
#include "platform/files.h"
#include "platform/posix/system_error.h"
#include "platform/posix/window_frames.h"

namespace korva::platform::posix {
namespace {

constexpr std::string_view kSocketSuffix = ".sock";
constexpr std::string_view kEntrySuffix = ".id";
constexpr std::string_view kPendingSuffix = ".new";
constexpr std::string_view kEntryTag = "korva-window";

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The folder must be ours alone: a folder another user prepared could hand
// our requests to their program.
bool PrivateFolder(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + path + ": " + SystemErrorText(errno);
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

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

OwnedHandle NewUnixSocket() {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  return fd < 0 ? OwnedHandle() : OwnedHandle(NativeHandle(fd), OwnedHandle::Kind::kSocket);
}

enum class Probe { kLive, kDead, kMissing, kUnknown };

// Connecting needs no answer from the window: the kernel queues the
// connection. Refused means nobody listens on that socket any more.
Probe ProbeSocket(const std::string& path, OwnedHandle* keep = nullptr) {
  sockaddr_un address;
  if (!FillAddress(path, address)) return Probe::kUnknown;
  OwnedHandle socket = NewUnixSocket();
  if (!socket.IsOpen()) return Probe::kUnknown;
  const int fd = static_cast<int>(socket.Get().Value());
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    if (keep) *keep = std::move(socket);
    return Probe::kLive;
  }
  // A full backlog: the window exists but has not taken its requests yet.
  if (errno == EAGAIN || errno == EINPROGRESS) return Probe::kLive;
  if (errno == ECONNREFUSED) return Probe::kDead;
  if (errno == ENOENT) return Probe::kMissing;
  return Probe::kUnknown;
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

std::optional<Fields> ReadEntryFile(const Folder& folder, const std::string& name) {
  try {
    File file = folder.OpenFile(name);
    const std::int64_t size = file.Size();
    if (size < 4 || size > static_cast<std::int64_t>(kMaxFrame) + 4) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const std::size_t n = file.Read(bytes.data() + got, bytes.size() - got);
      if (n == 0) return std::nullopt;
      got += n;
    }
    return DecodeFrame(bytes);
  } catch (const FileSystemError&) {
    return std::nullopt;
  }
}

std::string RandomTag() {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
    static std::uint64_t counter = 0;
    value =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (++counter * 0x9E3779B97F4A7C15ull);
  }
  static const char* digits = "0123456789abcdef";
  std::string tag;
  for (int i = 0; i < 16; ++i) tag.push_back(digits[(value >> (4 * i)) & 0xF]);
  return tag;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* e = ::readdir(dir)) names.emplace_back(e->d_name);
  ::closedir(dir);
  return names;
}

}  // namespace

std::string RegistryFolder(std::string& error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  std::string folder;
  if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
    folder = JoinPath(runtime, "korva-windows");
  } else {
    folder = "/tmp/korva-windows-" + std::to_string(::geteuid());
  }
  return PrivateFolder(folder, error) ? folder : std::string();
}

WindowEntry WindowEntry::New(const std::string& folder) {
  return WindowEntry{folder, std::to_string(::getpid()) + "-" + RandomTag()};
}

std::string WindowEntry::SocketPath() const {
  return JoinPath(folder, name + std::string(kSocketSuffix));
}

std::string WindowEntry::PendingSocketPath() const {
  return SocketPath() + std::string(kPendingSuffix);
}

std::string WindowEntry::EntryPath() const {
  return JoinPath(folder, name + std::string(kEntrySuffix));
}

void WriteEntryFile(const WindowEntry& entry, const std::string& className,
                    const std::string& title) {
  const std::string path = entry.EntryPath();
  ReplaceFileContent(path,
                     [&](File& file) {
                       file.Write(EncodeFrame({kEntryTag, className, title}));
                     },
                     {.ownerOnly = true, .temporaryPath = path + std::string(kPendingSuffix)});
}

OwnedHandle ListenAt(const std::string& path, std::string& error) {
  sockaddr_un address;
  if (!FillAddress(path, address)) {
    error = "window registry path too long: " + path;
    return OwnedHandle();
  }
  OwnedHandle listener = NewUnixSocket();
  if (!listener.IsOpen()) {
    error = "socket: " + SystemErrorText(errno);
    return listener;
  }
  const int fd = static_cast<int>(listener.Get().Value());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 64) != 0) {
    error = "cannot listen on " + path + ": " + SystemErrorText(errno);
    ::unlink(path.c_str());
    return OwnedHandle();
  }
  return listener;
}

OwnedHandle ConnectToWindow(const std::string& socketPath) {
  OwnedHandle connection;
  if (ProbeSocket(socketPath, &connection) != Probe::kLive) return OwnedHandle();
  return connection;
}

std::vector<std::string> MatchingSockets(const std::string& className, const std::string& title) {
  std::vector<std::string> found;
  std::string error;
  const std::string folder = RegistryFolder(error);
  if (folder.empty()) return found;
  std::optional<Folder> registry;
  try {
    registry = Folder::Open(folder);
  } catch (const FileSystemError&) {
    return found;
  }

  for (const std::string& name : FolderNames(folder)) {
    const std::string path = JoinPath(folder, name);
    if (EndsWith(name, kPendingSuffix)) {
      if (ProcessGone(name)) ::unlink(path.c_str());
      continue;
    }
    if (EndsWith(name, kSocketSuffix)) {
      // A socket without an entry file is found by nobody; remove it once dead.
      const WindowEntry entry{folder, name.substr(0, name.size() - kSocketSuffix.size())};
      struct stat st {};
      if (::lstat(entry.EntryPath().c_str(), &st) != 0 && ProbeSocket(path) == Probe::kDead)
        ::unlink(path.c_str());
      continue;
    }
    if (!EndsWith(name, kEntrySuffix)) continue;
    const WindowEntry entry{folder, name.substr(0, name.size() - kEntrySuffix.size())};
    const auto fields = ReadEntryFile(*registry, name);
    const bool matches = fields && fields->size() == 3 && (*fields)[0] == kEntryTag &&
                         (*fields)[1] == className && (*fields)[2] == title;
    switch (ProbeSocket(entry.SocketPath())) {
      case Probe::kLive:
        if (matches) found.push_back(entry.SocketPath());
        break;
      case Probe::kDead:
        ::unlink(entry.SocketPath().c_str());
        ::unlink(path.c_str());
        break;
      case Probe::kMissing:
        // Still registering, or its program died before it listened.
        if (ProcessGone(entry.name)) ::unlink(path.c_str());
        break;
      case Probe::kUnknown:
        break;
    }
  }
  return found;
}

}  // namespace korva::platform::posix
