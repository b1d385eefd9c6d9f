#include "platform/termination_requests.h"

#include <atomic>

#include "platform/windows/native_handle.h"
#include "platform/windows/win32_api.h"

// Windows tells a console program of Ctrl+C, Ctrl+Break, the console's close,
// logoff and shutdown through a control handler on a thread of its own; the
// handler only sets an event, which the event loop waits for. A window hears
// of logoff and shutdown through its own messages as well.
namespace korva::platform {
namespace {

std::atomic<HANDLE> gEvent{nullptr};

BOOL WINAPI OnControl(DWORD) {
  if (HANDLE event = gEvent.load()) ::SetEvent(event);
  return TRUE;
}

}  // namespace

struct TerminationRequests::Previous {
  HANDLE event = nullptr;
};

TerminationRequests::TerminationRequests() {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) return;
  gEvent.store(event);
  if (!::SetConsoleCtrlHandler(OnControl, TRUE)) {
    gEvent.store(nullptr);
    ::CloseHandle(event);
    return;
  }
  previous_ = std::make_unique<Previous>();
  previous_->event = event;
}

TerminationRequests::~TerminationRequests() {
  if (!previous_) return;
  ::SetConsoleCtrlHandler(OnControl, FALSE);
  gEvent.store(nullptr);
  ::CloseHandle(previous_->event);
}

bool TerminationRequests::IsWatching() const {
  return previous_ != nullptr;
}

NativeHandle TerminationRequests::NotificationHandle() const {
  return IsWatching() ? windows::Native(previous_->event) : NativeHandle();
}

bool TerminationRequests::TakeRequests() {
  if (!IsWatching()) return false;
  if (::WaitForSingleObject(previous_->event, 0) != WAIT_OBJECT_0) return false;
  ::ResetEvent(previous_->event);
  return true;
}

}  // namespace korva::platform
