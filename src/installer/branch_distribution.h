#pragma once
// Passes a module's package on to the branch servers and installs it there.
#include <array>
#include <string>

#include "delivery/update_source.h"
#include "form/controls.h"
#include "form/shell.h"
#include "records/pending_branch_copies.h"

namespace korva::installer {

class ZipReader;

// The controls the distribution reads and drives: the three branch folder
// fields of the configuration page (read as they stand when it runs, saved
// or not), the distribution list and the "Gravando em:" label of the log page.
struct BranchControls {
  std::array<const form::TextControl*, 3> folders;  // SrvRemoto1..3
  form::CheckList& list;                            // ChkLstBxEmpresas
  form::TextControl& writingTo;                     // LblGravando
};

// With the maker's key each branch's copy is verified again against its pin
// before it is unpacked there: a copy that is not the catalogue's package is
// an extraction failure at that branch, and is deleted.
struct BranchVerification {
  delivery::UpdateSource& source;
  const delivery::PackagePin& pin;
};

// One module's package, to go from the application folder to the branches.
struct BranchJob {
  const BranchControls& controls;
  Shell& shell;
  ZipReader& reader;
  const std::string& folder;  // where the package lies
  const std::string& executableName;
  const std::string& packageName;
  const BranchVerification* verification = nullptr;  // null: no key
  // Where a branch that does not get the module is remembered, with the
  // version it is owed; null: nowhere.
  records::PendingBranchCopies* pending = nullptr;
  std::string version = {};
};

// Copies the package to each branch folder, unpacks it there with
// DescompactaPacote and deletes the copy; the list shows the local
// installation and every branch that got the module. A copy that fails is
// offered again (Yes) or the branch skipped (No). A branch that does not get
// the module is kept as owed it; one whose executable then answers the
// version is owed nothing any more. A copied package that is not a readable
// archive raises KorvaError to the caller.
void CopiaParaFiliais(const BranchJob& job);

// The same for branch n (0 to 2) alone; its list line is added when it got
// the module. True when it did.
bool CopiaParaFilial(const BranchJob& job, std::size_t n);

}  // namespace korva::installer
