#pragma once
// Whole-file reads and replacements of profile files. A read records the
// identity of exactly what it read; a replacement never leaves a
// half-written file under the name.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace korva::settings::profile {

struct FileSnapshot {
  std::string bytes;
  platform::FileIdentity identity;
};

// nullopt when the file is missing, is a folder or cannot be read. A file
// that changes while it is read is read again.
std::optional<FileSnapshot> ReadSnapshot(const std::string& path);

// Writes the bytes to a new file beside the target and renames it over the
// target, keeping the target's permissions. Throws KorvaError
// "Unable to write to <path>" when the file system refuses (read-only file,
// missing folder, no permission); the target is then left as it was.
void ReplaceFile(const std::string& path, std::string_view bytes);
// The same; returns 0, or the file system's error number when it refuses.
int TryReplaceFile(const std::string& path, std::string_view bytes);

// The wall clock in nanoseconds, the clock that file times are taken from.
std::int64_t WallClockNanoseconds();

}  // namespace korva::settings::profile
