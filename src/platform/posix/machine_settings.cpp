#include "platform/machine_settings.h"

namespace korva::platform {

std::optional<std::string> MachineSettingText(const std::string&, const std::string&) {
  return std::nullopt;
}

}  // namespace korva::platform
