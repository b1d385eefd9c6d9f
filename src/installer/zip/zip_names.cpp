#include "installer/zip/zip_names.h"

#include "platform/file_names.h"
#include "text/cp1252.h"

namespace korva::installer {
namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
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

}  // namespace

bool MatchesMask(std::string_view text, std::string_view mask) {
  // Greedy match that falls back to the last "*" seen: linear in practice,
  // quadratic at worst, and no recursion for hostile names.
  std::size_t t = 0;
  std::size_t m = 0;
  std::size_t starMask = std::string_view::npos;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starText = t;
    } else if (m < mask.size() &&
               (mask[m] == '?' || text::UpperChar1252(mask[m]) == text::UpperChar1252(text[t]))) {
      ++m;
      ++t;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool EntryMatchesMask(std::string_view storedName, std::string_view mask) {
  std::string_view name = storedName;
  if (!name.empty() && name.back() == '/') name.remove_suffix(1);
  if (MatchesMask(name, mask)) return true;
  std::size_t start = name.size();
  while (start > 0 && !IsSeparator(name[start - 1])) --start;
  return start > 0 && MatchesMask(name.substr(start), mask);
}

std::optional<std::vector<std::string>> SplitEntryPath(std::string_view storedName) {
  if (storedName.find('\0') != std::string_view::npos) return std::nullopt;
  if (!storedName.empty() && IsSeparator(storedName.front())) return std::nullopt;
  if (storedName.size() >= 2 && IsAsciiLetter(storedName[0]) && storedName[1] == ':') {
    return std::nullopt;
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= storedName.size()) {
    std::size_t end = start;
    while (end < storedName.size() && !IsSeparator(storedName[end])) ++end;
    const std::string_view part = storedName.substr(start, end - start);
    if (NamesParentFolder(part)) return std::nullopt;
    if (!part.empty() && part != ".") {
      // On Windows "sub\D:evil.EXE" would write an alternate data stream
      // of "sub\D", "NUL.EXE" a device, "EFIN.EXE." the file EFIN.EXE.
      if (platform::SystemReadsNameDifferently(part)) return std::nullopt;
      parts.emplace_back(part);
    }
    start = end + 1;
  }
  return parts;
}

}  // namespace korva::installer
