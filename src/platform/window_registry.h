#pragma once
// Top-level windows that other programs find by class name and title and ask
// to close, as the original platform's window manager allows (FindWindow,
// SendMessage(WM_CLOSE)). A program registers its main window here; the
// single-instance guard and the companion backup program rely on it.
//
// POSIX: one Unix domain socket per window, beside a small entry file naming
// its class and title, in the user's runtime folder ($XDG_RUNTIME_DIR/
// korva-windows, or /tmp/korva-windows-<uid> with 0700 permissions when there
// is none). Finding a window needs no answer from it, so a window busy with a
// long operation is still found; closing it waits for its answer.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/handle.h"

namespace korva::platform {

// How long a close request waits at most for the window to handle it. The
// original call waits forever; a hung program must not freeze ours.
inline constexpr std::chrono::milliseconds kCloseRequestTimeout{30000};

class RegisteredWindow {
 public:
  // Registers at once. A registry that cannot be used (runtime folder refused,
  // socket path too long) leaves the window unregistered: it works, but other
  // programs cannot find it (IsRegistered(), RegistrationError()).
  RegisteredWindow(std::string className, std::string title);
  // Unregisters; close requests still waiting get no answer.
  ~RegisteredWindow();
  RegisteredWindow(const RegisteredWindow&) = delete;
  RegisteredWindow& operator=(const RegisteredWindow&) = delete;

  bool IsRegistered() const;
  const std::string& RegistrationError() const;
  const std::string& ClassName() const;
  const std::string& Title() const;

  // Windows-1252 bytes, found only under the new title from now on.
  void SetTitle(std::string title);

  // Readable while requests wait (watch it with the event loop's socket
  // notifier); not valid when unregistered.
  NativeHandle NotificationHandle() const;

  // Takes every waiting request. A close request naming this window's class
  // and current title runs onClose and is answered after onClose returns (the
  // sender is still waiting then); others are answered "not this window".
  // Re-entry from inside onClose (a nested event loop) only queues requests;
  // the outer call answers them. onClose may destroy this object.
  void ServeRequests(const std::function<void()>& onClose);

  // What every system's registration keeps of the window.
  struct Names {
    std::string className;
    std::string title;
    std::string error;
  };
  struct State;

 private:
  // The names in the state of this system's registration.
  const Names& NamesOf() const;

  std::shared_ptr<State> state_;
};

// True when a registered window of exactly that class and title exists (both
// compared byte for byte). Entries left by programs that died are removed.
bool FindWindow(const std::string& className, const std::string& title);

// Sends the window of that class and title a close request and waits until it
// has handled it (at most the timeout). True when a window was found and
// answered; false when none was found, it did not answer in time, or its
// program ended before answering. Never call it for a window that the calling
// thread itself serves: that one cannot answer while we wait.
bool SendCloseRequest(const std::string& className, const std::string& title,
                      std::chrono::milliseconds timeout = kCloseRequestTimeout);

// The registry's folder (created when missing); empty when it cannot be used.
std::string WindowRegistryFolder();

}  // namespace korva::platform
