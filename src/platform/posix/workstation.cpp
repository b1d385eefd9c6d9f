#include "platform/workstation.h"

#include <unistd.h>

#include <climits>

namespace korva::platform::detail {

std::string SystemWorkstationName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace korva::platform::detail
