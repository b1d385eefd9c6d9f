#include "platform/windows/system_error.h"

#include "platform/error_causes.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform::windows {

std::string SystemErrorText(std::uint32_t error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || !buffer) return "System error " + std::to_string(error);
  std::wstring text(buffer, length);
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  return Narrow(text);
}

FileSystemError FileErrorOf(const std::string& path, std::uint32_t error) {
  using Cause = FileSystemError::Cause;
  const Cause cause = CauseOf(error, {{ERROR_FILE_NOT_FOUND, Cause::kNotFound},
                                      {ERROR_PATH_NOT_FOUND, Cause::kNotFound},
                                      {ERROR_INVALID_NAME, Cause::kNotFound},
                                      {ERROR_FILE_EXISTS, Cause::kExists},
                                      {ERROR_ALREADY_EXISTS, Cause::kExists},
                                      {ERROR_DIRECTORY, Cause::kIsFolder},
                                      {ERROR_SHARING_VIOLATION, Cause::kInUse},
                                      {ERROR_LOCK_VIOLATION, Cause::kInUse}});
  return FileSystemError(path, SystemErrorText(error), cause);
}

void ThrowFileError(const std::string& path, std::uint32_t error) {
  throw FileErrorOf(path, error);
}

void ThrowLastFileError(const std::string& path) {
  ThrowFileError(path, ::GetLastError());
}

namespace {

// Asked for the right to delete it, a file that another program holds says
// so; one we may not touch refuses again, and a missing one is missing.
bool HeldByAnother(const std::wstring& path) {
  const HANDLE probe =
      ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    return false;
  }
  return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

void ThrowLastRenameError(const std::string& path, const std::wstring& source,
                          const std::wstring& target) {
  DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED && (HeldByAnother(source) || HeldByAnother(target))) {
    error = ERROR_SHARING_VIOLATION;
  }
  ThrowFileError(path, error);
}

}  // namespace korva::platform::windows
