#include "records/pending_branch_copies.h"

#include <algorithm>

#include "platform/files.h"
#include "settings/profile_file.h"
#include "text/cp1252.h"

namespace korva::records {
namespace {

bool SameEntry(const PendingBranchCopy& a, const std::string& folder, const std::string& package) {
  return text::SameText1252(a.folder, folder) &&
         (package.empty() || text::SameText1252(a.package, package));
}

// What a "[section]" or a "key=" cannot hold would not read back as written.
bool FitsAProfile(const std::string& name) {
  return !name.empty() && name.find_first_of("[]=\r\n") == std::string::npos;
}

}  // namespace

std::vector<PendingBranchCopy> PendingBranchCopies::Read() const {
  std::vector<PendingBranchCopy> copies;
  const settings::ProfileFile file(path_);
  for (const std::string& folder : file.ReadSections()) {
    for (const std::string& package : file.ReadSection(folder)) {
      copies.push_back({folder, package, file.ReadString(folder, package, "")});
    }
  }
  return copies;
}

void PendingBranchCopies::Keep(const PendingBranchCopy& copy) {
  if (!FitsAProfile(copy.folder) || !FitsAProfile(copy.package)) return;
  std::vector<PendingBranchCopy> copies = Read();
  const auto same = std::find_if(copies.begin(), copies.end(), [&](const PendingBranchCopy& c) {
    return SameEntry(c, copy.folder, copy.package);
  });
  if (same != copies.end()) {
    if (same->version == copy.version) return;
    same->version = copy.version;
  } else {
    copies.push_back(copy);
  }
  Write(copies);
}

void PendingBranchCopies::Drop(const std::string& folder, const std::string& package) {
  std::vector<PendingBranchCopy> copies = Read();
  const auto kept = std::remove_if(copies.begin(), copies.end(), [&](const PendingBranchCopy& c) {
    return SameEntry(c, folder, package);
  });
  if (kept == copies.end()) return;
  copies.erase(kept, copies.end());
  Write(copies);
}

void PendingBranchCopies::Write(const std::vector<PendingBranchCopy>& copies) const {
  if (copies.empty()) {
    if (platform::FileExists(path_)) platform::DeleteFile(path_);
    return;
  }
  // Sections in the order their folders first appear.
  std::vector<std::string> folders;
  for (const PendingBranchCopy& c : copies) {
    if (std::none_of(folders.begin(), folders.end(),
                     [&](const std::string& f) { return text::SameText1252(f, c.folder); })) {
      folders.push_back(c.folder);
    }
  }
  std::string bytes;
  for (const std::string& folder : folders) {
    bytes += "[" + folder + "]\r\n";
    for (const PendingBranchCopy& c : copies) {
      if (text::SameText1252(c.folder, folder)) bytes += c.package + "=" + c.version + "\r\n";
    }
  }
  platform::ReplaceFileContent(path_, [&](platform::File& file) { file.Write(bytes); });
}

}  // namespace korva::records
