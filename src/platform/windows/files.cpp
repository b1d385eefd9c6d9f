#include "platform/files.h"

#include <atomic>

#include "platform/held_files.h"
#include "platform/windows/short_paths.h"
#include "platform/windows/system_error.h"
#include "platform/windows/time_conversion.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {

const char kPathSeparator = '\\';

namespace {

using windows::Narrow;
using windows::ThrowFileError;
using windows::ThrowLastFileError;
using windows::ThrowLastRenameError;
using windows::Wide;

constexpr char kSeparator = kPathSeparator;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

std::optional<std::string>& ExecutableOverride() {
  static std::optional<std::string> path;
  return path;
}

DWORD AttributesOf(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str());
}

// Where a path's folders begin: after "C:\" or "\\server\share\".
std::size_t RootLength(std::string_view path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    std::size_t pos = 2;
    for (int part = 0; part < 2 && pos < path.size(); ++part) {
      while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
      if (pos < path.size()) ++pos;
    }
    return pos;
  }
  if (path.size() >= 2 && path[1] == ':') {
    return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
  }
  return path.empty() || !IsSeparator(path[0]) ? 0 : 1;
}

std::string TemporaryNameBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::string_view name = FileNameOf(target);
  const std::string folder = target.substr(0, target.size() - name.size());
  return folder + "." + std::string(name) + ".korva-" + std::to_string(::GetCurrentProcessId()) +
         "-" + std::to_string(counter.fetch_add(1));
}

HANDLE Win(const File& file) {
  return reinterpret_cast<HANDLE>(file.Handle().Value());
}

// What a file edited in place must be: a plain file we may write. Returns
// its attributes when it exists.
std::optional<DWORD> CheckEditable(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) ThrowFileError(path, ERROR_DIRECTORY);
  if (attributes & FILE_ATTRIBUTE_READONLY) ThrowFileError(path, ERROR_ACCESS_DENIED);
  return attributes;
}

}  // namespace

