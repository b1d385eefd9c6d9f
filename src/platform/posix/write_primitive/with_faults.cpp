#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/posix/write_primitive.h"
#include "platform/write_faults.h"

namespace korva::platform {
namespace {

struct Limits {
  std::mutex mutex;
  std::map<std::string, std::int64_t> freeBytes;  // by folder
  int failed = 0;
};

Limits& State() {
  static Limits limits;
  return limits;
}

// The folder of a path, a relative one taken from the working folder.
std::string FolderOf(const std::string& path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    char here[4096];
    if (::getcwd(here, sizeof here)) full = std::string(here) + "/" + path;
  }
  return full.substr(0, full.rfind('/'));
}

}  // namespace

namespace write_faults {

void LeaveFree(const std::string& folder, std::int64_t bytes) {
  std::lock_guard lock(State().mutex);
  State().freeBytes[folder] = bytes;
}

void Clear() {
  std::lock_guard lock(State().mutex);
  State().freeBytes.clear();
}

int FailedWrites() {
  std::lock_guard lock(State().mutex);
  return State().failed;
}

}  // namespace write_faults

namespace posix {

ssize_t WriteSome(int fd, const void* data, std::size_t size, const std::string& path) {
  Limits& limits = State();
  std::unique_lock lock(limits.mutex);
  const auto limit = limits.freeBytes.find(FolderOf(path));
  if (limit == limits.freeBytes.end()) {
    lock.unlock();
    return ::write(fd, data, size);
  }
  std::int64_t& left = limit->second;
  if (left <= 0) {
    ++limits.failed;
    errno = ENOSPC;
    return -1;
  }
  // As a real disk: what fits is written, the rest fails on the next call.
  const std::size_t fits =
      left < static_cast<std::int64_t>(size) ? static_cast<std::size_t>(left) : size;
  const ssize_t n = ::write(fd, data, fits);
  if (n > 0) left -= n;
  return n;
}

}  // namespace posix
}  // namespace korva::platform
