#include "app/principal.h"

#include <exception>

namespace korva {

Principal::Principal(form::FormModel& form, Shell& shell, const platform::Clock& clock)
    : form_(form), shell_(shell), clock_(clock) {}

Principal::~Principal() = default;

bool Principal::Dispatch(const std::function<void()>& handler) {
  if (running_ > 0) return false;
  ++running_;
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
  --running_;
  if (closePending_ && running_ == 0) {
    closePending_ = false;
    shell_.CloseMainWindow();
  }
  return true;
}

void Principal::RequestClose() {
  if (running_ > 0) {
    closePending_ = true;
    return;
  }
  shell_.CloseMainWindow();
}

void Principal::ShowError(const std::string& text) {
  shell_.ShowMessage(Message{"", text, MsgIcon::Error, kOk, kOk});
}

}  // namespace korva
