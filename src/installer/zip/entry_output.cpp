#include "installer/zip/entry_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/files.h"

namespace korva::installer {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw EntryFailure(what + " " + path + ": " + platform::SystemErrorText(error));
}

std::string Shown(const std::string& root, const std::vector<std::string>& folders,
                  std::size_t count) {
  std::string path = root;
  for (std::size_t i = 0; i < count; ++i) path = platform::JoinPath(path, folders[i]);
  return path;
}

}  // namespace

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

FileHandle OpenOutputFolder(const std::string& root, const std::vector<std::string>& folders) {
  if (!platform::DirectoryExists(root) && !platform::ForceDirectories(root)) {
    Fail("Cannot create folder", root, errno);
  }
  FileHandle current(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!current.IsOpen()) Fail("Cannot open folder", root, errno);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const char* part = folders[i].c_str();
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(current.Get(), part, flags);
    if (fd < 0 && errno == ENOENT) {
      if (::mkdirat(current.Get(), part, 0777) != 0 && errno != EEXIST) {
        Fail("Cannot create folder", Shown(root, folders, i + 1), errno);
      }
      fd = ::openat(current.Get(), part, flags);
    }
    if (fd < 0) {
      // O_NOFOLLOW reports a link as ELOOP; say what it is.
      const int error = errno;
      struct stat st {};
      if (::fstatat(current.Get(), part, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        throw EntryFailure("Folder " + Shown(root, folders, i + 1) +
                           " is a symbolic link, which extraction does not follow");
      }
      Fail("Cannot open folder", Shown(root, folders, i + 1), error);
    }
    current = FileHandle(fd);
  }
  return current;
}

FileHandle CreateOutputFile(const FileHandle& folder, const std::string& name,
                            const std::string& shownPath) {
  struct stat st {};
  if (::fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) {
      throw EntryFailure("Cannot replace " + shownPath + ": a folder of that name exists");
    }
    // Deleting needs no write permission on the file itself, so a read-only
    // target goes like any other.
    if (::unlinkat(folder.Get(), name.c_str(), 0) != 0) Fail("Cannot replace", shownPath, errno);
  } else if (errno != ENOENT) {
    Fail("Cannot create", shownPath, errno);
  }
  // O_EXCL: if something took the name between the delete and now, refuse
  // rather than write through it.
  const int fd = ::openat(folder.Get(), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) Fail("Cannot create", shownPath, errno);
  return FileHandle(fd);
}

void WriteOutput(const FileHandle& file, const unsigned char* data, std::size_t size,
                 const std::string& shownPath) {
  while (size > 0) {
    const ssize_t n = ::write(file.Get(), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write", shownPath, errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void FinishOutputFile(FileHandle& file, const std::optional<platform::LocalDateTime>& modified,
                      bool readOnly, const std::string& shownPath) {
  if (modified) {
    struct tm tm {};
    tm.tm_year = modified->year - 1900;
    tm.tm_mon = modified->month - 1;
    tm.tm_mday = modified->day;
    tm.tm_hour = modified->hour;
    tm.tm_min = modified->minute;
    tm.tm_sec = modified->second;
    tm.tm_isdst = -1;
    const time_t t = ::mktime(&tm);
    if (t != static_cast<time_t>(-1)) {
      struct timespec times[2];
      times[0].tv_sec = 0;
      times[0].tv_nsec = UTIME_OMIT;
      times[1].tv_sec = t;
      times[1].tv_nsec = 0;
      if (::futimens(file.Get(), times) != 0) Fail("Cannot set the time of", shownPath, errno);
    }
  }
  if (::fsync(file.Get()) != 0) Fail("Cannot write", shownPath, errno);
  if (readOnly) {
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 ||
        ::fchmod(file.Get(),
                 st.st_mode & 07777 & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) != 0) {
      Fail("Cannot set the attributes of", shownPath, errno);
    }
  }
  const int fd = file.Release();
  if (::close(fd) != 0) Fail("Cannot write", shownPath, errno);
}

}  // namespace korva::installer
