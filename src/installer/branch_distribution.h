#pragma once
// Passes a module's package on to the branch servers and installs it there.
#include <string>

namespace korva {
class Shell;
}
namespace korva::form {
class FormModel;
}

namespace korva::installer {

class ZipReader;

// Copies folder/packageName to each branch folder typed in SrvRemoto1..3
// (read as they stand now), unpacks it there with DescompactaPacote and
// deletes the copy; ChkLstBxEmpresas lists the local installation and every
// branch that got the module. A copy that fails is offered again (Yes) or the
// branch skipped (No). A copied package that is not a readable archive raises
// KorvaError to the caller.
void CopiaParaFiliais(form::FormModel& form, Shell& shell, ZipReader& reader,
                      const std::string& folder, const std::string& executableName,
                      const std::string& packageName);

}  // namespace korva::installer
