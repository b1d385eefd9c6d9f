#include "app/win32/dpi.h"

namespace korva::win32 {

using platform::windows::FromInteger;
namespace {

constexpr const wchar_t* kDpiProperty = L"KorvaDpi";

// Looked up once: a program built for Windows 7 finds them only on
// Windows 10 and later.
template <typename Function>
Function User32(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

UINT SystemDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

}  // namespace

UINT SystemDpiOfWindow(HWND window) {
  static const auto getDpiForWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
  const UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
  return dpi != 0 ? dpi : SystemDpi();
}

int MetricForDpi(int index, UINT dpi) {
  static const auto getSystemMetricsForDpi =
      User32<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (getSystemMetricsForDpi) return getSystemMetricsForDpi(index, dpi);
  return ::MulDiv(::GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

void AdjustFrameForDpi(RECT& frame, DWORD style, DWORD exStyle, UINT dpi) {
  static const auto adjust = User32<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  if (!adjust || !adjust(&frame, style, FALSE, exStyle, dpi)) {
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  }
}

void SetDpiOf(HWND control, UINT dpi) {
  ::SetPropW(control, kDpiProperty, FromInteger<HANDLE>(static_cast<UINT_PTR>(dpi)));
}

UINT DpiOf(HWND control) {
  const auto dpi = static_cast<UINT>(reinterpret_cast<UINT_PTR>(::GetPropW(control, kDpiProperty)));
  return dpi != 0 ? dpi : kDesignDpi;
}

void ForgetDpiOf(HWND control) {
  ::RemovePropW(control, kDpiProperty);
}

}  // namespace korva::win32
