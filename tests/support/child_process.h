#pragma once
// A piece of a test run in a process of its own, so that the test can kill it
// at a moment the piece itself announces (kill tests of the update run).
#include <functional>

#include "support/non_copyable.h"

namespace korva::testing {

// Runs body in a forked child. The child announces a moment with report();
// the parent calls killAt with the count of reports so far and, when it says
// so, kills the child at once with SIGKILL. Returns true when the child ran to
// its end and body returned true.
bool RunInChild(const std::function<bool(const std::function<void()>& report)>& body,
                const std::function<bool(int reports)>& killAt);

// A piece of a test run in a process of its own that may stop at a moment of
// its choosing, pause(), until the test lets it go on or kills it there.
class PausingChild : NonCopyable {
 public:
  explicit PausingChild(const std::function<bool(const std::function<void()>& pause)>& body);
  // Kills the child if it still runs.
  ~PausingChild();

  // Waits until the child pauses (true) or ends without pausing (false).
  bool WaitUntilPaused();
  void Resume();
  void Kill();
  // Waits for the end: true when body ran to its end and returned true.
  bool Succeeded();

 private:
  int pid_ = -1;
  int paused_ = -1;  // the child writes a byte when it pauses
  int resume_ = -1;  // the test writes a byte to let it go on
  bool ended_ = false;
  int status_ = 0;
};

}  // namespace korva::testing
