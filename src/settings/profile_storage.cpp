#include "settings/profile_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "text/error.h"

namespace korva::settings::profile {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool ReadAll(int fd, std::string& bytes, std::size_t expected) {
  bytes.clear();
  bytes.reserve(expected);
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

[[noreturn]] void Refuse(const std::string& path) {
  throw KorvaError("Unable to write to " + path);
}

// The file the name stands for: a link is written through, not replaced.
std::string ResolvedTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string target(real);
  std::free(real);
  return target;
}

std::string TemporaryNameBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const auto slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + name + ".korva-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1));
}

}  // namespace

std::optional<FileSnapshot> ReadSnapshot(const std::string& path) {
  // A writer that changes the file while we read it shows up as a different
  // identity after the read; the bytes are then read again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto before = platform::IdentifyOpenFile(fd.get());
    if (!before) return std::nullopt;
    FileSnapshot snapshot;
    if (!ReadAll(fd.get(), snapshot.bytes, static_cast<std::size_t>(before->size))) {
      return std::nullopt;
    }
    const auto after = platform::IdentifyOpenFile(fd.get());
    if (!after) return std::nullopt;
    snapshot.identity = *after;
    if (*before == snapshot.identity &&
        static_cast<std::int64_t>(snapshot.bytes.size()) == snapshot.identity.size) {
      return snapshot;
    }
  }
  // Still changing: the caller gets what was there, unrecorded (an identity
  // that no later look at the file will match).
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  FileSnapshot snapshot;
  if (!ReadAll(fd.get(), snapshot.bytes, 0)) return std::nullopt;
  snapshot.identity.size = -1;
  return snapshot;
}

int TryReplaceFile(const std::string& path, std::string_view bytes) {
  const std::string target = ResolvedTarget(path);
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists) {
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    if (!S_ISREG(existing.st_mode)) return EINVAL;
    // A read-only file refuses the write as it does on Windows, whoever runs
    // the program (root included).
    if ((existing.st_mode & S_IWUSR) == 0) return EACCES;
    if (::access(target.c_str(), W_OK) != 0) return errno;
  }
  const std::string temp = TemporaryNameBeside(target);
  Descriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (fd.get() < 0) return errno;
  int error = 0;
  auto check = [&error](bool ok) {
    if (!ok && error == 0) error = errno ? errno : EIO;
  };
  check(WriteAll(fd.get(), bytes));
  if (error == 0 && exists) {
    check(::fchmod(fd.get(), existing.st_mode & 07777) == 0);
    // Only a privileged process can hand the file back to its owner; anyone
    // else writes it as their own, which a rewrite in place would not, but
    // the content is what the program relies on.
    if (error == 0 && ::geteuid() == 0) {
      [[maybe_unused]] const int ignored = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
    }
  }
  if (error == 0) check(::fsync(fd.get()) == 0);
  check(fd.Close());
  if (error == 0) check(::rename(temp.c_str(), target.c_str()) == 0);
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

void ReplaceFile(const std::string& path, std::string_view bytes) {
  if (TryReplaceFile(path, bytes) != 0) Refuse(path);
}

std::int64_t WallClockNanoseconds() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace korva::settings::profile
