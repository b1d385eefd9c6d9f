// Direct mode over arbitrary file bytes: reads never fail, the key list stays
// inside its limit, every listed name is found, and a write leaves the other
// keys readable as they were while its own value reads back.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_scratch.h"
#include "platform/files.h"
#include "settings/profile_file.h"

namespace {

using korva::fuzz::Check;
using korva::fuzz::ScratchFolder;
using korva::settings::ProfileFile;

// A section name taken from the input, as a caller could pass it.
std::string NameFrom(std::string_view bytes) {
  const std::size_t open = bytes.find('[');
  if (open == std::string_view::npos) return "S";
  const std::size_t close = bytes.find_first_of("]\r\n", open + 1);
  return std::string(
      bytes.substr(open + 1, (close == std::string_view::npos ? bytes.size() : close) - open - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string path = ScratchFolder() + "/f.ini";
  korva::platform::WriteFileBytes(path, bytes);
  ProfileFile ini(path);
  const std::string section = NameFrom(bytes);

  const auto names = ini.ReadSection(section);
  std::size_t listBytes = 1;
  for (const std::string& name : names) {
    listBytes += name.size() + 1;
    Check(ini.ValueExists(section, name));
  }
  Check(listBytes <= 16384);
  std::string firstValue;
  if (!names.empty()) {
    firstValue = ini.ReadString(section, names.front(), "\x01");
    Check(firstValue.size() <= 2047);
  }
  ini.ReadInteger(section, "K", 0);
  ini.ReadString("S", "K", "");

  const bool writable = section.find_first_of("]\r\n") == std::string::npos;
  if (writable) {
    ini.WriteString(section, "Korva", "v=1 ok");
    Check(ini.ReadString(section, "Korva", "") == "v=1 ok");
    if (!names.empty() && ini.ReadString(section, names.front(), "\x01") != firstValue) {
      // Only the written key may change.
      Check(names.front().size() == 5 && ini.ReadString(section, names.front(), "") == "v=1 ok");
    }
  }
  return 0;
}
