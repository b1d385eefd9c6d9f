#include "installer/zip/entry_output.h"

#include "platform/files.h"

namespace korva::installer {
namespace {

using platform::FileSystemError;

[[noreturn]] void Fail(const std::string& what, const std::string& path,
                       const FileSystemError& error) {
  throw EntryFailure(what + " " + path + ": " + error.Reason());
}

// Runs one step of the output; a refusal becomes the operator's text "<what>
// <path>: <reason>".
template <typename Step>
auto Attempt(const std::string& what, const std::string& path, Step step) {
  try {
    return step();
  } catch (const FileSystemError& e) {
    Fail(what, path, e);
  }
}

[[noreturn]] void RefuseFolder(const std::string& shownPath, const FileSystemError& error) {
  if (error.WhatCause() == FileSystemError::Cause::kSymbolicLink) {
    throw EntryFailure("Folder " + shownPath +
                       " is a symbolic link, which extraction does not follow");
  }
  Fail("Cannot open folder", shownPath, error);
}

// The sub-folder of that name, created when missing.
platform::Folder EnterSubfolder(const platform::Folder& folder, const std::string& name,
                                const std::string& shownPath) {
  try {
    return folder.OpenSubfolder(name);
  } catch (const FileSystemError& e) {
    if (e.WhatCause() != FileSystemError::Cause::kNotFound) RefuseFolder(shownPath, e);
  }
  Attempt("Cannot create folder", shownPath, [&] { folder.CreateSubfolder(name); });
  try {
    return folder.OpenSubfolder(name);
  } catch (const FileSystemError& e) {
    RefuseFolder(shownPath, e);
  }
}

}  // namespace

platform::Folder OpenOutputFolder(const std::string& root,
                                  const std::vector<std::string>& folders) {
  if (!platform::DirectoryExists(root)) {
    Attempt("Cannot create folder", root, [&] { platform::CreateFolders(root); });
  }
  platform::Folder current =
      Attempt("Cannot open folder", root, [&] { return platform::Folder::Open(root); });
  std::string shownPath = root;
  for (const std::string& name : folders) {
    shownPath = platform::JoinPath(shownPath, name);
    current = EnterSubfolder(current, name, shownPath);
  }
  return current;
}

platform::File CreateOutputFile(const platform::Folder& folder, const std::string& name,
                                const std::string& shownPath) {
  const auto type = Attempt("Cannot create", shownPath, [&] { return folder.TypeOf(name); });
  if (type == platform::Folder::EntryType::kFolder) {
    throw EntryFailure("Cannot replace " + shownPath + ": a folder of that name exists");
  }
  // Deleting needs no write permission on the file itself, so a read-only
  // target goes like any other.
  if (type != platform::Folder::EntryType::kMissing) {
    Attempt("Cannot replace", shownPath, [&] { folder.Remove(name); });
  }
  // Created exclusively: if something took the name between the delete and
  // now, refuse rather than write through it.
  return Attempt("Cannot create", shownPath, [&] { return folder.CreateFile(name); });
}

void WriteOutput(platform::File& file, const unsigned char* data, std::size_t size,
                 const std::string& shownPath) {
  Attempt("Cannot write", shownPath, [&] { file.Write(data, size); });
}

void FinishOutputFile(platform::File& file, const std::optional<platform::LocalDateTime>& modified,
                      bool readOnly, const std::string& shownPath) {
  // A time the system cannot hold leaves the file with the time of writing.
  if (modified) {
    Attempt("Cannot set the time of", shownPath, [&] { file.SetModificationTime(*modified); });
  }
  Attempt("Cannot write", shownPath, [&] { file.FlushToDisk(); });
  if (readOnly) Attempt("Cannot set the attributes of", shownPath, [&] { file.MakeReadOnly(); });
  Attempt("Cannot write", shownPath, [&] { file.Close(); });
}

}  // namespace korva::installer
