#include "platform/relative_names.h"

#include <algorithm>
#include <string>

namespace korva::platform {
namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// ".." and what Windows would read as "..": trailing dots and blanks are
// dropped there, so "...", ".. " or ". ." name the parent folder as well.
bool NamesParentFolder(std::string_view part) {
  std::size_t dots = 0;
  for (const char c : part) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

// What Windows opens as a device whatever the folder, with or without an
// extension: "CON", "NUL.ini", "COM1.EXE", "LPT³.zip".
bool NamesDevice(std::string_view part) {
  std::string base(part.substr(0, part.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  const char last = base[3];
  // The superscript digits of Windows-1252: ¹ ² ³.
  return (last >= '0' && last <= '9') || last == '\xB9' || last == '\xB2' || last == '\xB3';
}

}  // namespace

std::optional<std::vector<std::string>> SplitRelativePath(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  if (!name.empty() && IsSeparator(name.front())) return std::nullopt;
  if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') return std::nullopt;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string_view part = name.substr(start, end - start);
    if (NamesParentFolder(part)) return std::nullopt;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  return parts;
}

bool StaysBelowFolder(std::string_view name) {
  if (std::any_of(name.begin(), name.end(), [](char c) { return IsControl(c) || c == ':'; })) {
    return false;
  }
  const auto parts = SplitRelativePath(name);
  return parts && !parts->empty() && std::none_of(parts->begin(), parts->end(), NamesDevice);
}

bool IsBareFileName(std::string_view name) {
  if (name.empty() || name.find("..") != std::string_view::npos || NamesDevice(name)) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return IsControl(c) || IsSeparator(c) || c == ':' || c == '\0';
  });
}

}  // namespace korva::platform
