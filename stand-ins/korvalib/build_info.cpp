#include "build_info.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/file.h"
#include "platform/files.h"

namespace korvalib {
namespace {

// Everything read from a file goes through here: every read is checked
// against the file's size, so no offset or size taken from the file can make
// us read outside it.
class CheckedFile {
 public:
  // Only a plain file opens (a pipe never makes us wait); anything else, like
  // a file that cannot be opened, is not usable.
  explicit CheckedFile(const std::string& path) {
    try {
      file_ = korva::platform::File::OpenRead(path);
      size_ = static_cast<std::uint64_t>(file_.Size());
    } catch (const korva::platform::FileSystemError&) {
      file_ = korva::platform::File();
    }
  }

  bool Usable() const { return file_.IsOpen(); }
  std::uint64_t Size() const { return size_; }

  // Exactly size bytes at offset, or false.
  bool Read(std::uint64_t offset, std::size_t size, void* out) const {
    if (offset > size_ || size > size_ - offset) return false;
    try {
      return file_.ReadAt(offset, out, size) == size;
    } catch (const korva::platform::FileSystemError&) {
      return false;
    }
  }

  std::optional<std::string> ReadString(std::uint64_t offset, std::size_t size) const {
    if (offset > size_ || size > size_ - offset) return std::nullopt;  // before allocating
    std::string bytes(size, '\0');
    if (!Read(offset, size, bytes.data())) return std::nullopt;
    return bytes;
  }

 private:
  korva::platform::File file_;
  std::uint64_t size_ = 0;
};

std::uint16_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}

std::uint32_t U32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(U16(b, at)) |
         (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// ---------------------------------------------------------------------------
// UTF-16 to Windows-1252.

constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::optional<char> To1252(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kHigh1252[i] == c) return static_cast<char>(0x80 + i);
  return std::nullopt;
}

// The UTF-16LE text at [begin, end) up to its first NUL. Keys must convert
// exactly; values get '?' for characters the code page cannot hold.
std::string Utf16To1252(std::string_view b, std::size_t begin, std::size_t end, bool* exact) {
  std::string out;
  for (std::size_t at = begin; at + 2 <= end; at += 2) {
    const char16_t c = U16(b, at);
    if (c == 0) break;
    if (c >= 0xDC00 && c <= 0xDFFF) continue;  // the second half of a pair already counted
    const auto mapped = To1252(c);
    if (!mapped && exact) *exact = false;
    out.push_back(mapped.value_or('?'));
  }
  return out;
}

// ---------------------------------------------------------------------------
// Windows PE version resources.

constexpr std::uint32_t kResourceTypeVersion = 16;
// wLength is 16 bits: no version resource is larger.
constexpr std::uint32_t kMaxVersionResource = 0xFFFF;

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
};

