#include "platform/exclusive_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/system_error.h"

namespace korva::platform {
namespace {

int Fd(const OwnedHandle& handle) {
  return static_cast<int>(handle.Get().Value());
}

}  // namespace

ExclusiveLock ExclusiveLock::TryTake(const std::string& path) {
  ExclusiveLock lock;
  lock.path_ = path;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    lock.reason_ = posix::SystemErrorText(errno);
    return lock;
  }
  lock.handle_ = OwnedHandle(NativeHandle(fd));
  // An open-file-description lock: a POSIX record lock would go with the
  // closing of any descriptor of the file in this process.
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(kLockedByte);
  range.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &range) == 0) {
    lock.state_ = State::kTaken;
  } else if (errno == EAGAIN || errno == EACCES) {
    lock.state_ = State::kHeldElsewhere;
  } else {
    // A file system that keeps no locks (ENOLCK): no lock to be had.
    lock.reason_ = posix::SystemErrorText(errno);
    lock.handle_.Reset();
  }
  return lock;
}

void ExclusiveLock::WriteText(std::string_view text) {
  const int fd = Fd(handle_);
  std::size_t done = 0;
  // Written over the old text, then cut to its length: a reader never finds
  // the file empty in between.
  while (done < text.size()) {
    const ssize_t n =
        ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      posix::ThrowFileError(path_, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(text.size())) != 0) posix::ThrowFileError(path_, errno);
}

std::string ExclusiveLock::ReadText(std::size_t limit) const {
  if (!handle_.IsOpen()) return {};
  std::string text(limit, '\0');
  std::size_t done = 0;
  while (done < limit) {
    const ssize_t n =
        ::pread(Fd(handle_), text.data() + done, limit - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return text;
}

}  // namespace korva::platform
