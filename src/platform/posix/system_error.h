#pragma once
// The POSIX side's wording of errno values and the FileSystemError made of
// them. Only code inside src/platform/posix sees errno.
#include <string>

#include "platform/file.h"

namespace korva::platform::posix {

// The operating system's wording of an errno value.
std::string SystemErrorText(int error);

FileSystemError FileErrorOf(const std::string& path, int error);
[[noreturn]] void ThrowFileError(const std::string& path, int error);

}  // namespace korva::platform::posix
