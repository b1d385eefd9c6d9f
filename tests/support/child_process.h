#pragma once
// A piece of a test run in a process of its own, so that the test can kill it
// at a moment the piece itself announces (kill tests of the update run).
#include <functional>

namespace korva::testing {

// Runs body in a forked child. The child announces a moment with report();
// the parent calls killAt with the count of reports so far and, when it says
// so, kills the child at once with SIGKILL. Returns true when the child ran to
// its end and body returned true.
bool RunInChild(const std::function<bool(const std::function<void()>& report)>& body,
                const std::function<bool(int reports)>& killAt);

}  // namespace korva::testing
