#include "platform/process.h"

#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

#include <shellapi.h>

namespace korva::platform {
namespace {

// One argument as the C runtime of the started program splits it again:
// quoted when it holds a blank or a quote, backslashes doubled before a quote.
std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  std::wstring full(size, L'\0');
  const DWORD n = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  full.resize(n);
  return full;
}

}  // namespace

bool StartProgram(const std::string& path, const std::vector<std::string>& arguments) {
  if (path.empty()) return false;
  const std::wstring program = FullPath(windows::Wide(path));
  if (program.empty()) return false;
  const auto separator = program.find_last_of(L"\\/");
  const std::wstring folder =
      separator == std::wstring::npos ? std::wstring() : program.substr(0, separator);

  std::wstring commandLine = QuotedArgument(program);
  for (const std::string& argument : arguments) {
    commandLine += L' ';
    commandLine += QuotedArgument(windows::Wide(argument));
  }
  // As WinExec with SW_SHOWNORMAL: a normal window, nothing of ours
  // inherited, no wait.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

void OpenWebAddress(const std::string& address) {
  ::ShellExecuteW(nullptr, L"open", windows::Wide(address).c_str(), nullptr, nullptr,
                  SW_SHOWMAXIMIZED);
}

}  // namespace korva::platform