class PeImage {
 public:
  // nullopt: not a PE image at all (the file is read as any other file).
  static std::optional<PeImage> Open(const CheckedFile& file) {
    char dos[64];
    if (!file.Read(0, sizeof dos, dos)) return std::nullopt;
    const std::string_view d(dos, sizeof dos);
    if (d.substr(0, 2) != "MZ") return std::nullopt;
    const std::uint64_t pe = U32(d, 0x3C);
    char head[24];
    if (!file.Read(pe, sizeof head, head)) return std::nullopt;
    const std::string_view h(head, sizeof head);
    if (h.substr(0, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;

    PeImage image(file);
    const std::uint16_t sectionCount = U16(h, 6);
    const std::uint16_t optionalSize = U16(h, 20);
    const std::uint64_t optional = pe + 24;
    const auto opt = file.ReadString(optional, optionalSize);
    if (!opt || optionalSize < 2) return image;  // a PE, but nothing to find in it
    std::size_t directories = 0;
    std::size_t countAt = 0;
    switch (U16(*opt, 0)) {
      case 0x10B:  // PE32
        countAt = 92;
        directories = 96;
        break;
      case 0x20B:  // PE32+
        countAt = 108;
        directories = 112;
        break;
      default:
        return image;
    }
    constexpr std::size_t kResourceDirectory = 2;
    const std::size_t entryAt = directories + kResourceDirectory * 8;
    if (optionalSize < entryAt + 8 || U32(*opt, countAt) <= kResourceDirectory) return image;
    image.resourceRva_ = U32(*opt, entryAt);

    const auto table = file.ReadString(optional + optionalSize, std::size_t{sectionCount} * 40);
    if (!table) return image;
    for (std::size_t i = 0; i < sectionCount; ++i) {
      const std::size_t at = i * 40;
      image.sections_.push_back({U32(*table, at + 12), U32(*table, at + 16), U32(*table, at + 20)});
    }
    return image;
  }

  // The version resource's bytes, or nullopt when there is none.
  std::optional<std::string> VersionResource() const {
    if (resourceRva_ == 0) return std::nullopt;
    // Exactly three levels (type, name, language), so a tree whose offsets
    // point back at itself cannot send us round in circles.
    auto level = SubdirectoryOf(0, kResourceTypeVersion);
    if (level) level = SubdirectoryOf(*level, std::nullopt);
    if (!level) return std::nullopt;
    const auto leaf = EntryOf(*level, std::nullopt);
    if (!leaf || (*leaf & 0x80000000u)) return std::nullopt;
    const auto dataEntry = ReadResource(*leaf, 16);
    if (!dataEntry) return std::nullopt;
    const std::uint32_t dataRva = U32(*dataEntry, 0);
    const std::uint32_t size = std::min(U32(*dataEntry, 4), kMaxVersionResource);
    return ReadRva(dataRva, size);
  }

 private:
  explicit PeImage(const CheckedFile& file) : file_(&file) {}

  // Data of the image at an address as loaded, if the file holds all of it.
  std::optional<std::string> ReadRva(std::uint64_t rva, std::size_t size) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      const std::uint64_t into = rva - s.virtualAddress;
      if (into > s.rawSize || size > s.rawSize - into) continue;
      return file_->ReadString(std::uint64_t{s.rawOffset} + into, size);
    }
    return std::nullopt;
  }

  std::optional<std::string> ReadResource(std::uint32_t offset, std::size_t size) const {
    return ReadRva(std::uint64_t{resourceRva_} + offset, size);
  }

  // The OffsetToData of the entry with that id, or of the first entry.
  std::optional<std::uint32_t> EntryOf(std::uint32_t directory,
                                       std::optional<std::uint32_t> id) const {
    const auto header = ReadResource(directory, 16);
    if (!header) return std::nullopt;
    const std::size_t count = std::size_t{U16(*header, 12)} + U16(*header, 14);
    if (count == 0) return std::nullopt;
    const auto entries = ReadResource(directory + 16, count * 8);
    if (!entries) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t name = U32(*entries, i * 8);
      if (!id || (!(name & 0x80000000u) && name == *id)) return U32(*entries, i * 8 + 4);
    }
    return std::nullopt;
  }

  std::optional<std::uint32_t> SubdirectoryOf(std::uint32_t directory,
                                              std::optional<std::uint32_t> id) const {
    const auto entry = EntryOf(directory, id);
    if (!entry || !(*entry & 0x80000000u)) return std::nullopt;
    return *entry & 0x7FFFFFFFu;
  }

  const CheckedFile* file_;
  std::uint32_t resourceRva_ = 0;
  std::vector<Section> sections_;
};

// One node of VS_VERSIONINFO: wLength, wValueLength, wType, szKey, padding,
// Value, padding, children. Offsets are from the start of the resource, which
// the image keeps 32-bit aligned.
struct VersionNode {
  std::size_t end = 0;
  std::string key;
  bool keyExact = true;
  std::size_t valueBegin = 0;
  std::size_t childrenBegin = 0;
};

std::size_t Align4(std::size_t at) {
  return (at + 3) & ~std::size_t{3};
}

