#include "platform/file_names.h"

#include <array>

namespace korva::platform {
namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

// COM and LPT take a digit or, in Windows-1252, a superscript one, two or
// three (B9, B2, B3).
bool IsPortNumber(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') || byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

bool IsDeviceName(std::string_view base) {
  static constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN",    "AUX",
                                                               "NUL", "CONIN$", "CONOUT$"};
  for (const std::string_view device : kDevices) {
    if (SameAscii(base, device)) return true;
  }
  return base.size() == 4 &&
         (SameAscii(base.substr(0, 3), "COM") || SameAscii(base.substr(0, 3), "LPT")) &&
         IsPortNumber(base[3]);
}

}  // namespace

bool WindowsReadsNameDifferently(std::string_view part) {
  if (part.empty()) return false;
  if (part.find(':') != std::string_view::npos) return true;
  if (part.back() == '.' || part.back() == ' ') return true;
  // A device keeps its meaning whatever extension follows it, and blanks
  // before the extension are dropped: "CON .txt" is the console.
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  return IsDeviceName(base);
}

}  // namespace korva::platform
