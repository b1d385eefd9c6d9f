#include "platform/window_registry.h"

#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

// On Windows the window system is the registry: a top-level window is found
// by the class it was created with and its title as it stands (FindWindowW),
// and a close request is a WM_CLOSE that its own message loop handles. A
// RegisteredWindow only remembers the names; the program's window must be
// created with that class and title, and serves close requests itself.
namespace korva::platform {

struct RegisteredWindow::State : RegisteredWindow::Names {};

RegisteredWindow::RegisteredWindow(std::string className, std::string title)
    : state_(std::make_shared<State>()) {
  state_->className = std::move(className);
  state_->title = std::move(title);
}

RegisteredWindow::~RegisteredWindow() = default;

bool RegisteredWindow::IsRegistered() const {
  return true;
}
const RegisteredWindow::Names& RegisteredWindow::NamesOf() const {
  return *state_;
}

void RegisteredWindow::SetTitle(std::string title) {
  state_->title = std::move(title);
}

NativeHandle RegisteredWindow::NotificationHandle() const {
  return NativeHandle();
}

void RegisteredWindow::ServeRequests(const std::function<void()>&) {}

namespace {

HWND Find(const std::string& className, const std::string& title) {
  return ::FindWindowW(windows::Wide(className).c_str(), windows::Wide(title).c_str());
}

}  // namespace

bool FindWindow(const std::string& className, const std::string& title) {
  return Find(className, title) != nullptr;
}

bool SendCloseRequest(const std::string& className, const std::string& title,
                      std::chrono::milliseconds timeout) {
  const HWND window = Find(className, title);
  if (!window) return false;
  DWORD_PTR result = 0;
  // SMTO_ABORTIFHUNG: a program that stopped handling its messages is not
  // waited for.
  return ::SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                               static_cast<UINT>(timeout.count()), &result) != 0;
}

std::string WindowRegistryFolder() {
  return {};
}

}  // namespace korva::platform
