#include "support/small_disk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace korva::testing {
namespace {

std::string& Refusal() {
  static std::string reason = "the test program never entered a mount namespace of its own";
  return reason;
}

bool WriteProc(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

bool EnterPrivateMounts() {
  static const bool entered = [] {
    if (::unshare(CLONE_NEWNS) != 0) {
      // Not root: a user namespace in which we are, and may mount tmpfs.
      const uid_t uid = ::getuid();
      const gid_t gid = ::getgid();
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        Refusal() = std::string("unshare: ") + std::strerror(errno);
        return false;
      }
      if (!WriteProc("/proc/self/setgroups", "deny") ||
          !WriteProc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
          !WriteProc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        Refusal() = "cannot map the user into its namespace";
        return false;
      }
    }
    // Nothing mounted here reaches the rest of the machine.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      Refusal() = std::string("mount --make-rprivate /: ") + std::strerror(errno);
      return false;
    }
    Refusal().clear();
    return true;
  }();
  return entered;
}

SmallDisk::SmallDisk(std::string folder, std::int64_t bytes) : folder_(std::move(folder)) {
  if (!EnterPrivateMounts()) throw std::runtime_error("no tmpfs of our own: " + Refusal());
  std::filesystem::create_directories(folder_);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  if (::mount("korva-small-disk", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.c_str()) != 0) {
    throw std::runtime_error("mount -t tmpfs on " + folder_ + ": " + std::strerror(errno));
  }
  filler_ = folder_ + "/.small-disk-filler";
}

SmallDisk::~SmallDisk() {
  ::umount2(folder_.c_str(), MNT_DETACH);
}

std::int64_t SmallDisk::FreeBytes() const {
  struct statvfs st {};
  if (::statvfs(folder_.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.f_bavail) * static_cast<std::int64_t>(st.f_frsize);
}

void SmallDisk::LeaveFree(std::int64_t bytes) {
  MakeRoom();
  const std::int64_t take = FreeBytes() - bytes;
  if (take <= 0) return;
  const int fd = ::open(filler_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot fill " + folder_);
  const std::vector<char> zeros(1 << 16, '\0');
  // Whole pages: the disk counts in them.
  std::int64_t left = take - take % 4096;
  while (left > 0) {
    const ssize_t n = ::write(fd, zeros.data(),
                              static_cast<std::size_t>(std::min<std::int64_t>(left, zeros.size())));
    if (n <= 0) break;
    left -= n;
  }
  ::close(fd);
}

void SmallDisk::MakeRoom() {
  ::unlink(filler_.c_str());
}

}  // namespace korva::testing
