#pragma once
// ProfileFile in direct mode: files of [sections] and name=value lines read and
// written with the Windows profile rules. Every operation sees the file as it
// is on disk at that moment. A parsed copy of each file is kept between
// operations and used only while the file on disk is provably unchanged, so a
// reader of thousands of keys pays for one parse, not one per key.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korva::settings {

namespace profile {
struct ParsedProfile;
}

class ProfileFile {
 public:
  // Making the component does not touch the file.
  explicit ProfileFile(std::string path);
  // The file as these bytes give it, by the same rules, whatever the disk
  // holds under its name meanwhile: an update file that was verified is read
  // from exactly the bytes that were verified. Writes to it are refused.
  static ProfileFile OverBytes(std::string path, std::string bytes);
  const std::string& FileName() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t defaultValue) const;
  std::vector<std::string> ReadSection(std::string_view section) const;
  // The section names in file order, each name once (its first spelling).
  std::vector<std::string> ReadSections() const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Throws KorvaError("Unable to write to <path>") when the file system refuses.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

  // Drops every kept copy, so that the next read of each file parses it again
  // (benchmarks start from a cold state).
  static void ForgetCachedCopies();

 private:
  std::shared_ptr<const profile::ParsedProfile> Parsed() const;

  std::string path_;
  std::shared_ptr<const profile::ParsedProfile> pinned_;
};

}  // namespace korva::settings
