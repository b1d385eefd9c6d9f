#include "platform/posix/system_error.h"

#include <cerrno>
#include <cstring>

#include "platform/error_causes.h"

namespace korva::platform::posix {

std::string SystemErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("error ") + std::to_string(error);
}

FileSystemError FileErrorOf(const std::string& path, int error) {
  using Cause = FileSystemError::Cause;
  const Cause cause =
      CauseOf(static_cast<std::uint32_t>(error),
              {{ENOENT, Cause::kNotFound}, {EEXIST, Cause::kExists}, {EISDIR, Cause::kIsFolder}});
  return FileSystemError(path, SystemErrorText(error), cause);
}

void ThrowFileError(const std::string& path, int error) {
  throw FileErrorOf(path, error);
}

}  // namespace korva::platform::posix
