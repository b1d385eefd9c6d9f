#include "platform/relative_names.h"

namespace korva::platform {

bool SystemReadsNameDifferently(std::string_view part) {
  return WindowsReadsNameDifferently(part);
}

}  // namespace korva::platform
