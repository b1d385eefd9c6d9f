#include "platform/file.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/held_files.h"
#include "platform/windows/native_handle.h"
#include "platform/windows/system_error.h"
#include "platform/windows/time_conversion.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {
namespace {

using windows::Native;
using windows::ThrowFileError;
using windows::ThrowLastFileError;
using windows::Wide;
using windows::Win;

// Others may read, write, rename and delete a file we hold open, as on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::int64_t Ticks(const LARGE_INTEGER& value) {
  return value.QuadPart;
}

std::int64_t Ticks(const FILETIME& value) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(value.dwHighDateTime) << 32) |
                                   value.dwLowDateTime);
}

void SplitNanoseconds(std::int64_t fileTime, std::int64_t& seconds, std::int64_t& nanoseconds) {
  const std::int64_t ns = windows::UnixNanoseconds(fileTime);
  seconds = ns / 1000000000;
  nanoseconds = ns % 1000000000;
}

FileIdentity IdentityOf(HANDLE handle, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(handle, &info) ||
      !::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    ThrowLastFileError(path);
  }
  FileIdentity id;
  id.device = info.dwVolumeSerialNumber;
  id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                      info.nFileSizeLow);
  SplitNanoseconds(Ticks(basic.LastWriteTime), id.mtimeSeconds, id.mtimeNanoseconds);
  SplitNanoseconds(Ticks(basic.ChangeTime), id.ctimeSeconds, id.ctimeNanoseconds);
  return id;
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Only a plain file on disk is read: a folder is refused (kIsFolder), and so
// is a device or pipe (kNotAFile).
File OpenPlainFile(const std::string& path, DWORD flags, DWORD share = kShareAll) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ThrowFileError(path, ERROR_DIRECTORY);
  }
  const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) ThrowLastFileError(path);
  File file(OwnedHandle(Native(handle)), path);
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    throw FileSystemError(path, "Not a regular file", FileSystemError::Cause::kNotAFile);
  }
  return file;
}

File OpenForWriting(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
  const HANDLE handle = ::CreateFileW(Wide(path).c_str(), access, kShareAll, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) ThrowLastFileError(path);
  return File(OwnedHandle(Native(handle)), path);
}

// A folder held open without FILE_SHARE_DELETE cannot be renamed or removed
// while we work in it: its path names the folder we opened.
HANDLE OpenFolderHandle(const std::string& path) {
  return ::CreateFileW(Wide(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Windows refuses to delete or replace a read-only file; the folder's own
// operations take it away first, as POSIX ignores it there.
void ClearReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

}  // namespace

void OwnedHandle::Reset() noexcept {
  if (handle_.IsValid()) {
    if (kind_ == Kind::kSocket) {
      ::closesocket(static_cast<SOCKET>(handle_.Value()));
    } else {
      ::CloseHandle(Win(handle_));
    }
  }
  handle_ = NativeHandle();
}

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  const HANDLE handle = ::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  const OwnedHandle held(Native(handle));
  try {
    return IdentityOf(handle, path);
  } catch (const FileSystemError&) {
    return std::nullopt;
  }
}

std::int64_t WallClockNanoseconds() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return windows::UnixNanoseconds(Ticks(now));
}

// --- File ---

File File::OpenRead(const std::string& path) {
  return OpenPlainFile(path, 0);
}

File File::OpenReadHeld(const std::string& path, std::int64_t /*limit*/) {
  // Nobody may write, rename or delete the file while it is held: what is
  // read is the file itself, however large.
  return OpenPlainFile(path, 0, FILE_SHARE_READ);
}

File File::Create(const std::string& path) {
  return OpenForWriting(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, CREATE_ALWAYS);
}

File File::OpenAppend(const std::string& path) {
  // Append access alone: every write lands at the end, whoever else writes.
  return OpenForWriting(
      path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
      OPEN_ALWAYS);
}

std::int64_t File::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(Win(Handle()), &size)) ThrowLastFileError(path_);
  return size.QuadPart;
}

FileIdentity File::Identity() const {
  return IdentityOf(Win(Handle()), path_);
}

std::size_t File::Read(void* buffer, std::size_t capacity) {
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 30));
  DWORD got = 0;
  if (!::ReadFile(Win(Handle()), buffer, wanted, &got, nullptr)) ThrowLastFileError(path_);
  return got;
}

