#include "installer/branch_distribution.h"

#include <optional>

#include "installer/package_extraction.h"
#include "installer/zip/zip_reader.h"
#include "platform/files.h"
#include "text/cp1252.h"
#include "text/strings.h"

namespace korva::installer {

namespace {

// With the maker's key, the copy at the branch is the catalogue's package or
// it goes: nobody is to unpack a package known to be wrong. nullopt: refused.
std::optional<delivery::HeldPackage> VerifiedCopy(const BranchVerification* verification,
                                                  Shell& shell, const std::string& typed,
                                                  const std::string& copy,
                                                  const std::string& packageName) {
  if (!verification) return delivery::HeldPackage{};
  delivery::PackageDelivery checked =
      verification->source.VerifyPackage(packageName, copy, verification->pin);
  if (!checked.refusal) return std::move(checked.package);
  TellExtractionFailed(shell, typed);
  platform::DeleteFile(copy);
  return std::nullopt;
}

}  // namespace

void CopiaParaFiliais(const BranchControls& controls, Shell& shell, ZipReader& reader,
                      const std::string& folder, const std::string& executableName,
                      const std::string& packageName, const BranchVerification* verification) {
  form::CheckList& list = controls.list;
  list.Clear();
  list.SetVisible(true);
  list.Add("Local    [OK]");
  list.SetChecked(0, true);
  shell.Repaint();

  const char* const lines[] = {"Filial 1   [OK]", "Filial 2   [OK]", "Filial 3   [OK]"};
  const std::string source = platform::JoinPath(folder, packageName);
  for (std::size_t n = 0; n < controls.folders.size(); ++n) {
    // The operator may have edited the field without saving; what it shows
    // now is what counts.
    const std::string typed = controls.folders[n]->Text();
    const std::string trimmed = text::Trim(typed);
    if (trimmed.empty()) continue;
    for (;;) {
      controls.writingTo.SetText("Gravando em: " + text::Upper1252(typed));
      shell.Repaint();
      // Blanks typed around the folder are not part of where the copy goes
      // (the original file system dropped them); the extraction below still
      // gets the folder exactly as typed.
      const std::string copy = text::Trim(platform::JoinPath(trimmed, packageName));
      if (platform::CopyFile(source, copy)) {
        std::optional<delivery::HeldPackage> verified =
            VerifiedCopy(verification, shell, typed, copy, packageName);
        if (!verified) break;
        if (DescompactaPacote(shell, reader, typed, executableName, packageName,
                              verification ? &*verified : nullptr)) {
          reader.Close();
          platform::DeleteFile(platform::JoinPath(trimmed, packageName));
          list.Add(lines[n]);
          list.SetChecked(list.Count() - 1, true);
          shell.Repaint();
        }
        break;
      }
      const MsgButton answer =
          shell.ShowMessage(Message{"KORVA",
                                    "Não foi possível copiar atualização para o servidor\r" +
                                        typed + "\r" + "Tenta novamente ?",
                                    MsgIcon::Question, kYes | kNo, kNoButton});
      if (answer != kYes) break;
    }
  }
}

}  // namespace korva::installer
