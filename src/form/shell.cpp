#include "form/shell.h"

#include <algorithm>

namespace korva {

BoxButtons LaidOutButtons(unsigned buttons, MsgButton preferred) {
  static constexpr MsgButton kLayout[] = {kOk, kAbort, kYes, kRetry, kNo, kIgnore, kCancel};
  BoxButtons laid;
  for (MsgButton button : kLayout) {
    if (buttons & button) laid.order.push_back(button);
  }
  if (laid.order.empty()) laid.order.push_back(kOk);
  const bool offered =
      std::find(laid.order.begin(), laid.order.end(), preferred) != laid.order.end();
  laid.preselected = offered ? preferred : laid.order.front();
  return laid;
}

MsgButton BoxButtons::ClosedAnswer() const {
  const bool cancels = std::find(order.begin(), order.end(), kCancel) != order.end();
  return cancels ? kCancel : preselected;
}

std::string WebUrl(const std::string& address) {
  if (address.find("://") != std::string::npos) return address;
  return "http://" + address;
}

std::string WithDefaultExtension(const std::string& name, const std::string& extension) {
  const auto folderEnd = name.find_last_of("/\\");
  const auto nameStart = folderEnd == std::string::npos ? 0 : folderEnd + 1;
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > nameStart) return name;
  return name + "." + extension;
}

}  // namespace korva
