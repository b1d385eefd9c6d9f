#include "support/build_info.h"

#include <sys/stat.h>

#include <stdexcept>

#include "support/temp_dir.h"

namespace korva::testing {

std::string BuildInfoBlock(const BuildItems& items) {
  std::string block = "\nKORVA-BUILDINFO\n";
  for (const auto& [key, value] : items) block += key + "=" + value + "\n";
  return block + "KORVA-BUILDINFO-END\n";
}

void WriteModuleExecutable(const std::string& path, const std::string& build,
                           const std::string& program) {
  // An ELF program ignores bytes after its last section, so the copy still runs.
  WriteBytes(path, ReadBytes(program) + BuildInfoBlock({{"BUILD", build}}));
  if (::chmod(path.c_str(), 0755) != 0) throw std::runtime_error("cannot chmod " + path);
}

}  // namespace korva::testing
