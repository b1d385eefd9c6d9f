#pragma once
// A real X server of the test's own (Xvfb with a window manager), for tests
// that run the real program and answer its message boxes the way an operator
// does: find the window by its title, activate it, press a key.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/non_copyable.h"

namespace korva::testing {

class XDisplay : NonCopyable {
 public:
  // Starts Xvfb on a display number it picks itself, and openbox on it;
  // throws when either does not come up.
  XDisplay();
  ~XDisplay();

  const std::string& Name() const { return name_; }

  // The id of the first visible window whose title matches the pattern
  // (xdotool's regular expression), waiting up to the timeout; "" when none.
  std::string WaitForWindow(const std::string& titlePattern,
                            std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
  // Activates the window and presses the key (xdotool key names: Return, Escape).
  void PressKey(const std::string& window, const std::string& key) const;
  // Titles of every visible window, for failure messages.
  std::string VisibleTitles() const;

 private:
  std::string name_;
  pid_t xvfb_ = -1;
  pid_t windowManager_ = -1;
};

// A program started with its own environment additions, not waited for.
class ChildProcess : NonCopyable {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment);
  ~ChildProcess();  // kills it when it still runs

  bool Running();
  // The exit status, or -1 when it did not end in time (or died of a signal).
  int WaitForExit(std::chrono::milliseconds timeout);
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool ended_ = false;
};

}  // namespace korva::testing
