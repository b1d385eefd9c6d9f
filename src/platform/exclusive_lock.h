#pragma once
// A file that programs on several machines open at once to learn which one
// may go on: the one that takes its lock, until it releases it or ends. The
// lock covers a byte beyond any text the file holds, so that the others can
// still read what the holder wrote there (who holds it, since when).
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace korva::platform {

class ExclusiveLock {
 public:
  enum class State {
    kTaken,          // ours until Release, or until the process ends
    kHeldElsewhere,  // another opener holds it (or the file is in use)
    kUnavailable,    // the file cannot be created or opened: no lock to be had
  };

  // Opens the file, creating it when missing, for reading and writing and
  // shared with every other opener, and tries to take its lock without
  // waiting. The lock belongs to the open file itself: neither another
  // opening of the same file in this process nor its closing disturbs it.
  static ExclusiveLock TryTake(const std::string& path);

  ExclusiveLock() = default;
  ExclusiveLock(ExclusiveLock&&) noexcept = default;
  ExclusiveLock& operator=(ExclusiveLock&&) noexcept = default;

  State GetState() const { return state_; }
  const std::string& Path() const { return path_; }
  // The system's words for kUnavailable.
  const std::string& Reason() const { return reason_; }

  // The holder's: replaces the file's text. Throws FileSystemError.
  void WriteText(std::string_view text);
  // The file's text as it stands, at most `limit` bytes; empty when it
  // cannot be read.
  std::string ReadText(std::size_t limit = 4096) const;
  // Lets the lock go (closing the file); nothing happens when none is held.
  void Release() { handle_.Reset(); }

 private:
  // Far beyond any text the file will hold.
  static constexpr std::uint64_t kLockedByte = std::uint64_t{1} << 30;

  OwnedHandle handle_;
  State state_ = State::kUnavailable;
  std::string path_;
  std::string reason_;
};

}  // namespace korva::platform
