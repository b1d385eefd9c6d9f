#pragma once
// The message of the failure an action raises, for tests that compare exact
// texts; "(no error)" when it raises none.
#include <exception>
#include <functional>
#include <string>

namespace korva::testing {

inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace korva::testing
