// Our own build of the KORVA system's backup program for Windows: a window of
// class TFrmKorvaBackup titled "KORVA - Backup" that closes, and so ends the
// program, when another program sends it WM_CLOSE (the updater does before
// it changes a database, and starts it again when it ends).
#include "platform/windows/win32_api.h"

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  // WM_CLOSE included: its default destroys the window.
  return ::DefWindowProcW(window, message, w, l);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProcedure;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"TFrmKorvaBackup";
  if (!::RegisterClassW(&wc)) return 1;
  const HWND window =
      ::CreateWindowExW(0, wc.lpszClassName, L"KORVA - Backup", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 360, 120, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ::CreateWindowExW(0, L"STATIC", L"Backup automático do banco de dados KORVA",
                    WS_CHILD | WS_VISIBLE, 12, 24, 320, 20, window, nullptr, instance, nullptr);
  ::ShowWindow(window, show);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
