#include "settings/big_ini_file.h"

#include <unordered_set>

#include "platform/files.h"
#include "settings/profile_cache.h"
#include "settings/profile_parser.h"
#include "settings/profile_storage.h"
#include "text/cp1252.h"
#include "text/error.h"

namespace korva::settings {
namespace {

constexpr char kEndOfFile = '\x1A';

[[noreturn]] void FailWith(const std::string& fileName, const platform::FileSystemError& error) {
  throw FileError(fileName + ": " + error.Reason());
}

// The text lines of the file: a line ends at LF or CR LF, a CR on its own is
// dropped and Ctrl-Z ends the file.
template <typename OnLine>
void ForEachLine(std::string_view bytes, OnLine onLine) {
  const std::size_t eof = bytes.find(kEndOfFile);
  if (eof != std::string_view::npos) bytes = bytes.substr(0, eof);
  std::string line;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t lf = bytes.find('\n', pos);
    const bool last = lf == std::string_view::npos;
    if (last) lf = bytes.size();
    std::string_view raw = bytes.substr(pos, lf - pos);
    pos = lf + 1;
    if (raw.find('\r') == std::string_view::npos) {
      line.assign(raw);
    } else {
      line.clear();
      for (char c : raw) {
        if (c != '\r') line += c;
      }
    }
    onLine(std::move(line));
  }
}

bool IsSectionHeader(std::string_view line) {
  return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

}  // namespace

TSection& TSectionList::Add(std::string name) {
  sections_.push_back(TSection{std::move(name), {}});
  return sections_.back();
}

void TSectionList::Delete(std::size_t index) {
  sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::optional<std::size_t> TSectionList::Find(std::string_view name, std::size_t start) const {
  const std::size_t count = sections_.size();
  if (start > count) start = 0;
  for (std::size_t i = start; i < count; ++i) {
    if (text::SameText1252(sections_[i].name, name)) return i;
  }
  for (std::size_t i = 0; i < start; ++i) {
    if (text::SameText1252(sections_[i].name, name)) return i;
  }
  return std::nullopt;
}

TBigIniFile::TBigIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  Load();
}

TBigIniFile::~TBigIniFile() {
  try {
    Release();
  } catch (const KorvaError&) {
    // The file keeps its previous content; the next pruning pass starts over.
  }
}

void TBigIniFile::Load() {
  // No file yet is an empty one; a folder under the name fails to read.
  if (!platform::FileExists(fileName_) && !platform::DirectoryExists(fileName_)) return;
  profile::FileSnapshot snapshot;
  try {
    snapshot = profile::ReadSnapshotOrFail(fileName_);
  } catch (const platform::FileSystemError& e) {
    FailWith(fileName_, e);
  }
  // Later sections of a name already seen are dropped with their lines.
  std::unordered_set<std::string, profile::FoldedHash, profile::FoldedEqual> seen;
  TSection* current = nullptr;
  bool currentIsRepeated = false;
  std::vector<std::size_t> repeated;
  ForEachLine(snapshot.bytes, [&](std::string&& line) {
    if (line.empty()) return;
    if (IsSectionHeader(line)) {
      current = &sections_.Add(line.substr(1, line.size() - 2));
      currentIsRepeated = !seen.insert(current->name).second;
      if (currentIsRepeated) repeated.push_back(sections_.Count() - 1);
      return;
    }
    if (current && !currentIsRepeated) current->lines.push_back(std::move(line));
  });
  for (auto it = repeated.rbegin(); it != repeated.rend(); ++it) sections_.Delete(*it);
  changed_ = false;
}

std::vector<std::string> TBigIniFile::ReadSections() const {
  std::vector<std::string> names;
  names.reserve(sections_.Count());
  for (std::size_t i = 0; i < sections_.Count(); ++i) names.push_back(sections_[i].name);
  return names;
}

void TBigIniFile::EraseSection(std::string_view name) {
  const auto found = sections_.Find(name, lookupPosition_);
  if (!found) return;
  lookupPosition_ = *found;
  sections_.Delete(*found);
  lookupPosition_ = 0;
  changed_ = true;
}

std::string TBigIniFile::Serialized() const {
  std::string out;
  for (std::size_t i = 0; i < sections_.Count(); ++i) {
    const TSection& section = sections_[i];
    if (section.lines.empty()) continue;
    out += '[';
    out += section.name;
    out += "]\r\n";
    for (const std::string& line : section.lines) {
      out += line;
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

void TBigIniFile::Release() {
  if (changed_) {
    try {
      profile::ReplaceFileOrFail(fileName_, Serialized());
    } catch (const platform::FileSystemError& e) {
      FailWith(fileName_, e);
    }
    profile::ForgetProfile(fileName_);
    changed_ = false;
  }
  sections_.Clear();
  lookupPosition_ = 0;
}

}  // namespace korva::settings
