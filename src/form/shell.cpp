#include "form/shell.h"

namespace korva {

std::string WithDefaultExtension(const std::string& name, const std::string& extension) {
  const auto folderEnd = name.find_last_of("/\\");
  const auto nameStart = folderEnd == std::string::npos ? 0 : folderEnd + 1;
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > nameStart) return name;
  return name + "." + extension;
}

}  // namespace korva
