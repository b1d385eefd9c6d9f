#include "settings/profile_file.h"

#include <optional>

#include "settings/profile_cache.h"
#include "settings/profile_parser.h"
#include "settings/profile_storage.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::settings {
namespace {

using profile::CurrentProfile;
using profile::ParsedProfile;

// The number rule of ReadInteger: blanks, a sign, then decimal digits or
// hexadecimal digits after "$", "x" or "X". A leading "0x" was already turned
// into "$"; after a sign it is not a number.
std::optional<std::int32_t> ProfileNumber(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) return std::nullopt;
  return text::TryStrToInt(s);
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Texts that would not read back as what was written: they would split the
// line, end the name early or make the line a section header.
void CheckWritable(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value) {
  const std::string_view name = profile::TrimBlanks(key);
  bool bad = HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value);
  bad = bad || section.find(']') != std::string_view::npos;
  bad = bad || name.empty() || name.find('=') != std::string_view::npos;
  bad = bad || name.front() == ';' ||
        (name.front() == '[' && name.find(']') != std::string_view::npos);
  if (bad) {
    throw KorvaError("Unable to write to " + path +
                     ": a section, key or value that a profile line cannot hold");
  }
}

std::string KeyLineText(std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  line += value;
  line += "\r\n";
  return line;
}

std::string HeaderLineText(std::string_view section) {
  std::string line(1, '[');
  line += section;
  line += "]\r\n";
  return line;
}

// The file after the write: one line replaced or inserted, every other byte
// as it was.
std::string Rewritten(const ParsedProfile* parsed, std::string_view section, std::string_view key,
                      std::string_view value) {
  const std::string_view sectionName = profile::TrimBlanks(section);
  const std::string_view keyName = profile::TrimBlanks(key);
  if (!parsed) return HeaderLineText(sectionName) + KeyLineText(keyName, value);
  const std::string& bytes = parsed->bytes;
  const profile::Section* found = parsed->FindSection(sectionName);
  if (!found) {
    std::string out = bytes;
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out += HeaderLineText(sectionName);
    out += KeyLineText(keyName, value);
    return out;
  }
  if (const profile::KeyLine* line = parsed->FindKey(*found, keyName)) {
    // The name keeps the spelling the file gives it.
    std::string out = bytes.substr(0, line->lineBegin);
    out += KeyLineText(parsed->Text(line->name), value);
    out.append(bytes, line->lineEnd, std::string::npos);
    return out;
  }
  std::string out = bytes.substr(0, found->contentEnd);
  if (!found->contentEndsWithLineBreak) out += "\r\n";
  out += KeyLineText(keyName, value);
  out.append(bytes, found->contentEnd, std::string::npos);
  return out;
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile ProfileFile::OverBytes(std::string path, std::string bytes) {
  ProfileFile file(std::move(path));
  file.pinned_ = profile::ParseProfile(std::move(bytes));
  return file;
}

std::shared_ptr<const ParsedProfile> ProfileFile::Parsed() const {
  return pinned_ ? pinned_ : CurrentProfile(path_);
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const auto parsed = Parsed();
  if (!parsed) return std::string(defaultValue);
  const profile::Section* found = parsed->FindSection(section);
  if (!found) return std::string(defaultValue);
  const profile::KeyLine* line = parsed->FindKey(*found, key);
  if (!line) return std::string(defaultValue);
  return std::string(profile::ValueAsRead(parsed->Text(line->value)));
}

std::int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t defaultValue) const {
  std::string value = ReadString(section, key, "");
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    value.replace(0, 2, 1, '$');
  }
  return ProfileNumber(value).value_or(defaultValue);
}

std::vector<std::string> ProfileFile::ReadSection(std::string_view section) const {
  std::vector<std::string> names;
  const auto parsed = Parsed();
  if (!parsed) return names;
  const profile::Section* found = parsed->FindSection(section);
  if (!found) return names;
  names.reserve(found->listedWhole + 1);
  for (std::uint32_t i = 0; i < found->listedWhole; ++i) {
    names.emplace_back(parsed->Text(parsed->Key(*found, i).name));
  }
  if (found->cutLength > 0) {
    names.emplace_back(parsed->Text(parsed->Key(*found, found->listedWhole).name), 0,
                       found->cutLength);
  }
  return names;
}

std::vector<std::string> ProfileFile::ReadSections() const {
  std::vector<std::string> names;
  const auto parsed = Parsed();
  if (!parsed) return names;
  for (const profile::Section& section : parsed->sections) {
    names.emplace_back(parsed->Text(section.name));
  }
  return names;
}

bool ProfileFile::ValueExists(std::string_view section, std::string_view key) const {
  const auto parsed = Parsed();
  if (!parsed) return false;
  const profile::Section* found = parsed->FindSection(section);
  if (!found) return false;
  // The key as given (not trimmed) against the listed names, as a lookup in
  // the list ReadSection returns would compare.
  const auto first = parsed->FirstKeyIndex(*found, key);
  if (first && *first < found->listedWhole) return true;
  if (found->cutLength == 0) return false;
  const std::string_view cut =
      parsed->Text(parsed->Key(*found, found->listedWhole).name).substr(0, found->cutLength);
  return profile::FoldedEqual{}(cut, key);
}

void ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  CheckWritable(path_, section, key, value);
  if (pinned_) throw KorvaError("Unable to write to " + path_ + ": an update file is only read");
  const auto parsed = CurrentProfile(path_);
  // A file that is there but cannot be read (or is too large to be a profile
  // file) would lose its content.
  if ((!parsed && platform::IdentifyFile(path_)) || (parsed && parsed->tooLarge)) {
    throw KorvaError("Unable to write to " + path_);
  }
  const std::string bytes = Rewritten(parsed.get(), section, key, value);
  profile::ForgetProfile(path_);
  profile::ReplaceFile(path_, bytes);
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, text::IntToStr(value));
}

void ProfileFile::ForgetCachedCopies() {
  profile::ForgetAllProfiles();
}

}  // namespace korva::settings
