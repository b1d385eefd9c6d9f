#pragma once
// The parsed form of a profile file under the direct-mode rules: which lines
// are section headers and keys, where each section's content ends, and the
// key-name list each section yields. Offsets point into the file's bytes,
// which the parsed form owns and never changes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korva::settings::profile {

// Names compare without regard to case, accented letters included.
struct FoldedHash {
  std::size_t operator()(std::string_view s) const noexcept;
};
struct FoldedEqual {
  bool operator()(std::string_view a, std::string_view b) const noexcept;
};

// Blanks and tabs around names and values are not part of them.
std::string_view TrimBlanks(std::string_view s);

struct KeyLine {
  std::size_t lineBegin = 0;
  std::size_t lineEnd = 0;  // after the line's LF, or the end of the file
  std::string_view name;
  std::string_view value;  // as written, blanks and tabs around it removed
};

struct Section {
  std::string_view name;
  std::vector<KeyLine> keys;  // in file order, duplicates included
  // First key of each name.
  std::unordered_map<std::string_view, std::uint32_t, FoldedHash, FoldedEqual> firstKey;
  // Where a new key goes: after the last line of the section that holds more
  // than blanks, so that blank lines before the next section stay there.
  std::size_t contentEnd = 0;
  bool contentEndsWithLineBreak = true;
  // The key-name list: keys[0 .. listedWhole) fit entirely; the next name is
  // listed cut to cutLength characters when cutLength > 0.
  std::size_t listedWhole = 0;
  std::size_t cutLength = 0;
};

struct ParsedProfile {
  std::string bytes;
  std::vector<Section> sections;  // first occurrence of each name only
  std::unordered_map<std::string_view, std::uint32_t, FoldedHash, FoldedEqual> sectionIndex;

  const Section* FindSection(std::string_view name) const;
  static const KeyLine* FindKey(const Section& section, std::string_view name);
};

// Limits of the platform's profile functions.
constexpr std::size_t kMaxValueLength = 2047;
constexpr std::size_t kKeyListBytes = 16384;

std::shared_ptr<const ParsedProfile> ParseProfile(std::string bytes);

// The value as a read returns it: one pair of enclosing quotes removed, cut to
// the value limit.
std::string_view ValueAsRead(std::string_view stored);

}  // namespace korva::settings::profile
