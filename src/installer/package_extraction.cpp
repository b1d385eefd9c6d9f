#include "installer/package_extraction.h"

#include <exception>

#include "form/shell.h"
#include "installer/zip/zip_reader.h"
#include "platform/files.h"

namespace korva::installer {
namespace {

constexpr const char* kCaption = "KORVA Update";

}  // namespace

std::string SetAsideName(const std::string& executablePath) {
  const auto nameStart = executablePath.size() - platform::FileNameOf(executablePath).size();
  const auto dot = executablePath.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return executablePath + ".Old";
  return executablePath.substr(0, dot) + ".Old";
}

bool DescompactaPacote(Shell& shell, ZipReader& reader, const std::string& folder,
                       const std::string& executableName, const std::string& packageName,
                       delivery::HeldPackage* verified) {
  const std::string executablePath = platform::JoinPath(folder, executableName);
  const std::string packagePath = platform::JoinPath(folder, packageName);
  if (!platform::FileExists(packagePath)) {
    shell.ShowMessage(Message{kCaption, "Arquivo não localizado:\r" + packagePath, MsgIcon::Error,
                              kOk, kNoButton});
    return false;
  }

  reader.SetBaseFolder(platform::IncludeTrailingSeparator(folder));
  // The caller reports a package that cannot be read.
  if (verified && !verified->IsHeld()) {
    // With the key, a package that came after its check (it was not there
    // then) is one nobody verified.
    TellExtractionFailed(shell, folder);
    return false;
  }
  if (verified) {
    reader.Open(std::move(verified->file));
  } else {
    reader.Open(packagePath);
  }

  // The module's executable stays in place, runnable, until a whole new one
  // is there to take its name: only then is it set aside as ".Old". The set
  // aside fails without harm when an earlier update left its ".Old" or there
  // is no executable yet; the new one then takes the name all the same.
  bool placed = false;
  try {
    placed = reader.ExtractFiles("*.EXE", executableName, [&] {
      platform::RenameFile(executablePath, SetAsideName(executablePath));
    });
  } catch (const std::exception&) {
  }
  if (placed) return true;
  TellExtractionFailed(shell, folder);
  return false;
}

void TellExtractionFailed(Shell& shell, const std::string& folder) {
  shell.ShowMessage(Message{kCaption,
                            "Falha na descompactação do arquivo em\r" + folder + "\r" +
                                "Entre em contato com o Suporte Vestramon.",
                            MsgIcon::Error, kOk, kNoButton});
}

}  // namespace korva::installer
