#include "platform/file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>

#include "platform/files.h"
#include "platform/posix/local_time.h"
#include "platform/posix/system_error.h"
#include "platform/posix/write_primitive.h"

namespace korva::platform {
namespace {

using posix::ThrowFileError;

int Fd(const OwnedHandle& handle) {
  return static_cast<int>(handle.Get().Value());
}

int OpenRetrying(int folder, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(folder, name, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

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

struct stat StatusOf(const OwnedHandle& handle, const std::string& path) {
  struct stat st {};
  if (::fstat(Fd(handle), &st) != 0) ThrowFileError(path, errno);
  return st;
}

// O_NONBLOCK: opening a pipe must not wait for a writer; it changes nothing
// for a plain file, and anything else is refused right after.
File OpenPlainFile(int folder, const char* name, const std::string& path, int flags) {
  const int fd = OpenRetrying(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
  if (fd < 0) ThrowFileError(path, errno);
  File file(OwnedHandle(NativeHandle(fd)), path);
  struct stat st {};
  if (::fstat(fd, &st) != 0) ThrowFileError(path, errno);
  if (S_ISDIR(st.st_mode)) ThrowFileError(path, EISDIR);
  if (!S_ISREG(st.st_mode)) {
    throw FileSystemError(path, "Not a regular file", FileSystemError::Cause::kNotAFile);
  }
  return file;
}

File OpenForWriting(const std::string& path, int flags) {
  const int fd = OpenRetrying(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
  if (fd < 0) ThrowFileError(path, errno);
  return File(OwnedHandle(NativeHandle(fd)), path);
}

}  // namespace

void OwnedHandle::Reset() noexcept {
  if (handle_.IsValid()) ::close(static_cast<int>(handle_.Value()));
  handle_ = NativeHandle();
}

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

std::int64_t WallClockNanoseconds() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// --- File ---

File File::OpenRead(const std::string& path) {
  return OpenPlainFile(AT_FDCWD, path.c_str(), path, 0);
}

File File::OpenReadHeld(const std::string& path, std::int64_t limit) {
  // POSIX cannot forbid others to write into a file that we hold open. A
  // private copy in memory (a Linux memfd), which no other process can
  // reach, stands in for it: the bytes read from it now are the bytes read
  // from it later.
  File source = OpenRead(path);
  const int fd = ::memfd_create("korva-held", MFD_CLOEXEC);
  if (fd < 0) ThrowFileError(path, errno);
  File copy(OwnedHandle(NativeHandle(fd)), path);
  constexpr std::int64_t kPiece = std::int64_t{1} << 18;
  std::string piece(static_cast<std::size_t>(kPiece), '\0');
  std::int64_t copied = 0;
  while (limit < 0 || copied <= limit) {
    const std::int64_t want = limit < 0 ? kPiece : std::min(kPiece, limit + 1 - copied);
    const std::size_t n = source.Read(piece.data(), static_cast<std::size_t>(want));
    if (n == 0) break;
    copy.Write(piece.data(), n);
    copied += static_cast<std::int64_t>(n);
  }
  return copy;
}

File File::Create(const std::string& path) {
  return OpenForWriting(path, O_TRUNC);
}

File File::OpenAppend(const std::string& path) {
  return OpenForWriting(path, O_APPEND);
}

std::int64_t File::Size() const {
  return static_cast<std::int64_t>(StatusOf(handle_, path_).st_size);
}

FileIdentity File::Identity() const {
  return IdentityOf(StatusOf(handle_, path_));
}

std::size_t File::Read(void* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::read(Fd(handle_), buffer, capacity);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) ThrowFileError(path_, errno);
  }
}

std::size_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n =
        ::pread(Fd(handle_), out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(path_, errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void File::Write(const void* data, std::size_t size) {
  const auto* in = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = posix::WriteSome(Fd(handle_), in, size, path_);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(path_, errno);
    }
    in += n;
    size -= static_cast<std::size_t>(n);
  }
}

bool File::SetModificationTime(const LocalDateTime& local) {
  const auto times = posix::ModificationTimes(local);
  if (!times) return false;
  if (::futimens(Fd(handle_), times->data()) != 0) ThrowFileError(path_, errno);
  return true;
}

void File::MakeReadOnly() {
  const mode_t mode = StatusOf(handle_, path_).st_mode & 07777;
  if (::fchmod(Fd(handle_), mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) != 0) {
    ThrowFileError(path_, errno);
  }
}

void File::FlushToDisk() {
  if (::fsync(Fd(handle_)) != 0) ThrowFileError(path_, errno);
}

void File::Close() {
  const NativeHandle handle = handle_.Release();
  if (handle.IsValid() && ::close(static_cast<int>(handle.Value())) != 0) {
    ThrowFileError(path_, errno);
  }
}

// --- Folder ---

Folder Folder::Open(const std::string& path) {
  const int fd = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) ThrowFileError(path, errno);
  return Folder(OwnedHandle(NativeHandle(fd)), path);
}

Folder::EntryType Folder::TypeOf(const std::string& name) const {
  struct stat st {};
  if (::fstatat(Fd(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return EntryType::kMissing;
    ThrowFileError(JoinPath(path_, name), errno);
  }
  if (S_ISDIR(st.st_mode)) return EntryType::kFolder;
  if (S_ISREG(st.st_mode)) return EntryType::kFile;
  return EntryType::kOther;
}

Folder Folder::OpenSubfolder(const std::string& name) const {
  const std::string path = JoinPath(path_, name);
  const int fd =
      OpenRetrying(Fd(handle_), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return Folder(OwnedHandle(NativeHandle(fd)), path);
  // O_NOFOLLOW reports a link as ELOOP; say what it is.
  const int error = errno;
  struct stat st {};
  if (::fstatat(Fd(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    throw FileSystemError(path, posix::SystemErrorText(error),
                          FileSystemError::Cause::kSymbolicLink);
  }
  ThrowFileError(path, error);
}

void Folder::CreateSubfolder(const std::string& name) const {
  if (::mkdirat(Fd(handle_), name.c_str(), 0777) != 0 && errno != EEXIST) {
    ThrowFileError(JoinPath(path_, name), errno);
  }
}

File Folder::CreateFile(const std::string& name) const {
  const std::string path = JoinPath(path_, name);
  const int fd = OpenRetrying(Fd(handle_), name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) ThrowFileError(path, errno);
  return File(OwnedHandle(NativeHandle(fd)), path);
}

File Folder::OpenFile(const std::string& name) const {
  return OpenPlainFile(Fd(handle_), name.c_str(), JoinPath(path_, name), O_NOFOLLOW);
}

void Folder::Remove(const std::string& name) const {
  if (::unlinkat(Fd(handle_), name.c_str(), 0) != 0) ThrowFileError(JoinPath(path_, name), errno);
}

void Folder::Replace(const std::string& from, const std::string& to) const {
  if (::renameat(Fd(handle_), from.c_str(), Fd(handle_), to.c_str()) != 0) {
    ThrowFileError(JoinPath(path_, to), errno);
  }
}

}  // namespace korva::platform
