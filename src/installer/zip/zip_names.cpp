#include "installer/zip/zip_names.h"

#include "platform/relative_names.h"
#include "text/cp1252.h"

namespace korva::installer {
namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
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
  return platform::SplitRelativePath(storedName);
}

}  // namespace korva::installer
