#include "platform/files.h"

#include "platform/file_primitives.h"
#include "platform/held_files.h"
#include "platform/windows/native_handle.h"
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

DWORD AttributesOf(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str());
}

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

namespace file_primitives {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
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

std::string SystemExecutablePath() {
  const std::wstring path = ModulePath();
  // Where even the short form does not fit, the characters become '?' and
  // the start refuses to go on (ExecutablePathFitsCodePage).
  return windows::PathInWindows1252(path).value_or(Narrow(path));
}

bool SystemExecutablePathFits() {
  return windows::PathInWindows1252(ModulePath()).has_value();
}

unsigned long ProcessId() {
  return ::GetCurrentProcessId();
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(Wide(path).c_str()) != 0;
}

void MakeFolder(const std::string& path) {
  if (!::CreateDirectoryW(Wide(path).c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    ThrowLastFileError(path);
  }
}

void ThrowNoSuchPath(const std::string& path) {
  ThrowFileError(path, ERROR_PATH_NOT_FOUND);
}

void ThrowNameTaken(const std::string& path) {
  ThrowFileError(path, ERROR_ALREADY_EXISTS);
}

std::function<void(File&)> TakeTimes(const File& source) {
  FILETIME written{};
  if (!::GetFileTime(windows::Win(source.Handle()), nullptr, nullptr, &written)) {
    ThrowLastFileError(source.Path());
  }
  return [written](File& file) {
    if (!::SetFileTime(windows::Win(file.Handle()), nullptr, nullptr, &written)) {
      ThrowLastFileError(file.Path());
    }
  };
}

std::string WrittenTarget(const std::string& path) {
  return path;
}

std::optional<EditedFile> CheckEditable(const std::string& path, const std::string& /*target*/) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) ThrowFileError(path, ERROR_DIRECTORY);
  if (attributes & FILE_ATTRIBUTE_READONLY) ThrowFileError(path, ERROR_ACCESS_DENIED);
  return EditedFile{.mode = attributes};
}

File CreateTemporary(const std::string& path, const std::string& temporary, bool fresh,
                     bool /*ownerOnly*/) {
  const std::wstring wideTemporary = Wide(temporary);
  if (!fresh) ::SetFileAttributesW(wideTemporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  const HANDLE handle =
      ::CreateFileW(wideTemporary.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr,
                    fresh ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) ThrowLastFileError(path);
  return File(OwnedHandle(windows::Native(handle)), temporary);
}

// The attributes are handed on once the file is closed: it is open
// without sharing, so nothing may set them while it is.
void KeepWhileOpen(File& /*file*/, const EditedFile& /*edited*/) {}

void KeepOnceClosed(const std::string& temporary, const std::string& target,
                    const std::optional<EditedFile>& edited) {
  if (edited) {
    // As edited in place: the file keeps its hidden, system and archive
    // marks.
    ::SetFileAttributesW(
        Wide(temporary).c_str(),
        edited->mode & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    return;
  }
  const std::wstring wideTarget = Wide(target);
  const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(wideTarget.c_str(),
                         attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

void PutInPlace(const std::string& path, const std::string& temporary, const std::string& target) {
  const std::wstring wideTemporary = Wide(temporary);
  const std::wstring wideTarget = Wide(target);
  RetryWhileHeld([&] {
    if (!::MoveFileExW(wideTemporary.c_str(), wideTarget.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      ThrowLastRenameError(path, wideTemporary, wideTarget);
    }
  });
}

}  // namespace file_primitives

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

bool CreateDir(const std::string& path) {
  return ::CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
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

}  // namespace korva::platform
