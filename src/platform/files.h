#pragma once
// Files and folders by path. Paths are Windows-1252 texts formed as folder +
// separator + name; folders are held without a trailing separator. Only the
// functions below know the separator.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"

namespace korva::platform {

// The system's own folder separator.
extern const char kPathSeparator;

// folder + separator + name.
std::string JoinPath(std::string_view folder, std::string_view name);
// The last part of a path (all of it when it has no separator).
std::string_view FileNameOf(std::string_view path);
// The folder with exactly one separator after it, and with none (a root
// folder keeps its own).
std::string IncludeTrailingSeparator(std::string_view folder);
std::string ExcludeTrailingSeparator(std::string_view folder);
// Full path of the running executable, and its folder (no trailing separator).
std::string ExecutablePath();
std::string ExecutableFolder();
// Lets tests and tools stand in for another executable location.
void OverrideExecutablePath(std::optional<std::string> path);

bool FileExists(const std::string& path);  // a file, not a folder
// The names of the plain files in a folder, in no particular order; empty
// when it cannot be read.
std::vector<std::string> FileNamesIn(const std::string& folder);
bool DirectoryExists(const std::string& path);
std::optional<std::int64_t> FileSize(const std::string& path);

// Each returns false when the file system refuses.
bool DeleteFile(const std::string& path);
// Fails when the target exists (never replaces).
bool RenameFile(const std::string& from, const std::string& to);
// Replaces the target; the copy is written to a temporary name beside it and
// renamed into place, so a failed copy never leaves a half-written target.
bool CopyFile(const std::string& from, const std::string& to);
bool CreateDir(const std::string& path);
// Creates every missing folder of the path.
bool ForceDirectories(const std::string& path);
// The same; throws FileSystemError with the reason when it cannot.
void CreateFolders(const std::string& path);

// File attributes as the packages carry them (MS-DOS bits).
enum FileAttribute : std::uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
};
// Read-only maps onto the write permission bits; the other bits have no
// POSIX counterpart and are accepted without effect.
bool SetFileAttributes(const std::string& path, std::uint32_t attributes);
std::optional<std::uint32_t> GetFileAttributes(const std::string& path);
bool SetFileModificationTime(const std::string& path, const LocalDateTime& local);
std::optional<LocalDateTime> GetFileModificationTime(const std::string& path);

std::optional<FileIdentity> IdentifyFile(const std::string& path);

// Whole-file read; nullopt when the file cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);
// Writes the whole file (created or truncated); throws FileError on failure.
void WriteFileBytes(const std::string& path, std::string_view bytes);
// Opens (creating it when missing), appends, closes. Throws FileError.
void AppendToFile(const std::string& path, std::string_view bytes);

// How ReplaceFileContent treats the file that stands under the name.
enum class ReplaceMode {
  // Whatever stood there goes, a read-only file or a link alike.
  kOverwrite,
  // As if the file were edited in place: a read-only file refuses (as it
  // does on Windows, whoever runs the program), a link is written through to
  // its file, and the new file keeps the old one's permissions (and its
  // owner, where the process may hand it back).
  kAsEdited,
};

struct ReplaceOptions {
  ReplaceMode mode = ReplaceMode::kOverwrite;
  // The new file is readable and writable by its owner alone.
  bool ownerOnly = false;
  // Where the new content is written first, beside the file; empty: a hidden
  // name that no other writer picks.
  std::string temporaryPath;
};

// Write beside, flush, rename over: `write` fills a new file beside the
// target, which is flushed to disk and renamed over the target. Readers see
// the old content or the new, never a part of either, and a failure leaves
// the target as it was (the new file is removed). Throws FileSystemError
// naming `path`, or whatever `write` throws.
void ReplaceFileContent(const std::string& path, const std::function<void(File&)>& write,
                        const ReplaceOptions& options = {});

}  // namespace korva::platform
