#pragma once
// The Windows side's wording of system error codes and the FileSystemError
// made of them. Only code inside src/platform/windows sees GetLastError().
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace korva::platform::windows {

// The system's wording of an error code (GetLastError, WSAGetLastError),
// without the line break it ends with.
std::string SystemErrorText(std::uint32_t error);

FileSystemError FileErrorOf(const std::string& path, std::uint32_t error);
[[noreturn]] void ThrowFileError(const std::string& path, std::uint32_t error);
// The same for the last error of this thread.
[[noreturn]] void ThrowLastFileError(const std::string& path);
// The last error of a rename of `source` onto `target` (MoveFileExW).
// Windows answers "access denied" both when a file may not be renamed or
// replaced and when another program holds one of them open: the second is
// told as the sharing violation it is.
[[noreturn]] void ThrowLastRenameError(const std::string& path, const std::wstring& source,
                                       const std::wstring& target);

}  // namespace korva::platform::windows
