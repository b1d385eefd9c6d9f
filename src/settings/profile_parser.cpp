#include "settings/profile_parser.h"

#include <array>
#include <cstring>

#include "text/cp1252.h"

namespace korva::settings::profile {
namespace {

// Lookups fold every character of every name; a table keeps that off the
// per-key cost of a script package read.
const std::array<unsigned char, 256>& FoldTable() {
  static const std::array<unsigned char, 256> table = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) {
      t[c] = static_cast<unsigned char>(text::UpperChar1252(static_cast<char>(c)));
    }
    return t;
  }();
  return table;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A line of nothing but blanks (a lone CR included) is not content of a
// section: a new key goes before it.
bool IsBlankLine(std::string_view line) {
  for (char c : line) {
    if (!IsBlank(c) && c != '\r') return false;
  }
  return true;
}

void ListKeyNames(Section& section) {
  std::size_t used = 1;  // the byte that closes the list
  for (const KeyLine& key : section.keys) {
    const std::size_t need = key.name.size() + 1;
    if (used + need <= kKeyListBytes) {
      used += need;
      ++section.listedWhole;
      continue;
    }
    // The name that does not fit keeps as many characters as leave room for
    // its own closing byte; nothing after it is listed.
    section.cutLength = kKeyListBytes > used + 1 ? kKeyListBytes - used - 1 : 0;
    break;
  }
}

}  // namespace

std::size_t FoldedHash::operator()(std::string_view s) const noexcept {
  const auto& fold = FoldTable();
  std::uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= fold[static_cast<unsigned char>(c)];
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h);
}

bool FoldedEqual::operator()(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return false;
  const auto& fold = FoldTable();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])]) {
      return false;
    }
  }
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

const Section* ParsedProfile::FindSection(std::string_view name) const {
  const auto it = sectionIndex.find(TrimBlanks(name));
  return it == sectionIndex.end() ? nullptr : &sections[it->second];
}

const KeyLine* ParsedProfile::FindKey(const Section& section, std::string_view name) {
  const auto it = section.firstKey.find(TrimBlanks(name));
  return it == section.firstKey.end() ? nullptr : &section.keys[it->second];
}

std::string_view ValueAsRead(std::string_view stored) {
  if (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') &&
      stored.back() == stored.front()) {
    stored = stored.substr(1, stored.size() - 2);
  }
  return stored.substr(0, kMaxValueLength);
}

std::shared_ptr<const ParsedProfile> ParseProfile(std::string bytes) {
  auto parsed = std::make_shared<ParsedProfile>();
  parsed->bytes = std::move(bytes);
  // Views are taken only now that the bytes sit where they stay.
  const std::string_view all(parsed->bytes);
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t current = kNone;  // kNone: before the first section, or in a repeated one
  std::size_t pos = 0;
  while (pos < all.size()) {
    const void* lf = std::memchr(all.data() + pos, '\n', all.size() - pos);
    const std::size_t lfPos =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - all.data()) : all.size();
    const std::size_t lineEnd = lf ? lfPos + 1 : all.size();
    std::size_t textEnd = lfPos;
    if (lf && textEnd > pos && all[textEnd - 1] == '\r') --textEnd;
    const std::string_view line = all.substr(pos, textEnd - pos);
    const std::size_t lineBegin = pos;
    pos = lineEnd;

    std::size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start < line.size() && line[start] == '[') {
      const std::size_t close = line.find(']', start + 1);
      if (close != std::string_view::npos) {
        const std::string_view name = TrimBlanks(line.substr(start + 1, close - start - 1));
        const auto [it, added] = parsed->sectionIndex.try_emplace(
            name, static_cast<std::uint32_t>(parsed->sections.size()));
        if (added) {
          current = parsed->sections.size();
          Section& section = parsed->sections.emplace_back();
          section.name = name;
          section.contentEnd = lineEnd;
          section.contentEndsWithLineBreak = lf != nullptr;
        } else {
          current = kNone;
        }
        continue;
      }
      // A "[" without "]" is no header; the line may still be a key.
    }
    if (current == kNone) continue;
    Section& section = parsed->sections[current];
    if (!IsBlankLine(line)) {
      section.contentEnd = lineEnd;
      section.contentEndsWithLineBreak = lf != nullptr;
    }
    // Comments may hold "=" and are still no keys.
    if (start < line.size() && line[start] == ';') continue;
    const std::size_t eq = line.find('=', start);
    if (eq == std::string_view::npos) continue;
    const std::string_view name = TrimBlanks(line.substr(start, eq - start));
    if (name.empty()) continue;
    section.firstKey.try_emplace(name, static_cast<std::uint32_t>(section.keys.size()));
    section.keys.push_back(KeyLine{lineBegin, lineEnd, name, TrimBlanks(line.substr(eq + 1))});
  }
  for (Section& section : parsed->sections) ListKeyNames(section);
  return parsed;
}

}  // namespace korva::settings::profile
