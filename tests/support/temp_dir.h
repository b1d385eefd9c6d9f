#pragma once
// A scratch folder removed with everything in it when the test ends.
#include <string>

#include "support/non_copyable.h"

namespace korva::testing {

class TempDir : NonCopyable {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  // Joined as the program joins a folder and a name, so that texts naming a
  // file compare equal.
  std::string File(const std::string& name) const { return path_ + kSeparator + name; }

 private:
#ifdef _WIN32
  static constexpr char kSeparator = '\\';
#else
  static constexpr char kSeparator = '/';
#endif
  std::string path_;
};

// Whole-file helpers for assertions on exact bytes.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace korva::testing
