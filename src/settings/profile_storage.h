#pragma once
// Whole-file reads and replacements of profile files. A read records the
// identity of exactly what it read; a replacement never leaves a
// half-written file under the name.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/files.h"

namespace korva::settings::profile {

struct FileSnapshot {
  std::string bytes;
  platform::FileIdentity identity;
};

// A file that changes while it is read is read again. Throws
// platform::FileSystemError when the file is missing, is a folder or cannot
// be read.
FileSnapshot ReadSnapshotOrFail(const std::string& path);
// The same; nullopt where that throws.
std::optional<FileSnapshot> ReadSnapshot(const std::string& path);

// Writes the bytes to a new file beside the target and renames it over the
// target, keeping the target's permissions. Throws KorvaError
// "Unable to write to <path>" when the file system refuses (read-only file,
// missing folder, no permission); the target is then left as it was.
void ReplaceFile(const std::string& path, std::string_view bytes);
// The same; throws platform::FileSystemError with the system's reason.
void ReplaceFileOrFail(const std::string& path, std::string_view bytes);

}  // namespace korva::settings::profile
