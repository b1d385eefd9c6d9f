#include "installer/branch_distribution.h"

#include <optional>

#include "installer/package_extraction.h"
#include "installer/zip/zip_reader.h"
#include "platform/files.h"
#include "text/cp1252.h"
#include "text/strings.h"
#include "vendor/vendor_library.h"

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

// What the branch now runs decides whether it is still owed the module.
void Remember(const BranchJob& job, const std::string& trimmed, bool done) {
  if (!job.pending) return;
  try {
    bool level = false;
    if (done) {
      try {
        level = vendor::GetBuildInfo(platform::JoinPath(trimmed, job.executableName), "BUILD") ==
                job.version;
      } catch (const std::exception&) {
      }
    }
    if (level) {
      job.pending->Drop(trimmed, job.packageName);
    } else {
      job.pending->Keep({trimmed, job.packageName, job.version});
    }
  } catch (const std::exception&) {
    // The file of owed copies is a help to the next run, never a reason to
    // stop this one.
  }
}

}  // namespace

bool CopiaParaFilial(const BranchJob& job, std::size_t n) {
  static const char* const kLines[] = {"Filial 1   [OK]", "Filial 2   [OK]", "Filial 3   [OK]"};
  const BranchControls& controls = job.controls;
  Shell& shell = job.shell;
  // The operator may have edited the field without saving; what it shows
  // now is what counts.
  const std::string typed = controls.folders[n]->Text();
  const std::string trimmed = text::Trim(typed);
  if (trimmed.empty()) return false;
  const std::string source = platform::JoinPath(job.folder, job.packageName);
  bool done = false;
  for (;;) {
    controls.writingTo.SetText("Gravando em: " + text::Upper1252(typed));
    shell.Repaint();
    // Blanks typed around the folder are not part of where the copy goes
    // (the original file system dropped them); the extraction below still
    // gets the folder exactly as typed.
    const std::string copy = text::Trim(platform::JoinPath(trimmed, job.packageName));
    if (platform::CopyFile(source, copy)) {
      std::optional<delivery::HeldPackage> verified =
          VerifiedCopy(job.verification, shell, typed, copy, job.packageName);
      if (verified && DescompactaPacote(shell, job.reader, typed, job.executableName,
                                        job.packageName, job.verification ? &*verified : nullptr)) {
        job.reader.Close();
        platform::DeleteFile(copy);
        controls.list.Add(kLines[n]);
        controls.list.SetChecked(controls.list.Count() - 1, true);
        shell.Repaint();
        done = true;
      }
      break;
    }
    const MsgButton answer =
        shell.ShowMessage(Message{"KORVA",
                                  "Não foi possível copiar atualização para o servidor\r" + typed +
                                      "\r" + "Tenta novamente ?",
                                  MsgIcon::Question, kYes | kNo, kNoButton});
    if (answer != kYes) break;
  }
  Remember(job, trimmed, done);
  return done;
}

void CopiaParaFiliais(const BranchJob& job) {
  form::CheckList& list = job.controls.list;
  list.Clear();
  list.SetVisible(true);
  list.Add("Local    [OK]");
  list.SetChecked(0, true);
  job.shell.Repaint();
  for (std::size_t n = 0; n < job.controls.folders.size(); ++n) CopiaParaFilial(job, n);
}

}  // namespace korva::installer
