#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/file_primitives.h"
#include "platform/posix/local_time.h"
#include "platform/posix/system_error.h"

namespace korva::platform {

const char kPathSeparator = '/';

namespace {

using posix::ThrowFileError;

int Fd(NativeHandle handle) {
  return static_cast<int>(handle.Value());
}

}  // namespace

namespace file_primitives {

bool IsSeparator(char c) {
  return c == kPathSeparator;
}

std::size_t RootLength(std::string_view /*path*/) {
  return 0;
}

std::string SystemExecutablePath() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

// A POSIX path is bytes, handed back to the system as they came.
bool SystemExecutablePathFits() {
  return true;
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(::getpid());
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) ThrowFileError(path, errno);
}

void ThrowNoSuchPath(const std::string& path) {
  ThrowFileError(path, ENOENT);
}

void ThrowNameTaken(const std::string& path) {
  ThrowFileError(path, EEXIST);
}

std::function<void(File&)> TakeTimes(const File& source) {
  struct stat st {};
  if (::fstat(Fd(source.Handle()), &st) != 0) ThrowFileError(source.Path(), errno);
  return [times = std::array<timespec, 2>{st.st_atim, st.st_mtim}](File& file) {
    if (::futimens(Fd(file.Handle()), times.data()) != 0) ThrowFileError(file.Path(), errno);
  };
}

std::string WrittenTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string target(real);
  std::free(real);
  return target;
}

std::optional<EditedFile> CheckEditable(const std::string& path, const std::string& target) {
  struct stat existing {};
  if (::stat(target.c_str(), &existing) != 0) return std::nullopt;
  if (S_ISDIR(existing.st_mode)) ThrowFileError(path, EISDIR);
  if (!S_ISREG(existing.st_mode)) ThrowFileError(path, EINVAL);
  // A read-only file refuses the write as it does on Windows, whoever runs
  // the program (root included).
  if ((existing.st_mode & S_IWUSR) == 0) ThrowFileError(path, EACCES);
  if (::access(target.c_str(), W_OK) != 0) ThrowFileError(path, errno);
  return EditedFile{existing.st_mode, existing.st_uid, existing.st_gid};
}

File CreateTemporary(const std::string& path, const std::string& temporary, bool fresh,
                     bool ownerOnly) {
  const int fd = ::open(temporary.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (fresh ? O_EXCL : O_TRUNC),
                        ownerOnly ? 0600 : 0666);
  if (fd < 0) ThrowFileError(path, errno);
  return File(OwnedHandle(NativeHandle(fd)), temporary);
}

void KeepWhileOpen(File& file, const EditedFile& edited) {
  if (::fchmod(Fd(file.Handle()), edited.mode & 07777) != 0) ThrowFileError(file.Path(), errno);
  // Only a privileged process can hand the file back to its owner; anyone
  // else writes it as their own, which a rewrite in place would not, but the
  // content is what the program relies on.
  if (::geteuid() == 0) {
    [[maybe_unused]] const int ignored = ::fchown(Fd(file.Handle()), edited.owner, edited.group);
  }
}

// Nothing is left to hand on: the file took its mode and owner while open.
void KeepOnceClosed(const std::string& /*temporary*/, const std::string& /*target*/,
                    const std::optional<EditedFile>& /*edited*/) {}

void PutInPlace(const std::string& path, const std::string& temporary, const std::string& target) {
  if (::rename(temporary.c_str(), target.c_str()) != 0) ThrowFileError(path, errno);
}

}  // namespace file_primitives

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

bool CreateDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
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

}  // namespace korva::platform
