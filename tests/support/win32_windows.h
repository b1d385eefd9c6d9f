#pragma once
// Windows of a Win32 program as the Windows tests look at them: texts,
// pictures of what the window system shows, message boxes and dialogs found
// and answered as an operator would. Each wait counts slices; none bounds
// wall-clock time.
#include <set>
#include <string>
#include <vector>

#include "platform/windows/win32_api.h"

namespace korva::testing {

std::wstring TextOf(HWND window);
// Handles every message waiting for this thread.
void Pump();

struct Capture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;  // BGR rows, bottom-up, 4-byte aligned
  std::size_t DistinctColours() const;
  // The colour at x, y from the top-left corner, as 0xRRGGBB.
  unsigned At(int x, int y) const;
};

// The window's client area as the window system shows it.
Capture CaptureClient(HWND window);
// A rectangle of the screen (a popup menu open over the window).
Capture CaptureScreen(const RECT& area);
// What a device context holds (a bitmap selected into a memory context).
Capture CaptureDc(HDC dc, int width, int height);
void SaveBmp(const Capture& capture, const std::string& path);
// Where the pictures of the Windows tests go: the folder CTest names
// (KORVA_WINDOW_SCREENSHOTS), else beside the test.
std::string ScreenshotFolder();

// A top-level window of the class and title once it is visible, waiting up
// to `slices` slices of 50 ms; nullptr when none showed.
HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* title, int slices = 600);

// What a real message box showed, read while it was up, and the button then
// clicked as the operator would.
struct ShownBox {
  bool found = false;
  std::wstring text;
  std::set<int> buttons;
  int defaultButton = 0;
  HICON icon = nullptr;
};
// Waits for the box of that caption to show (its buttons laid out and the
// preselected one focused), reads it and clicks `answer`. Runs on a thread
// of its own while the box runs on the test's. Only boxes of `process` count
// (0: this one), so tests that run side by side never answer each other's.
ShownBox AnswerBox(const std::wstring& caption, int answer, DWORD process = 0);

// The common print dialog of this process, once it shows, answered with OK
// or Cancel (IDOK, IDCANCEL). False when none showed.
bool AnswerPrintDialog(int answer);

// Running under Wine rather than Windows (ntdll exports wine_get_version).
bool UnderWine();

}  // namespace korva::testing
