#pragma once
// Requests from outside to end the program: logout, shutdown, kill, Ctrl+C
// (POSIX: the signals SIGTERM, SIGINT and SIGHUP). While they are watched
// they no longer end the process by themselves; each one makes
// NotificationHandle() readable, and the event loop that watches it takes
// them and closes the window the way the operator does, so the program's own
// close and destroy sequences run.
#include <memory>

#include "platform/handle.h"

namespace korva::platform {

class TerminationRequests {
 public:
  // Starts watching; IsWatching() is false when the system refused.
  TerminationRequests();
  // Stops watching: the requests are handled again as before.
  ~TerminationRequests();
  TerminationRequests(const TerminationRequests&) = delete;
  TerminationRequests& operator=(const TerminationRequests&) = delete;

  bool IsWatching() const;
  // Readable while requests wait (watch it with the event loop's socket
  // notifier).
  NativeHandle NotificationHandle() const;
  // Takes every waiting request; true when there was one.
  bool TakeRequests();

 private:
  struct Previous;
  std::unique_ptr<Previous> previous_;
};

}  // namespace korva::platform
