#pragma once
// The parsed form of a profile file under the direct-mode rules: which lines
// are section headers and keys, where each section's content ends, and the
// key-name list each section yields. Everything is kept as offsets into the
// file's bytes, which the parsed form owns and never changes, so that a file
// of many short lines costs a small multiple of its size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

struct Span {
  std::uint32_t begin = 0;
  std::uint32_t size = 0;
};

struct KeyLine {
  std::uint32_t lineBegin = 0;
  std::uint32_t lineEnd = 0;  // after the line's LF, or the end of the file
  Span name;
  Span value;  // as written, blanks and tabs around it removed
};

struct Section {
  Span name;
  std::uint32_t firstKey = 0;  // its keys, in file order and duplicates included
  std::uint32_t keyCount = 0;
  // Where a new key goes: after the last line of the section that holds more
  // than blanks, so that blank lines before the next section stay there.
  std::uint32_t contentEnd = 0;
  bool contentEndsWithLineBreak = true;
  // The key-name list: the first listedWhole keys fit entirely; the next name
  // is listed cut to cutLength characters when cutLength > 0.
  std::uint32_t listedWhole = 0;
  std::uint32_t cutLength = 0;
  // Its open-addressing table of first keys of each name.
  std::uint32_t slotsBegin = 0;
  std::uint32_t slotMask = 0;
};

struct ParsedProfile {
  std::string bytes;
  std::vector<Section> sections;  // first occurrence of each name only
  std::vector<KeyLine> keys;
  std::vector<std::uint32_t> slots;  // the sections' key tables, then the section table
  std::uint32_t sectionSlotsBegin = 0;
  std::uint32_t sectionSlotMask = 0;
  // Larger than any profile file has reason to be (kMaxParsedBytes): it
  // reads as a file without sections and is never rewritten.
  bool tooLarge = false;

  std::string_view Text(Span span) const {
    return std::string_view(bytes).substr(span.begin, span.size);
  }
  const KeyLine& Key(const Section& section, std::uint32_t i) const {
    return keys[section.firstKey + i];
  }
  // Lookups trim blanks and tabs from the name asked for.
  const Section* FindSection(std::string_view name) const;
  const KeyLine* FindKey(const Section& section, std::string_view name) const;
  // The position within the section of the first key of exactly this name
  // (not trimmed).
  std::optional<std::uint32_t> FirstKeyIndex(const Section& section, std::string_view name) const;
};

// Limits of the platform's profile functions.
constexpr std::size_t kMaxValueLength = 2047;
constexpr std::size_t kKeyListBytes = 16384;
// Offsets and indexes are 32-bit; the tables stay well inside that.
constexpr std::size_t kMaxParsedBytes = std::size_t{1} << 30;

std::shared_ptr<const ParsedProfile> ParseProfile(std::string bytes);

// The value as a read returns it: one pair of enclosing quotes removed, cut to
// the value limit.
std::string_view ValueAsRead(std::string_view stored);

}  // namespace korva::settings::profile
