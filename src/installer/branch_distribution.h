#pragma once
// Passes a module's package on to the branch servers and installs it there.
#include <array>
#include <string>

#include "delivery/update_source.h"
#include "form/controls.h"
#include "form/shell.h"

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

// Copies folder/packageName to each branch folder, unpacks it there with
// DescompactaPacote and deletes the copy; the list shows the local
// installation and every branch that got the module. A copy that fails is
// offered again (Yes) or the branch skipped (No). A copied package that is
// not a readable archive raises KorvaError to the caller.
//
// With the maker's key each branch's copy is verified again against its pin
// before it is unpacked there: a copy that is not the catalogue's package is
// an extraction failure at that branch, and is deleted.
struct BranchVerification {
  delivery::UpdateSource& source;
  const delivery::PackagePin& pin;
};
void CopiaParaFiliais(const BranchControls& controls, Shell& shell, ZipReader& reader,
                      const std::string& folder, const std::string& executableName,
                      const std::string& packageName,
                      const BranchVerification* verification = nullptr);

}  // namespace korva::installer
