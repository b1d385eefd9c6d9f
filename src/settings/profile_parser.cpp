#include "settings/profile_parser.h"

#include <algorithm>
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

constexpr std::uint32_t kEmptySlot = UINT32_MAX;

// Open addressing over 32-bit indexes: a table of at least twice as many
// slots as names always has an empty slot to end a probe.
std::uint32_t TableSizeFor(std::uint32_t count) {
  std::uint32_t size = 1;
  while (size < count * 2u) size <<= 1;
  return size;
}

template <typename Slot, typename NameOf>
Slot* Probe(Slot* table, std::uint32_t mask, std::string_view name, NameOf nameOf) {
  std::uint32_t i = static_cast<std::uint32_t>(FoldedHash{}(name)) & mask;
  for (;;) {
    Slot* slot = table + i;
    if (*slot == kEmptySlot || FoldedEqual{}(nameOf(*slot), name)) return slot;
    i = (i + 1) & mask;
  }
}

void ListKeyNames(const ParsedProfile& parsed, Section& section) {
  std::size_t used = 1;  // the byte that closes the list
  for (std::uint32_t i = 0; i < section.keyCount; ++i) {
    const std::size_t need = static_cast<std::size_t>(parsed.Key(section, i).name.size) + 1;
    if (used + need <= kKeyListBytes) {
      used += need;
      ++section.listedWhole;
      continue;
    }
    // The name that does not fit keeps as many characters as leave room for
    // its own closing byte; nothing after it is listed.
    section.cutLength =
        static_cast<std::uint32_t>(kKeyListBytes > used + 1 ? kKeyListBytes - used - 1 : 0);
    break;
  }
}

// The first key of each name, found in one probe on average.
void IndexKeys(ParsedProfile& parsed, Section& section) {
  const std::uint32_t size = TableSizeFor(section.keyCount);
  section.slotsBegin = static_cast<std::uint32_t>(parsed.slots.size());
  section.slotMask = size - 1;
  parsed.slots.resize(parsed.slots.size() + size, kEmptySlot);
  std::uint32_t* table = parsed.slots.data() + section.slotsBegin;
  const auto nameOf = [&](std::uint32_t i) { return parsed.Text(parsed.Key(section, i).name); };
  for (std::uint32_t i = 0; i < section.keyCount; ++i) {
    std::uint32_t* slot = Probe(table, section.slotMask, nameOf(i), nameOf);
    if (*slot == kEmptySlot) *slot = i;
  }
}

// Section names are looked up while the file is read, to drop repeated
// sections, so their table grows as they come.
class SectionTable {
  struct NameOf {
    const ParsedProfile& parsed;
    std::string_view operator()(std::uint32_t i) const {
      return parsed.Text(parsed.sections[i].name);
    }
  };

 public:
  explicit SectionTable(const ParsedProfile& parsed) : parsed_(parsed), slots_(8, kEmptySlot) {}

  // The index of the section of that name, or kEmptySlot after recording
  // `index` under it.
  std::uint32_t FindOrAdd(std::string_view name, std::uint32_t index) {
    if ((std::size_t{count_} + 1) * 2 > slots_.size()) Grow();
    std::uint32_t* slot = Probe(slots_.data(), Mask(), name, NameOf{parsed_});
    if (*slot != kEmptySlot) return *slot;
    *slot = index;
    ++count_;
    return kEmptySlot;
  }

  std::vector<std::uint32_t> Release() { return std::move(slots_); }

 private:
  std::uint32_t Mask() const { return static_cast<std::uint32_t>(slots_.size() - 1); }
  void Grow() {
    std::vector<std::uint32_t> old(slots_.size() * 2, kEmptySlot);
    old.swap(slots_);
    for (std::uint32_t index : old) {
      if (index == kEmptySlot) continue;
      *Probe(slots_.data(), Mask(), parsed_.Text(parsed_.sections[index].name), NameOf{parsed_}) =
          index;
    }
  }

  const ParsedProfile& parsed_;
  std::vector<std::uint32_t> slots_;
  std::uint32_t count_ = 0;
};

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
  if (sections.empty()) return nullptr;
  const auto nameOf = [this](std::uint32_t i) { return Text(sections[i].name); };
  const std::uint32_t* table = slots.data() + sectionSlotsBegin;
  const std::uint32_t index = *Probe(table, sectionSlotMask, TrimBlanks(name), nameOf);
  return index == kEmptySlot ? nullptr : &sections[index];
}

std::optional<std::uint32_t> ParsedProfile::FirstKeyIndex(const Section& section,
                                                          std::string_view name) const {
  if (section.keyCount == 0) return std::nullopt;
  const auto nameOf = [&](std::uint32_t i) { return Text(Key(section, i).name); };
  const std::uint32_t* table = slots.data() + section.slotsBegin;
  const std::uint32_t index = *Probe(table, section.slotMask, name, nameOf);
  if (index == kEmptySlot) return std::nullopt;
  return index;
}

const KeyLine* ParsedProfile::FindKey(const Section& section, std::string_view name) const {
  const auto index = FirstKeyIndex(section, TrimBlanks(name));
  return index ? &Key(section, *index) : nullptr;
}

