#include "installer/package_extraction.h"

#include <exception>

#include "form/shell.h"
#include "installer/zip/zip_reader.h"
#include "platform/files.h"

namespace korva::installer {
namespace {

constexpr const char* kCaption = "KORVA Update";

// Undoes the set-aside of this call when the package never got to write, so
// a failed update leaves the old version runnable. Never replaces a file.
void PutBack(bool setAside, const std::string& oldPath, const std::string& executablePath) {
  if (setAside && !platform::FileExists(executablePath)) {
    platform::RenameFile(oldPath, executablePath);
  }
}

}  // namespace

std::string SetAsideName(const std::string& executablePath) {
  const auto nameStart = executablePath.size() - platform::FileNameOf(executablePath).size();
  const auto dot = executablePath.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return executablePath + ".Old";
  return executablePath.substr(0, dot) + ".Old";
}

bool DescompactaPacote(Shell& shell, ZipReader& reader, const std::string& folder,
                       const std::string& executableName, const std::string& packageName) {
  const std::string executablePath = platform::JoinPath(folder, executableName);
  const std::string oldPath = SetAsideName(executablePath);
  // Fails without harm when an earlier update left its ".Old" in place or
  // there is no executable yet; the new one then replaces the old only once
  // it is whole.
  const bool setAside = platform::RenameFile(executablePath, oldPath);

  const std::string packagePath = platform::JoinPath(folder, packageName);
  if (!platform::FileExists(packagePath)) {
    PutBack(setAside, oldPath, executablePath);
    shell.ShowMessage(Message{kCaption, "Arquivo não localizado:\r" + packagePath, MsgIcon::Error,
                              kOk, kNoButton});
    return false;
  }

  reader.SetBaseFolder(platform::IncludeTrailingSeparator(folder));
  try {
    reader.Open(packagePath);
  } catch (...) {
    // The caller reports the unreadable package; the executable goes back
    // first.
    PutBack(setAside, oldPath, executablePath);
    throw;
  }

  // The module must end with a whole executable under its name: the new one,
  // or else the one this call set aside.
  bool placed = false;
  try {
    placed = reader.ExtractFiles("*.EXE", executableName);
  } catch (const std::exception&) {
  }
  if (placed) return true;
  PutBack(setAside, oldPath, executablePath);
  shell.ShowMessage(Message{kCaption,
                            "Falha na descompactação do arquivo em\r" + folder + "\r" +
                                "Entre em contato com o Suporte Vestramon.",
                            MsgIcon::Error, kOk, kNoButton});
  return false;
}

}  // namespace korva::installer
