#pragma once
// A small file system of the test's own (tmpfs) mounted on a folder, to fill
// it for real. The mounts live in a mount namespace of the test process's
// own: nobody else sees them, and they go with the process. That namespace is
// entered before any thread exists (EnterPrivateMounts, at static
// initialisation of the test program): as root with unshare(CLONE_NEWNS), or
// else in a user namespace that maps the caller to root, where the kernel
// lets one mount tmpfs. A mount that cannot be made fails the test; it is
// never skipped.
#include <cstdint>
#include <string>

#include "support/non_copyable.h"

namespace korva::testing {

// Enters the private namespace; true when it did. Later failures to mount
// name the reason it did not.
bool EnterPrivateMounts();

class SmallDisk : NonCopyable {
 public:
  // Mounts `bytes` of tmpfs on the folder (created when missing; what it
  // held is hidden until the disk goes). Throws with the reason.
  SmallDisk(std::string folder, std::int64_t bytes);
  // Unmounts.
  ~SmallDisk();

  const std::string& Folder() const { return folder_; }
  std::int64_t FreeBytes() const;
  // Fills it with a file of its own until at most `bytes` are free.
  void LeaveFree(std::int64_t bytes);
  // Takes that file away.
  void MakeRoom();

 private:
  std::string folder_;
  std::string filler_;
};

}  // namespace korva::testing
