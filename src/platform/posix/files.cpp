#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>

#include "text/error.h"

namespace korva::platform {
namespace {

std::optional<std::string>& ExecutableOverride() {
  static std::optional<std::string> path;
  return path;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += kPathSeparator;
  path += name;
  return path;
}

void OverrideExecutablePath(std::optional<std::string> path) {
  ExecutableOverride() = std::move(path);
}

std::string ExecutablePath() {
  if (ExecutableOverride()) return *ExecutableOverride();
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const auto slash = path.rfind(kPathSeparator);
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::int64_t> FileSize(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

bool DeleteFile(const std::string& path) {
  if (DirectoryExists(path)) {
    errno = EISDIR;
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  // link + unlink gives "fail when the target exists" atomically on one file
  // system; renameat2(RENAME_NOREPLACE) is not available everywhere.
  struct stat st{};
  if (::lstat(from.c_str(), &st) != 0) return false;
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // Hard links refused (another file system, or a file system without them):
  // check and rename.
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CopyFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st{};
  if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(in);
    errno = EISDIR;
    return false;
  }
  const std::string temp = to + ".korva-copy";
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    errno = e;
    return false;
  }
  bool ok = true;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(out, buffer, static_cast<std::size_t>(n)))) {
      ok = false;
      break;
    }
    if (n == 0) break;
  }
  int e = errno;
  if (ok && ::fsync(out) != 0) {
    ok = false;
    e = errno;
  }
  if (::close(out) != 0 && ok) {
    ok = false;
    e = errno;
  }
  ::close(in);
  if (ok) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, temp.c_str(), times, 0);
    // A read-only target is replaced like any other.
    if (::rename(temp.c_str(), to.c_str()) != 0) {
      ok = false;
      e = errno;
    }
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = e;
  }
  return ok;
}

bool CreateDir(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  std::string current;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    const auto next = path.find(kPathSeparator, pos);
    const std::size_t end = next == std::string::npos ? path.size() : next;
    current = path.substr(0, end);
    if (!current.empty() && !DirectoryExists(current)) {
      if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return DirectoryExists(path);
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return ::chmod(path.c_str(), mode) == 0;
}

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  std::uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (!S_ISDIR(st.st_mode)) attributes |= kAttrArchive;
  return attributes;
}

bool SetFileModificationTime(const std::string& path, const LocalDateTime& local) {
  struct tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  const time_t t = ::mktime(&tm);
  if (t == static_cast<time_t>(-1)) {
    errno = EINVAL;
    return false;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = static_cast<long>(local.millisecond) * 1000000L;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::optional<LocalDateTime> GetFileModificationTime(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  struct tm tm{};
  const time_t t = st.st_mtim.tv_sec;
  ::localtime_r(&t, &tm);
  return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                       tm.tm_min,         tm.tm_sec,     static_cast<int>(st.st_mtim.tv_nsec / 1000000)};
}

namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.mtimeSeconds = st.st_mtim.tv_sec;
  id.mtimeNanoseconds = st.st_mtim.tv_nsec;
  id.ctimeSeconds = st.st_ctim.tv_sec;
  id.ctimeNanoseconds = st.st_ctim.tv_nsec;
  return id;
}

}  // namespace

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

std::optional<FileIdentity> IdentifyOpenFile(int descriptor) {
  struct stat st{};
  if (::fstat(descriptor, &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError(path + ": " + SystemErrorText(errno));
  const bool ok = WriteAll(fd, bytes.data(), bytes.size());
  const int e = errno;
  if (::close(fd) != 0 || !ok) throw FileError(path + ": " + SystemErrorText(ok ? errno : e));
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError(path + ": " + SystemErrorText(errno));
  const bool ok = WriteAll(fd, bytes.data(), bytes.size());
  const int e = errno;
  if (::close(fd) != 0 || !ok) throw FileError(path + ": " + SystemErrorText(ok ? errno : e));
}

std::string SystemErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("error ") + std::to_string(error);
}

}  // namespace korva::platform
