#include "dbupdate/script_export.h"

#include "dbupdate/script_package.h"
#include "platform/file.h"
#include "platform/files.h"
#include "settings/held_profile_file.h"
#include "text/strings.h"

namespace korva::dbupdate {
namespace {

// The group's non-empty lines, each ending in CR LF. Gaps in the numbering
// are allowed here, unlike when a package is applied: the export shows what
// the file holds.
std::string GroupText(const settings::ProfileFile& script, const std::string& section, int group) {
  std::string out;
  for (int line = 1; line <= kMaxStatementLines; ++line) {
    const std::string value = script.ReadString(section, StatementKey(group, line), "");
    if (!value.empty()) out += value + "\r\n";
  }
  return out;
}

}  // namespace

void GeraScript(std::unique_ptr<settings::ProfileFile>& currentProfileFile,
                const std::string& scriptFilePath, const std::string& section, Shell& shell) {
  const settings::HeldProfileFile held(currentProfileFile, scriptFilePath);
  for (int group = 1; group <= kMaxStatementGroups; ++group) {
    const std::string statement = GroupText(held.File(), section, group);
    if (statement.empty()) break;
    // No folder: the files go where the operator started the program. Each
    // is put in place whole, and one made read-only refuses as an edit would.
    std::string name = "SCRIPT_";
    name += text::IntToStr(group);
    name += ".TXT";
    platform::ReplaceFileContent(name, [&](platform::File& file) { file.Write(statement); },
                                 {platform::ReplaceMode::kAsEdited});
  }
  shell.ShowMessage(Message{"KORVA", "Script gerado com sucesso", MsgIcon::Information, kOk, kOk});
}

}  // namespace korva::dbupdate