std::optional<VersionNode> ParseNode(std::string_view b, std::size_t at, std::size_t limit) {
  if (at + 6 > limit) return std::nullopt;
  const std::size_t length = U16(b, at);
  if (length < 6 || length > limit - at) return std::nullopt;
  VersionNode node;
  node.end = at + length;
  std::size_t keyEnd = at + 6;
  while (keyEnd + 2 <= node.end && U16(b, keyEnd) != 0) keyEnd += 2;
  if (keyEnd + 2 > node.end) return std::nullopt;  // the key has no terminator
  node.key = Utf16To1252(b, at + 6, keyEnd, &node.keyExact);
  node.valueBegin = std::min(Align4(keyEnd + 2), node.end);
  const std::size_t valueLength = U16(b, at + 2);
  const std::size_t valueBytes = U16(b, at + 4) == 1 ? valueLength * 2 : valueLength;
  node.childrenBegin = std::min(Align4(node.valueBegin + valueBytes), node.end);
  return node;
}

// Every child of a node, in order; each step moves forward by at least six
// bytes, so a node cannot make us loop.
template <typename Visit>
void ForEachChild(std::string_view b, const VersionNode& parent, Visit visit) {
  std::size_t at = parent.childrenBegin;
  while (at + 6 <= parent.end) {
    const auto child = ParseNode(b, at, parent.end);
    if (!child) return;
    if (!visit(*child)) return;
    at = Align4(child->end);
  }
}

std::string VersionString(std::string_view b, std::string_view key) {
  const auto root = ParseNode(b, 0, b.size());
  if (!root || root->key != "VS_VERSION_INFO") return {};

  std::optional<VersionNode> strings;
  std::string translation;
  ForEachChild(b, *root, [&](const VersionNode& child) {
    if (child.key == "StringFileInfo" && !strings) strings = child;
    if (child.key == "VarFileInfo" && translation.empty()) {
      ForEachChild(b, child, [&](const VersionNode& var) {
        if (var.key != "Translation" || var.valueBegin + 4 > var.end) return true;
        static const char* hex = "0123456789abcdef";
        const std::uint32_t code =
            (std::uint32_t{U16(b, var.valueBegin)} << 16) | U16(b, var.valueBegin + 2);
        for (int shift = 28; shift >= 0; shift -= 4)
          translation.push_back(hex[(code >> shift) & 0xF]);
        return false;
      });
    }
    return true;
  });
  if (!strings) return {};

  std::optional<VersionNode> table;
  ForEachChild(b, *strings, [&](const VersionNode& candidate) {
    if (!table) table = candidate;
    if (!translation.empty() && SameKey(candidate.key, translation)) {
      table = candidate;
      return false;
    }
    return true;
  });
  if (!table) return {};

  std::string value;
  ForEachChild(b, *table, [&](const VersionNode& item) {
    if (!item.keyExact || !SameKey(item.key, key)) return true;
    value = Utf16To1252(b, item.valueBegin, item.end, nullptr);
    return false;
  });
  return value;
}

// ---------------------------------------------------------------------------
// KORVA-BUILDINFO blocks.

constexpr std::string_view kBlockBegin = "KORVA-BUILDINFO";
constexpr std::string_view kBlockEnd = "KORVA-BUILDINFO-END";
constexpr std::size_t kMaxBlock = 64 * 1024;
constexpr std::size_t kMaxKey = 64;
constexpr std::uint64_t kScanLimit = 256ull * 1024 * 1024;
constexpr std::size_t kChunk = 256 * 1024;

bool KeyChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

struct BlockLine {
  std::string_view text;  // without its line end
  char end;               // '\n', '\0', or kOutOfBytes
};
constexpr char kOutOfBytes = 1;