std::size_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
  // A read at an offset moves the position of a synchronous handle: it is
  // put back afterwards.
  LARGE_INTEGER zero{};
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(Win(Handle()), zero, &position, FILE_CURRENT)) ThrowLastFileError(path_);
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  DWORD failure = ERROR_SUCCESS;
  while (done < size) {
    const std::uint64_t at = offset + done;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(Win(Handle()), out + done, wanted, &got, &where)) {
      if (::GetLastError() != ERROR_HANDLE_EOF) failure = ::GetLastError();
      break;
    }
    if (got == 0) break;
    done += got;
  }
  ::SetFilePointerEx(Win(Handle()), position, nullptr, FILE_BEGIN);
  if (failure != ERROR_SUCCESS) ThrowFileError(path_, failure);
  return done;
}

void File::Write(const void* data, std::size_t size) {
  const auto* in = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(Win(Handle()), in, chunk, &written, nullptr)) ThrowLastFileError(path_);
    in += written;
    size -= written;
  }
}

bool File::SetModificationTime(const LocalDateTime& local) {
  const std::optional<FILETIME> time = windows::LocalToFileTime(local);
  if (!time) return false;
  if (!::SetFileTime(Win(Handle()), nullptr, nullptr, &*time)) ThrowLastFileError(path_);
  return true;
}

void File::MakeReadOnly() {
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(Win(Handle()), FileBasicInfo, &basic, sizeof basic)) {
    ThrowLastFileError(path_);
  }
  basic.FileAttributes =
      (basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) | FILE_ATTRIBUTE_READONLY;
  // Zero times are left as they are.
  basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
  basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
  if (!::SetFileInformationByHandle(Win(Handle()), FileBasicInfo, &basic, sizeof basic)) {
    ThrowLastFileError(path_);
  }
}

void File::FlushToDisk() {
  if (!::FlushFileBuffers(Win(Handle()))) ThrowLastFileError(path_);
}

void File::Close() {
  const NativeHandle handle = handle_.Release();
  if (handle.IsValid() && !::CloseHandle(Win(handle))) ThrowLastFileError(path_);
}

// --- Folder ---
//
// Windows has no calls relative to an open folder; names are joined to the
// folder's path, which the open handle keeps from being renamed or removed,
// and a link (any reparse point) is never followed: it is looked at without
// being opened, and files are opened with FILE_FLAG_OPEN_REPARSE_POINT.

Folder Folder::Open(const std::string& path) {
  const HANDLE handle = OpenFolderHandle(path);
  if (handle == INVALID_HANDLE_VALUE) ThrowLastFileError(path);
  return Folder(OwnedHandle(Native(handle)), path);
}

Folder::EntryType Folder::TypeOf(const std::string& name) const {
  const std::string path = JoinPath(path_, name);
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return EntryType::kMissing;
    ThrowFileError(path, error);
  }
  if (IsLink(attributes)) return EntryType::kOther;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryType::kFolder;
  return EntryType::kFile;
}

Folder Folder::OpenSubfolder(const std::string& name) const {
  const std::string path = JoinPath(path_, name);
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (IsLink(attributes)) {
    throw FileSystemError(path, "Is a symbolic link", FileSystemError::Cause::kSymbolicLink);
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) ThrowLastFileError(path);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) ThrowFileError(path, ERROR_DIRECTORY);
  return Open(path);
}

void Folder::CreateSubfolder(const std::string& name) const {
  const std::string path = JoinPath(path_, name);
  if (!::CreateDirectoryW(Wide(path).c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    ThrowLastFileError(path);
  }
}

File Folder::CreateFile(const std::string& name) const {
  return OpenForWriting(JoinPath(path_, name), GENERIC_WRITE | FILE_READ_ATTRIBUTES, CREATE_NEW,
                        FILE_FLAG_OPEN_REPARSE_POINT);
}

File Folder::OpenFile(const std::string& name) const {
  const std::string path = JoinPath(path_, name);
  if (IsLink(::GetFileAttributesW(Wide(path).c_str()))) {
    throw FileSystemError(path, "Is a symbolic link", FileSystemError::Cause::kSymbolicLink);
  }
  return OpenPlainFile(path, FILE_FLAG_OPEN_REPARSE_POINT);
}

void Folder::Remove(const std::string& name) const {
  const std::string path = JoinPath(path_, name);
  const std::wstring wide = Wide(path);
  ClearReadOnly(wide);
  if (!::DeleteFileW(wide.c_str())) ThrowLastFileError(path);
}

void Folder::Replace(const std::string& from, const std::string& to) const {
  const std::string target = JoinPath(path_, to);
  const std::wstring wideSource = Wide(JoinPath(path_, from));
  const std::wstring wideTarget = Wide(target);
  ClearReadOnly(wideTarget);
  RetryWhileHeld([&] {
    if (!::MoveFileExW(wideSource.c_str(), wideTarget.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      windows::ThrowLastRenameError(target, wideSource, wideTarget);
    }
  });
}

}  // namespace korva::platform
