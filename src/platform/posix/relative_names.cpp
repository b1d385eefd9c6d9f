#include "platform/relative_names.h"

namespace korva::platform {

bool SystemReadsNameDifferently(std::string_view) {
  return false;
}

}  // namespace korva::platform
