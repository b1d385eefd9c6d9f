#include "platform/exclusive_lock.h"

#include <algorithm>

#include "platform/windows/native_handle.h"
#include "platform/windows/system_error.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {
namespace {

HANDLE Win(const OwnedHandle& handle) {
  return windows::Win(handle.Get());
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

}  // namespace

ExclusiveLock ExclusiveLock::TryTake(const std::string& path) {
  ExclusiveLock lock;
  lock.path_ = path;
  // Every updater opens it sharing reading and writing, so that one that
  // finds the lock taken can still read who holds it.
  const HANDLE handle = ::CreateFileW(windows::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // Someone holds the file in a way we did not allow for: in use.
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      lock.state_ = State::kHeldElsewhere;
    } else {
      lock.reason_ = windows::SystemErrorText(error);
    }
    return lock;
  }
  lock.handle_ = OwnedHandle(windows::Native(handle));
  OVERLAPPED where = At(kLockedByte);
  if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
    lock.state_ = State::kTaken;
  } else {
    // A lock that cannot be taken is somebody else's.
    lock.state_ = State::kHeldElsewhere;
  }
  return lock;
}

void ExclusiveLock::WriteText(std::string_view text) {
  const HANDLE handle = Win(handle_);
  std::size_t done = 0;
  // Written over the old text, then cut to its length: a reader never finds
  // the file empty in between.
  while (done < text.size()) {
    OVERLAPPED where = At(done);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(handle, text.data() + done, wanted, &written, &where)) {
      windows::ThrowLastFileError(path_);
    }
    done += written;
  }
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(text.size());
  if (!::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle)) {
    windows::ThrowLastFileError(path_);
  }
}

std::string ExclusiveLock::ReadText(std::size_t limit) const {
  if (!handle_.IsOpen()) return {};
  std::string text(limit, '\0');
  std::size_t done = 0;
  while (done < limit) {
    OVERLAPPED where = At(done);
    DWORD got = 0;
    if (!::ReadFile(Win(handle_), text.data() + done, static_cast<DWORD>(limit - done), &got,
                    &where) ||
        got == 0) {
      break;
    }
    done += got;
  }
  text.resize(done);
  return text;
}

}  // namespace korva::platform
