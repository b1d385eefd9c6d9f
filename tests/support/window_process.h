#pragma once
// A registered window in a process of its own (forked), for tests of what
// one program does to another's window.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "support/non_copyable.h"
#include "support/temp_dir.h"

namespace korva::testing {

// Points the window registry of this process and of every process it starts
// at a scratch runtime folder, so that nothing of the user's session is seen
// or touched; restored when it goes.
class PrivateWindowRegistry {
 public:
  PrivateWindowRegistry();
  ~PrivateWindowRegistry();
  const std::string& RuntimeFolder() const { return runtime_.Path(); }
  std::string Folder() const { return runtime_.Path() + "/korva-windows"; }

 private:
  TempDir runtime_;
  std::optional<std::string> saved_;
};

class WindowProcess : NonCopyable {
 public:
  struct Options {
    std::string className;
    std::string title;
    bool serve = true;                      // false: a program that never takes its requests
    std::function<void()> onClose = [] {};  // runs in the child
  };

  // Returns once the window is registered (or failed to be).
  explicit WindowProcess(Options options);
  // Kills the process if it still runs.
  ~WindowProcess();

  bool Registered() const { return registered_; }
  // Exit status once the process ended (it ends after handling a close
  // request); -1 when it is still running after a few seconds.
  int Wait();
  void Kill();
  bool Running();

 private:
  pid_t pid_ = -1;
  bool registered_ = false;
  bool ended_ = false;
};

}  // namespace korva::testing
