#pragma once
// Files and folders. Paths are Windows-1252 texts formed as folder + separator
// + name; folders are held without a trailing separator.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace korva::platform {

constexpr char kPathSeparator = '/';

// folder + separator + name.
std::string JoinPath(std::string_view folder, std::string_view name);
// Full path of the running executable, and its folder (no trailing separator).
std::string ExecutablePath();
std::string ExecutableFolder();
// Lets tests and tools stand in for another executable location.
void OverrideExecutablePath(std::optional<std::string> path);

bool FileExists(const std::string& path);  // a file, not a folder
bool DirectoryExists(const std::string& path);
std::optional<std::int64_t> FileSize(const std::string& path);

// Each returns false when the file system refuses; errno is left as it was.
bool DeleteFile(const std::string& path);
// Fails when the target exists (never replaces).
bool RenameFile(const std::string& from, const std::string& to);
// Replaces the target; the copy is written to a temporary name beside it and
// renamed into place, so a failed copy never leaves a half-written target.
bool CopyFile(const std::string& from, const std::string& to);
bool CreateDir(const std::string& path);
// Creates every missing folder of the path.
bool ForceDirectories(const std::string& path);

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

// What makes a file on disk provably the same between two looks at it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtimeSeconds = 0;
  std::int64_t mtimeNanoseconds = 0;
  std::int64_t ctimeSeconds = 0;
  std::int64_t ctimeNanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentifyFile(const std::string& path);
// The same for a file held open (a descriptor): what it is now, wherever its
// name points meanwhile.
std::optional<FileIdentity> IdentifyOpenFile(int descriptor);

// Whole-file read; nullopt when the file cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);
// Writes the whole file (created or truncated); throws FileError on failure.
void WriteFileBytes(const std::string& path, std::string_view bytes);
// Opens (creating it when missing), appends, closes. Throws FileError.
void AppendToFile(const std::string& path, std::string_view bytes);

// The operating system's wording of an errno value.
std::string SystemErrorText(int error);

}  // namespace korva::platform
