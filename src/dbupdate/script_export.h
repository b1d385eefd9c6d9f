#pragma once
// The support export behind "Gerar Script": the statements of one version
// section of the edition's local script file written to plain text files, one
// file per statement group, to be read or run by hand. Nothing in the
// databases changes.
#include <memory>
#include <string>

#include "form/shell.h"
#include "settings/profile_file.h"

namespace korva::dbupdate {

// Reads section of the script file (held in currentProfileFile while it
// runs; a missing file reads as empty) group by group: the values of keys
// S<g>_1 to S<g>_1500, empty and missing ones skipped, are written as lines
// ending in CR LF to SCRIPT_<g>.TXT in the current working directory,
// replacing it. The first group without a line ends the export (at most 100
// groups); files of later groups from an earlier export stay. Then "Script
// gerado com sucesso", also when nothing was written. A file that cannot be
// written fails with FileError: the files before it stay, no message.
void GeraScript(std::unique_ptr<settings::ProfileFile>& currentProfileFile,
                const std::string& scriptFilePath, const std::string& section, Shell& shell);

}  // namespace korva::dbupdate
