#pragma once
// The message of the failure an action raises, for tests that compare exact
// texts; "(no error)" when it raises none. A failure of another kind than
// Failure is not caught, so that the test fails on it.
#include <exception>
#include <functional>
#include <string>

namespace korva::testing {

template <typename Failure = std::exception>
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Failure& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace korva::testing
