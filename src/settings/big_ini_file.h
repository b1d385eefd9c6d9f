#pragma once
// Whole-file mode of the profile component: the file is loaded into memory
// when it is opened and written back when it is released. Used by the pruning
// pass over the local script file, which lists the sections and erases the
// old ones.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korva::settings {

struct TSection {
  std::string name;
  std::vector<std::string> lines;  // exactly as read
};

// The sections of a file in file order; names compare without regard to
// case, accented letters included.
class TSectionList {
 public:
  std::size_t Count() const { return sections_.size(); }
  const TSection& operator[](std::size_t index) const { return sections_[index]; }
  TSection& Add(std::string name);
  void Delete(std::size_t index);
  void Clear() { sections_.clear(); }
  // Searches from `start` to the end, then from the beginning.
  std::optional<std::size_t> Find(std::string_view name, std::size_t start) const;

 private:
  std::vector<TSection> sections_;
};

class TBigIniFile {
 public:
  // Loads the file; a missing one gives no sections. A file that exists but
  // cannot be read fails with FileError and the file system's wording.
  explicit TBigIniFile(std::string fileName);
  // Releases what a caller did not: a failure of that last write cannot be
  // reported from here, so callers that care call Release themselves.
  ~TBigIniFile();
  TBigIniFile(const TBigIniFile&) = delete;
  TBigIniFile& operator=(const TBigIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }
  std::vector<std::string> ReadSections() const;
  // Removes the section and its lines; no effect when there is none.
  void EraseSection(std::string_view name);
  // Writes the file back when a section was erased, then drops the content.
  // Fails with FileError (the file system's wording) and leaves the file as
  // it was when it cannot be rewritten.
  void Release();

  const TSectionList& Sections() const { return sections_; }
  bool Changed() const { return changed_; }

 private:
  void Load();
  std::string Serialized() const;

  std::string fileName_;
  TSectionList sections_;
  std::size_t lookupPosition_ = 0;
  bool changed_ = false;
};

}  // namespace korva::settings
