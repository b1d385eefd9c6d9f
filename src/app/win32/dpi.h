#pragma once
// The window's pixels follow the DPI of the monitor it is on. The design is
// in 96-DPI units; every rectangle, font and picture is made for the DPI the
// window has now. The calls that take a DPI come with Windows 10 (1607);
// older systems give the system's DPI to every window.
#include "platform/windows/win32_api.h"

namespace korva::win32 {

inline constexpr UINT kDesignDpi = 96;

// A length of the design at that DPI (MulDiv: halves round away from zero).
inline int Scaled(int designUnits, UINT dpi) {
  return ::MulDiv(designUnits, static_cast<int>(dpi), static_cast<int>(kDesignDpi));
}

// The DPI the system gives the window (the system's DPI before Windows 10).
UINT SystemDpiOfWindow(HWND window);
// A system metric (scroll bar width, icon size) at that DPI.
int MetricForDpi(int index, UINT dpi);
// The window rectangle around a client rectangle, at that DPI.
void AdjustFrameForDpi(RECT& frame, DWORD style, DWORD exStyle, UINT dpi);

// The DPI a control was last laid out for: its main window writes it on
// every control, and the controls that draw themselves read it.
void SetDpiOf(HWND control, UINT dpi);
UINT DpiOf(HWND control);
// At WM_NCDESTROY of a control that was given its DPI.
void ForgetDpiOf(HWND control);

}  // namespace korva::win32
