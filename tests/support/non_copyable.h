#pragma once
// The base of the helpers that own a folder, a process, a server or a mount:
// a copy would tear the same thing down twice.

namespace korva::testing {

class NonCopyable {
 public:
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;

 protected:
  NonCopyable() = default;
  ~NonCopyable() = default;
};

}  // namespace korva::testing
