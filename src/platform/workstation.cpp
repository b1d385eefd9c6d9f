#include "platform/workstation.h"

namespace korva::platform {
namespace {

std::optional<std::string>& Override() {
  static std::optional<std::string> name;
  return name;
}

}  // namespace

std::string WorkstationName() {
  if (Override()) return *Override();
  return detail::SystemWorkstationName();
}

void OverrideWorkstationName(std::optional<std::string> name) {
  Override() = std::move(name);
}

}  // namespace korva::platform