std::string_view ValueAsRead(std::string_view stored) {
  if (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') &&
      stored.back() == stored.front()) {
    stored = stored.substr(1, stored.size() - 2);
  }
  return stored.substr(0, kMaxValueLength);
}

namespace {

// One line of the file: its text without the line break, where it begins,
// where the next one begins, and whether a line break ends it.
struct Line {
  std::string_view text;
  std::size_t begin = 0;
  std::size_t end = 0;
  bool broken = false;
};

Line LineAt(std::string_view all, std::size_t pos) {
  const void* lf = std::memchr(all.data() + pos, '\n', all.size() - pos);
  const std::size_t lfPos =
      lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - all.data()) : all.size();
  std::size_t textEnd = lfPos;
  if (lf && textEnd > pos && all[textEnd - 1] == '\r') --textEnd;
  return Line{all.substr(pos, textEnd - pos), pos, lf ? lfPos + 1 : all.size(), lf != nullptr};
}

// Builds the parsed file line by line: sections as their headers come, keys
// into the section they stand in.
class ProfileBuilder {
 public:
  explicit ProfileBuilder(ParsedProfile& parsed)
      : parsed_(parsed), all_(parsed.bytes), sectionTable_(parsed) {
    // One key per line at most: reserving for every line spares the copies
    // of a growing vector, which for a file of short lines would be the
    // largest cost in memory.
    parsed_.keys.reserve(static_cast<std::size_t>(std::count(all_.begin(), all_.end(), '\n')) + 1);
  }

  void ReadAll() {
    for (std::size_t pos = 0; pos < all_.size();) {
      const Line line = LineAt(all_, pos);
      pos = line.end;
      Take(line);
    }
    FinishSection();
    std::vector<std::uint32_t> sectionSlots = sectionTable_.Release();
    parsed_.sectionSlotsBegin = static_cast<std::uint32_t>(parsed_.slots.size());
    parsed_.sectionSlotMask = static_cast<std::uint32_t>(sectionSlots.size() - 1);
    parsed_.slots.insert(parsed_.slots.end(), sectionSlots.begin(), sectionSlots.end());
    parsed_.sections.shrink_to_fit();
  }

 private:
  Span SpanOf(std::string_view part) const {
    return Span{static_cast<std::uint32_t>(part.data() - all_.data()),
                static_cast<std::uint32_t>(part.size())};
  }

  void Take(const Line& line) {
    std::size_t start = 0;
    while (start < line.text.size() && IsBlank(line.text[start])) ++start;
    // A "[" without "]" is no header; the line may still be a key.
    if (start < line.text.size() && line.text[start] == '[' && TakeHeader(line, start)) return;
    if (!current_) return;
    if (!IsBlankLine(line.text)) {
      current_->contentEnd = static_cast<std::uint32_t>(line.end);
      current_->contentEndsWithLineBreak = line.broken;
    }
    // Comments may hold "=" and are still no keys.
    if (start < line.text.size() && line.text[start] == ';') return;
    const std::size_t eq = line.text.find('=', start);
    if (eq == std::string_view::npos) return;
    const std::string_view name = TrimBlanks(line.text.substr(start, eq - start));
    if (name.empty()) return;
    parsed_.keys.push_back(KeyLine{static_cast<std::uint32_t>(line.begin),
                                   static_cast<std::uint32_t>(line.end), SpanOf(name),
                                   SpanOf(TrimBlanks(line.text.substr(eq + 1)))});
  }

  // False when the line is no header after all.
  bool TakeHeader(const Line& line, std::size_t start) {
    const std::size_t close = line.text.find(']', start + 1);
    if (close == std::string_view::npos) return false;
    FinishSection();
    current_ = nullptr;
    const std::string_view name = TrimBlanks(line.text.substr(start + 1, close - start - 1));
    const auto index = static_cast<std::uint32_t>(parsed_.sections.size());
    Section& section = parsed_.sections.emplace_back();
    section.name = SpanOf(name);
    // A repeated section: its lines belong to none.
    if (sectionTable_.FindOrAdd(name, index) != kEmptySlot) {
      parsed_.sections.pop_back();
      return true;
    }
    current_ = &section;
    current_->firstKey = static_cast<std::uint32_t>(parsed_.keys.size());
    current_->contentEnd = static_cast<std::uint32_t>(line.end);
    current_->contentEndsWithLineBreak = line.broken;
    return true;
  }

  void FinishSection() {
    if (!current_) return;
    current_->keyCount = static_cast<std::uint32_t>(parsed_.keys.size()) - current_->firstKey;
    ListKeyNames(parsed_, *current_);
    IndexKeys(parsed_, *current_);
  }

  ParsedProfile& parsed_;
  const std::string_view all_;
  SectionTable sectionTable_;
  Section* current_ = nullptr;  // null before the first section and in a repeated one
};

}  // namespace

std::shared_ptr<const ParsedProfile> ParseProfile(std::string bytes) {
  auto parsed = std::make_shared<ParsedProfile>();
  if (bytes.size() > kMaxParsedBytes) {
    parsed->tooLarge = true;
    return parsed;
  }
  parsed->bytes = std::move(bytes);
  ProfileBuilder(*parsed).ReadAll();
  return parsed;
}

}  // namespace korva::settings::profile