std::string_view FileNameOf(std::string_view path) {
  const auto separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string IncludeTrailingSeparator(std::string_view folder) {
  std::string path = ExcludeTrailingSeparator(folder);
  if (path.empty() || !IsSeparator(path.back())) path += kSeparator;
  return path;
}

std::string ExcludeTrailingSeparator(std::string_view folder) {
  const std::size_t root = std::max<std::size_t>(RootLength(folder), 1);
  std::size_t length = folder.size();
  while (length > root && IsSeparator(folder[length - 1])) --length;
  return std::string(folder.substr(0, length));
}

void OverrideExecutablePath(std::optional<std::string> path) {
  ExecutableOverride() = std::move(path);
}

namespace {

std::wstring ModulePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return buffer.substr(0, n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ExecutablePath() {
  if (ExecutableOverride()) return *ExecutableOverride();
  const std::wstring path = ModulePath();
  // Where even the short form does not fit, the characters become '?' and
  // the start refuses to go on (ExecutablePathFitsCodePage).
  return windows::PathInWindows1252(path).value_or(Narrow(path));
}

bool ExecutablePathFitsCodePage() {
  return ExecutableOverride() || windows::PathInWindows1252(ModulePath()).has_value();
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const auto separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

std::vector<std::string> FileNamesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(windows::Wide(JoinPath(folder, "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      names.push_back(windows::Narrow(found.cFileName));
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::int64_t> FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

bool DeleteFile(const std::string& path) {
  if (DirectoryExists(path)) return false;
  return ::DeleteFileW(Wide(path).c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  const std::wstring wideFrom = Wide(from);
  const std::wstring wideTo = Wide(to);
  try {
    RetryWhileHeld([&] {
      // No MOVEFILE_REPLACE_EXISTING: an existing target makes it fail.
      if (!::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), 0))
        ThrowLastRenameError(from, wideFrom, wideTo);
    });
    return true;
  } catch (const FileSystemError&) {
    return false;
  }
}

bool CopyFile(const std::string& from, const std::string& to) {
  try {
    File in = File::OpenRead(from);
    FILETIME written{};
    if (!::GetFileTime(Win(in), nullptr, nullptr, &written)) ThrowLastFileError(from);
    // A read-only target is replaced like any other.
    ReplaceFileContent(to, [&](File& out) {
      char buffer[1 << 16];
      while (const std::size_t n = in.Read(buffer, sizeof buffer)) out.Write(buffer, n);
      if (!::SetFileTime(Win(out), nullptr, nullptr, &written)) ThrowLastFileError(out.Path());
    });
    return true;
  } catch (const FileSystemError&) {
    return false;
  }
}

bool CreateDir(const std::string& path) {
  return ::CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

void CreateFolders(const std::string& path) {
  if (path.empty()) ThrowFileError(path, ERROR_PATH_NOT_FOUND);
  if (DirectoryExists(path)) return;
  std::size_t pos = RootLength(path);
  while (pos <= path.size()) {
    std::size_t next = pos;
    while (next < path.size() && !IsSeparator(path[next])) ++next;
    const std::string current = path.substr(0, next);
    if (next > pos && !DirectoryExists(current)) {
      if (!::CreateDirectoryW(Wide(current).c_str(), nullptr) &&
          ::GetLastError() != ERROR_ALREADY_EXISTS) {
        ThrowLastFileError(current);
      }
    }
    if (next >= path.size()) break;
    pos = next + 1;
  }
  // A file under the last name.
  if (!DirectoryExists(path)) ThrowFileError(path, ERROR_ALREADY_EXISTS);
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  constexpr std::uint32_t kSettable = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
  const DWORD bits = attributes & kSettable;
  return ::SetFileAttributesW(Wide(path).c_str(), bits ? bits : FILE_ATTRIBUTE_NORMAL) != 0;
}

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
}

bool SetFileModificationTime(const std::string& path, const LocalDateTime& local) {
  const std::optional<FILETIME> time = windows::LocalToFileTime(local);
  if (!time) return false;
  const HANDLE handle = ::CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool set = ::SetFileTime(handle, nullptr, nullptr, &*time) != 0;
  ::CloseHandle(handle);
  return set;
}

std::optional<LocalDateTime> GetFileModificationTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return windows::FileTimeToLocal(data.ftLastWriteTime);
}

void ReplaceFileContent(const std::string& path, const std::function<void(File&)>& write,
                        const ReplaceOptions& options) {
  const bool asEdited = options.mode == ReplaceMode::kAsEdited;
  const std::optional<DWORD> existing = asEdited ? CheckEditable(path) : std::nullopt;

  // A name of our own is created afresh; a name the caller gives may hold
  // what an earlier attempt left.
  const bool ownName = options.temporaryPath.empty();
  const std::string temporary = ownName ? TemporaryNameBeside(path) : options.temporaryPath;
  const std::wstring wideTemporary = Wide(temporary);
  if (!ownName) {
    ::SetFileAttributesW(wideTemporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  const HANDLE handle =
      ::CreateFileW(wideTemporary.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr,
                    ownName ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) ThrowLastFileError(path);
  File file(OwnedHandle(NativeHandle(reinterpret_cast<std::intptr_t>(handle))), temporary);
  try {
    write(file);
    file.FlushToDisk();
    file.Close();
    const std::wstring wideTarget = Wide(path);
    if (existing) {
      // As edited in place: the file keeps its hidden, system and archive
      // marks.
      ::SetFileAttributesW(
          wideTemporary.c_str(),
          *existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    } else {
      const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetFileAttributesW(wideTarget.c_str(),
                             attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
      }
    }
    RetryWhileHeld([&] {
      if (!::MoveFileExW(wideTemporary.c_str(), wideTarget.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ThrowLastRenameError(path, wideTemporary, wideTarget);
      }
    });
  } catch (const FileSystemError& e) {
    file = File();
    ::DeleteFileW(wideTemporary.c_str());
    throw FileSystemError(path, e.Reason(), e.WhatCause());
  } catch (...) {
    file = File();
    ::DeleteFileW(wideTemporary.c_str());
    throw;
  }
}

}  // namespace korva::platform
