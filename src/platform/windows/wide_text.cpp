#include "platform/windows/wide_text.h"

#include "platform/windows/win32_api.h"

namespace korva::platform::windows {
namespace {

constexpr UINT kCodePage = 1252;

}  // namespace

std::wstring Wide(std::string_view cp1252) {
  if (cp1252.empty()) return {};
  const int length = static_cast<int>(cp1252.size());
  const int size = ::MultiByteToWideChar(kCodePage, 0, cp1252.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(kCodePage, 0, cp1252.data(), length, wide.data(), size);
  return wide;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int length = static_cast<int>(utf16.size());
  // No best fit: a character the code page lacks must not turn into a
  // look-alike ("ł" into "l"), which could name another file.
  const int size = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, utf16.data(), length,
                                         nullptr, 0, "?", nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, utf16.data(), length, narrow.data(), size,
                        "?", nullptr);
  return narrow;
}

bool FitsWindows1252(std::wstring_view utf16) {
  if (utf16.empty()) return true;
  BOOL lost = FALSE;
  const int length = static_cast<int>(utf16.size());
  const int size = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, utf16.data(), length,
                                         nullptr, 0, nullptr, &lost);
  return size > 0 && !lost;
}

}  // namespace korva::platform::windows
