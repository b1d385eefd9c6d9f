#pragma once
// Each system names a few of its error codes as the causes that callers
// tell apart (a missing file, a name taken, ...); its table says which, and
// every other code is kOther.
#include <cstdint>
#include <initializer_list>

#include "platform/file.h"

namespace korva::platform {

struct ErrorCause {
  std::uint32_t error;
  FileSystemError::Cause cause;
};

inline FileSystemError::Cause CauseOf(std::uint32_t error,
                                      std::initializer_list<ErrorCause> table) {
  for (const ErrorCause& entry : table) {
    if (entry.error == error) return entry.cause;
  }
  return FileSystemError::Cause::kOther;
}

}  // namespace korva::platform
