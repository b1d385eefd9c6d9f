#include "platform/windows/short_paths.h"

#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform::windows {
namespace {

bool& ShortNamesFail() {
  static bool fail = false;
  return fail;
}

// Empty when the system gives no short form.
std::wstring ShortPathOf(const std::wstring& path) {
  if (ShortNamesFail()) return {};
  const DWORD size = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring shortPath(size, L'\0');
  const DWORD length = ::GetShortPathNameW(path.c_str(), shortPath.data(), size);
  if (length == 0 || length >= size) return {};
  shortPath.resize(length);
  return shortPath;
}

}  // namespace

void FailShortPathNames(bool fail) {
  ShortNamesFail() = fail;
}

std::optional<std::string> PathInWindows1252(const std::wstring& path) {
  if (FitsWindows1252(path)) return Narrow(path);
  const std::wstring shortPath = ShortPathOf(path);
  if (!shortPath.empty() && FitsWindows1252(shortPath)) return Narrow(shortPath);
  return std::nullopt;
}

}  // namespace korva::platform::windows
