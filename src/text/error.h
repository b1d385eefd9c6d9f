#pragma once
// Failures travel as exceptions that carry the message text shown to the
// operator (Windows-1252). Handlers catch what they have their own message for;
// the rest reaches the general error display of the window.
#include <stdexcept>
#include <string>

namespace korva {

class KorvaError : public std::runtime_error {
 public:
  explicit KorvaError(const std::string& message) : std::runtime_error(message) {}
};

// A text that is not a whole number where one is required.
class ConvertError : public KorvaError {
 public:
  using KorvaError::KorvaError;
};

// A file or folder operation that the file system refused.
class FileError : public KorvaError {
 public:
  using KorvaError::KorvaError;
};

}  // namespace korva
