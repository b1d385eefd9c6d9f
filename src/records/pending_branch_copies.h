#pragma once
// The branch copies a run owes: "FiliaisPendentes.ini" beside the updater,
// one section per branch folder (as its text stood when the copy did not
// complete), key = the module's package, value = the version the application
// folder received. The next check offers each again; a copy that completes
// takes its entry away.
#include <string>
#include <vector>

namespace korva::records {

inline constexpr const char* kPendingBranchesFileName = "FiliaisPendentes.ini";

struct PendingBranchCopy {
  std::string folder;   // as the branch field held it
  std::string package;  // "efin.zip"
  std::string version;  // what the application folder received
  bool operator==(const PendingBranchCopy&) const = default;
};

class PendingBranchCopies {
 public:
  explicit PendingBranchCopies(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  // In file order; a missing file owes nothing.
  std::vector<PendingBranchCopy> Read() const;
  // Adds the entry, or replaces the version of the same folder and package.
  // A folder that a profile section cannot name is not kept. Each change
  // rewrites the whole file beside and renames it over (Windows-1252, CR LF);
  // it throws FileError when that fails, leaving the file as it was.
  void Keep(const PendingBranchCopy& copy);
  // Takes the entry of that folder and package away (all of the folder's when
  // the package is empty); the file goes when nothing is left in it.
  void Drop(const std::string& folder, const std::string& package = {});

 private:
  void Write(const std::vector<PendingBranchCopy>& copies) const;

  std::string path_;
};

}  // namespace korva::records