BlockLine NextLine(std::string_view bytes, std::size_t& at) {
  const std::size_t start = at;
  while (at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\0') ++at;
  BlockLine line{bytes.substr(start, at - start), at < bytes.size() ? bytes[at] : kOutOfBytes};
  if (at < bytes.size()) ++at;
  if (line.end == '\n' && !line.text.empty() && line.text.back() == '\r')
    line.text.remove_suffix(1);
  return line;
}

enum class Verdict { kBlock, kNotABlock, kNeedMore };
struct Parsed {
  Verdict verdict;
  std::string value;  // of the key, empty when the block lacks it
};

// The block whose first line starts `bytes` (at most kMaxBlock of them).
// kNeedMore: valid as far as the bytes go, but they end before the file
// does and before the size limit; the caller reads on and asks again.
Parsed ParseBlock(std::string_view bytes, bool reachesEndOfFile, std::string_view key) {
  const Verdict outOfBytes =
      reachesEndOfFile || bytes.size() >= kMaxBlock ? Verdict::kNotABlock : Verdict::kNeedMore;
  std::size_t at = 0;
  const BlockLine first = NextLine(bytes, at);
  if (first.end == kOutOfBytes) return {outOfBytes, {}};
  if (first.text != kBlockBegin || first.end != '\n') return {Verdict::kNotABlock, {}};
  std::optional<std::string> value;
  for (;;) {
    const BlockLine line = NextLine(bytes, at);
    if (line.end == kOutOfBytes) {
      if (line.text == kBlockEnd && reachesEndOfFile) return {Verdict::kBlock, value.value_or("")};
      return {outOfBytes, {}};
    }
    if (line.text == kBlockEnd) return {Verdict::kBlock, value.value_or("")};
    if (line.end != '\n') return {Verdict::kNotABlock, {}};
    const auto equals = line.text.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals > kMaxKey)
      return {Verdict::kNotABlock, {}};
    for (std::size_t i = 0; i < equals; ++i)
      if (!KeyChar(line.text[i])) return {Verdict::kNotABlock, {}};
    const std::string_view itemValue = line.text.substr(equals + 1);
    if (itemValue.find('\r') != std::string_view::npos) return {Verdict::kNotABlock, {}};
    if (!value && SameKey(line.text.substr(0, equals), key)) value = std::string(itemValue);
  }
}

// Candidates are parsed where they lie in the chunk already read. A marker
// line inside a candidate makes it invalid, so no two candidates are parsed
// over the same bytes and the work stays in proportion to the file, whatever
// it holds; only a candidate running past the chunk's end is read again.
std::string BlockValue(const CheckedFile& file, std::string_view key) {
  const std::uint64_t limit = std::min(file.Size(), kScanLimit);
  std::string chunk;
  for (std::uint64_t pos = 0; pos < limit;) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, limit - pos));
    chunk.resize(size);
    if (!file.Read(pos, size, chunk.data())) return {};
    for (std::size_t i = chunk.find(kBlockBegin); i != std::string::npos;
         i = chunk.find(kBlockBegin, i + 1)) {
      const std::uint64_t start = pos + i;
      char before = '\n';
      if (i > 0) {
        before = chunk[i - 1];
      } else if (start > 0 && !file.Read(start - 1, 1, &before)) {
        return {};
      }
      if (before != '\n' && before != '\0') continue;
      const std::string_view here = std::string_view(chunk).substr(i, kMaxBlock);
      Parsed parsed = ParseBlock(here, start + here.size() == file.Size(), key);
      if (parsed.verdict == Verdict::kNeedMore) {
        const auto block = file.ReadString(start, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                      kMaxBlock, file.Size() - start)));
        if (!block) return {};
        parsed = ParseBlock(*block, start + block->size() == file.Size(), key);
      }
      if (parsed.verdict == Verdict::kBlock) return parsed.value;
    }
    if (pos + size >= limit) break;
    // Overlap by one marker less a byte: a marker cut by the chunk's end is
    // found whole in the next chunk, and none is found twice.
    pos += size - (kBlockBegin.size() - 1);
  }
  return {};
}

}  // namespace

std::string ReadBuildInfo(const std::string& file, std::string_view key) {
  const CheckedFile f(file == "SELF" ? korva::platform::ExecutablePath() : file);
  if (!f.Usable() || key.empty()) return {};
  if (const auto image = PeImage::Open(f)) {
    const auto resource = image->VersionResource();
    return resource ? VersionString(*resource, key) : std::string();
  }
  return BlockValue(f, key);
}

}  // namespace korvalib
