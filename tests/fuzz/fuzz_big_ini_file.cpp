// Whole-file mode over arbitrary file bytes: an open without an erase leaves
// the file byte for byte, and a rewritten file opens again to exactly the
// sections and lines that were kept.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "platform/files.h"
#include "settings/big_ini_file.h"

namespace {

using korva::fuzz::Check;
using korva::fuzz::ScratchFolder;
using korva::settings::TBigIniFile;
using korva::settings::TSection;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string path = ScratchFolder() + "/script.ini";
  korva::platform::WriteFileBytes(path, bytes);

  std::vector<TSection> kept;
  bool erased = false;
  {
    TBigIniFile ini(path);
    const auto names = ini.ReadSections();
    Check(names.size() == ini.Sections().Count());
    if (!names.empty()) {
      // The input picks the section; an upper-cased name must find it too.
      const std::string& victim = names[size % names.size()];
      std::string shouted = victim;
      for (char& c : shouted) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      }
      ini.EraseSection(size % 2 ? shouted : victim);
      erased = ini.Changed();
      Check(erased);
    }
    for (std::size_t i = 0; i < ini.Sections().Count(); ++i) {
      if (!ini.Sections()[i].lines.empty()) kept.push_back(ini.Sections()[i]);
    }
    ini.Release();
  }
  const auto after = korva::platform::ReadFileBytes(path);
  Check(after.has_value());
  if (!erased) {
    Check(*after == bytes);
    return 0;
  }
  TBigIniFile again(path);
  Check(again.Sections().Count() == kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    Check(again.Sections()[i].name == kept[i].name);
    Check(again.Sections()[i].lines == kept[i].lines);
  }
  return 0;
}
