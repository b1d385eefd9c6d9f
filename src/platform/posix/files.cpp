#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/posix/local_time.h"
#include "platform/posix/system_error.h"

namespace korva::platform {

const char kPathSeparator = '/';

namespace {

constexpr char kSeparator = kPathSeparator;

using posix::ThrowFileError;

std::optional<std::string>& ExecutableOverride() {
  static std::optional<std::string> path;
  return path;
}

int Fd(NativeHandle handle) {
  return static_cast<int>(handle.Value());
}

struct stat StatusOf(const File& file) {
  struct stat st {};
  if (::fstat(Fd(file.Handle()), &st) != 0) ThrowFileError(file.Path(), errno);
  return st;
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
  const std::string_view name = FileNameOf(target);
  const std::string folder = target.substr(0, target.size() - name.size());
  return folder + "." + std::string(name) + ".korva-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1));
}

// What a file edited in place must be: a plain file we may write. Returns
// its status when it exists.
std::optional<struct stat> CheckEditable(const std::string& path, const std::string& target) {
  struct stat existing {};
  if (::stat(target.c_str(), &existing) != 0) return std::nullopt;
  if (S_ISDIR(existing.st_mode)) ThrowFileError(path, EISDIR);
  if (!S_ISREG(existing.st_mode)) ThrowFileError(path, EINVAL);
  // A read-only file refuses the write as it does on Windows, whoever runs
  // the program (root included).
  if ((existing.st_mode & S_IWUSR) == 0) ThrowFileError(path, EACCES);
  if (::access(target.c_str(), W_OK) != 0) ThrowFileError(path, errno);
  return existing;
}

void KeepAttributes(File& file, const struct stat& existing) {
  if (::fchmod(Fd(file.Handle()), existing.st_mode & 07777) != 0) {
    ThrowFileError(file.Path(), errno);
  }
  // Only a privileged process can hand the file back to its owner; anyone
  // else writes it as their own, which a rewrite in place would not, but the
  // content is what the program relies on.
  if (::geteuid() == 0) {
    [[maybe_unused]] const int ignored =
        ::fchown(Fd(file.Handle()), existing.st_uid, existing.st_gid);
  }
}

}  // namespace

std::string_view FileNameOf(std::string_view path) {
  const auto slash = path.rfind(kSeparator);
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingSeparator(std::string_view folder) {
  std::string path = ExcludeTrailingSeparator(folder);
  if (path.empty() || path.back() != kSeparator) path += kSeparator;
  return path;
}

std::string ExcludeTrailingSeparator(std::string_view folder) {
  std::size_t length = folder.size();
  while (length > 1 && folder[length - 1] == kSeparator) --length;
  return std::string(folder.substr(0, length));
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
  const auto slash = path.rfind(kSeparator);
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::vector<std::string> FileNamesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* e = ::readdir(dir)) {
    if (FileExists(JoinPath(folder, e->d_name))) names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  return names;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::int64_t> FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

bool DeleteFile(const std::string& path) {
  if (DirectoryExists(path)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  // link + unlink gives "fail when the target exists" atomically on one file
  // system; renameat2(RENAME_NOREPLACE) is not available everywhere.
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return false;
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // Hard links refused (another file system, or a file system without them):
  // check and rename.
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CopyFile(const std::string& from, const std::string& to) {
  try {
    File in = File::OpenRead(from);
    const struct stat source = StatusOf(in);
    // A read-only target is replaced like any other.
    ReplaceFileContent(to, [&](File& out) {
      char buffer[1 << 16];
      while (const std::size_t n = in.Read(buffer, sizeof buffer)) out.Write(buffer, n);
      const struct timespec times[2] = {source.st_atim, source.st_mtim};
      if (::futimens(Fd(out.Handle()), times) != 0) ThrowFileError(out.Path(), errno);
    });
    return true;
  } catch (const FileSystemError&) {
    return false;
  }
}

bool CreateDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
}

void CreateFolders(const std::string& path) {
  if (path.empty()) ThrowFileError(path, ENOENT);
  if (DirectoryExists(path)) return;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    const auto next = path.find(kSeparator, pos);
    const std::size_t end = next == std::string::npos ? path.size() : next;
    const std::string current = path.substr(0, end);
    if (!current.empty() && !DirectoryExists(current)) {
      if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST) ThrowFileError(current, errno);
    }
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  // A file under the last name.
  if (!DirectoryExists(path)) ThrowFileError(path, EEXIST);
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  struct stat st {};
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
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  std::uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (!S_ISDIR(st.st_mode)) attributes |= kAttrArchive;
  return attributes;
}

bool SetFileModificationTime(const std::string& path, const LocalDateTime& local) {
  const auto times = posix::ModificationTimes(local);
  return times && ::utimensat(AT_FDCWD, path.c_str(), times->data(), 0) == 0;
}

std::optional<LocalDateTime> GetFileModificationTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return posix::SystemSecondsToLocal(st.st_mtim.tv_sec,
                                     static_cast<int>(st.st_mtim.tv_nsec / 1000000));
}

void ReplaceFileContent(const std::string& path, const std::function<void(File&)>& write,
                        const ReplaceOptions& options) {
  const bool asEdited = options.mode == ReplaceMode::kAsEdited;
  const std::string target = asEdited ? ResolvedTarget(path) : path;
  const std::optional<struct stat> existing = asEdited ? CheckEditable(path, target) : std::nullopt;

  // A name of our own is created afresh; a name the caller gives may hold
  // what an earlier attempt left.
  const bool ownName = options.temporaryPath.empty();
  const std::string temporary = ownName ? TemporaryNameBeside(target) : options.temporaryPath;
  const int fd = ::open(temporary.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (ownName ? O_EXCL : O_TRUNC),
                        options.ownerOnly ? 0600 : 0666);
  if (fd < 0) ThrowFileError(path, errno);
  File file(OwnedHandle(NativeHandle(fd)), temporary);
  try {
    write(file);
    if (existing) KeepAttributes(file, *existing);
    file.FlushToDisk();
    file.Close();
    if (::rename(temporary.c_str(), target.c_str()) != 0) ThrowFileError(path, errno);
  } catch (const FileSystemError& e) {
    ::unlink(temporary.c_str());
    throw FileSystemError(path, e.Reason(), e.WhatCause());
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace korva::platform
