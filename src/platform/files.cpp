#include "platform/files.h"

#include <algorithm>
#include <atomic>

#include "platform/file.h"
#include "platform/file_primitives.h"

// What is the same on every system: paths taken apart by its separators,
// whole-file reads and writes over File, folders made one by one, copies,
// and the write beside and rename over. The single steps under them are the
// system's own (file_primitives.h).
namespace korva::platform {
namespace {

namespace fp = file_primitives;

std::optional<std::string>& ExecutableOverride() {
  static std::optional<std::string> path;
  return path;
}

std::size_t LastSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (fp::IsSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}

std::string TemporaryNameBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::string_view name = FileNameOf(target);
  const std::string folder = target.substr(0, target.size() - name.size());
  return folder + "." + std::string(name) + ".korva-" + std::to_string(fp::ProcessId()) + "-" +
         std::to_string(counter.fetch_add(1));
}

// Writes, keeps what the edited file had, flushes and renames the new file
// over the target; on any failure the new file goes, and a file system
// failure is told as one of `path`.
void WriteAndPutInPlace(const std::string& path, const std::string& target,
                        const std::string& temporary, File file,
                        const std::function<void(File&)>& write,
                        const std::optional<fp::EditedFile>& edited) {
  try {
    write(file);
    if (edited) fp::KeepWhileOpen(file, *edited);
    file.FlushToDisk();
    file.Close();
    fp::KeepOnceClosed(temporary, target, edited);
    fp::PutInPlace(path, temporary, target);
  } catch (const FileSystemError& e) {
    file = File();
    fp::RemoveFile(temporary);
    throw FileSystemError(path, e.Reason(), e.WhatCause());
  } catch (...) {
    file = File();
    fp::RemoveFile(temporary);
    throw;
  }
}

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += kPathSeparator;
  path += name;
  return path;
}

std::string_view FileNameOf(std::string_view path) {
  const std::size_t separator = LastSeparator(path);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string IncludeTrailingSeparator(std::string_view folder) {
  std::string path = ExcludeTrailingSeparator(folder);
  if (path.empty() || !fp::IsSeparator(path.back())) path += kPathSeparator;
  return path;
}

std::string ExcludeTrailingSeparator(std::string_view folder) {
  const std::size_t root = std::max<std::size_t>(fp::RootLength(folder), 1);
  std::size_t length = folder.size();
  while (length > root && fp::IsSeparator(folder[length - 1])) --length;
  return std::string(folder.substr(0, length));
}

void OverrideExecutablePath(std::optional<std::string> path) {
  ExecutableOverride() = std::move(path);
}

std::string ExecutablePath() {
  if (ExecutableOverride()) return *ExecutableOverride();
  return fp::SystemExecutablePath();
}

bool ExecutablePathFitsCodePage() {
  return ExecutableOverride() || fp::SystemExecutablePathFits();
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const std::size_t separator = LastSeparator(path);
  return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

bool DeleteFile(const std::string& path) {
  if (DirectoryExists(path)) return false;
  return fp::RemoveFile(path);
}

bool CopyFile(const std::string& from, const std::string& to) {
  try {
    File in = File::OpenRead(from);
    const std::function<void(File&)> giveTimes = fp::TakeTimes(in);
    // A read-only target is replaced like any other.
    ReplaceFileContent(to, [&](File& out) {
      char buffer[1 << 16];
      while (const std::size_t n = in.Read(buffer, sizeof buffer)) out.Write(buffer, n);
      giveTimes(out);
    });
    return true;
  } catch (const FileSystemError&) {
    return false;
  }
}

void CreateFolders(const std::string& path) {
  if (path.empty()) fp::ThrowNoSuchPath(path);
  if (DirectoryExists(path)) return;
  std::size_t pos = fp::RootLength(path);
  while (pos <= path.size()) {
    std::size_t next = pos;
    while (next < path.size() && !fp::IsSeparator(path[next])) ++next;
    const std::string current = path.substr(0, next);
    if (next > pos && !DirectoryExists(current)) fp::MakeFolder(current);
    if (next >= path.size()) break;
    pos = next + 1;
  }
  // A file under the last name.
  if (!DirectoryExists(path)) fp::ThrowNameTaken(path);
}

bool ForceDirectories(const std::string& path) {
  try {
    CreateFolders(path);
    return true;
  } catch (const FileSystemError&) {
    return false;
  }
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  try {
    File file = File::OpenRead(path);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(file.Size()));
    char buffer[1 << 16];
    while (const std::size_t n = file.Read(buffer, sizeof buffer)) bytes.append(buffer, n);
    return bytes;
  } catch (const FileSystemError&) {
    return std::nullopt;
  }
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  File file = File::Create(path);
  file.Write(bytes);
  file.Close();
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  File file = File::OpenAppend(path);
  file.Write(bytes);
  file.Close();
}

void ReplaceFileContent(const std::string& path, const std::function<void(File&)>& write,
                        const ReplaceOptions& options) {
  const bool asEdited = options.mode == ReplaceMode::kAsEdited;
  const std::string target = asEdited ? fp::WrittenTarget(path) : path;
  const std::optional<fp::EditedFile> edited =
      asEdited ? fp::CheckEditable(path, target) : std::nullopt;
  // A name of our own is created afresh; a name the caller gives may hold
  // what an earlier attempt left.
  const bool ownName = options.temporaryPath.empty();
  const std::string temporary = ownName ? TemporaryNameBeside(target) : options.temporaryPath;
  File file = fp::CreateTemporary(path, temporary, ownName, options.ownerOnly);
  WriteAndPutInPlace(path, target, temporary, std::move(file), write, edited);
}

}  // namespace korva::platform
