#include "support/win32_windows.h"

#include <dlgs.h>

#include <cstdlib>
#include <fstream>

#include "platform/files.h"
#include "platform/windows/wide_text.h"

namespace korva::testing {
namespace {

constexpr int kSliceMilliseconds = 50;

std::size_t Stride(int width) {
  return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

// The dialog of this process that shows a control of that identifier.
HWND DialogWithControl(int control) {
  struct Search {
    int control;
    HWND found = nullptr;
  } search{control};
  ::EnumWindows(
      [](HWND window, LPARAM l) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(l);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, 16);
        if (process == ::GetCurrentProcessId() && std::wstring(name) == L"#32770" &&
            ::IsWindowVisible(window) && ::GetDlgItem(window, s.control)) {
          s.found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

std::wstring TextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

std::size_t Capture::DistinctColours() const {
  std::set<unsigned> colours;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) colours.insert(At(x, y));
  }
  return colours.size();
}

unsigned Capture::At(int x, int y) const {
  const unsigned char* p = &pixels[static_cast<std::size_t>(height - 1 - y) * Stride(width) +
                                   static_cast<std::size_t>(x) * 3];
  return p[0] | (p[1] << 8) | (p[2] << 16);
}

Capture CaptureDc(HDC source, int width, int height) {
  Capture capture;
  capture.width = width;
  capture.height = height;
  const HDC memory = ::CreateCompatibleDC(source);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(source, width, height);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  capture.pixels.resize(Stride(width) * static_cast<std::size_t>(height));
  ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), capture.pixels.data(), &info,
              DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  return capture;
}

Capture CaptureClient(HWND window) {
  RECT area;
  ::GetClientRect(window, &area);
  const HDC dc = ::GetDC(window);
  Capture capture = CaptureDc(dc, area.right, area.bottom);
  ::ReleaseDC(window, dc);
  return capture;
}

Capture CaptureScreen(const RECT& area) {
  const HDC screen = ::GetDC(nullptr);
  const HDC shifted = ::CreateCompatibleDC(screen);
  const HBITMAP bitmap =
      ::CreateCompatibleBitmap(screen, area.right - area.left, area.bottom - area.top);
  const HGDIOBJ old = ::SelectObject(shifted, bitmap);
  ::BitBlt(shifted, 0, 0, area.right - area.left, area.bottom - area.top, screen, area.left,
           area.top, SRCCOPY);
  Capture capture = CaptureDc(shifted, area.right - area.left, area.bottom - area.top);
  ::SelectObject(shifted, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(shifted);
  ::ReleaseDC(nullptr, screen);
  return capture;
}

void SaveBmp(const Capture& capture, const std::string& path) {
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = capture.width;
  header.biHeight = capture.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + capture.pixels.size());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(capture.pixels.data()),
            static_cast<std::streamsize>(capture.pixels.size()));
}

std::string ScreenshotFolder() {
  const char* folder = std::getenv("KORVA_WINDOW_SCREENSHOTS");
  std::string path = folder && *folder ? folder : platform::ExecutableFolder() + "\\window-pages";
  ::CreateDirectoryW(platform::windows::Wide(path).c_str(), nullptr);
  return path;
}

HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* title, int slices) {
  for (int slice = 0; slice < slices; ++slice) {
    const HWND found = ::FindWindowW(windowClass, title);
    if (found && ::IsWindowVisible(found)) return found;
    ::Sleep(kSliceMilliseconds);
  }
  return nullptr;
}

namespace {

// The message box of that caption that belongs to `process`: tests run side
// by side, and a box of the same caption in another test is not ours.
HWND BoxOf(const std::wstring& caption, DWORD process) {
  for (HWND box = ::FindWindowExW(nullptr, nullptr, L"#32770", caption.c_str()); box;
       box = ::FindWindowExW(nullptr, box, L"#32770", caption.c_str())) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(box, &owner);
    if (owner == process) return box;
  }
  return nullptr;
}

}  // namespace

ShownBox AnswerBox(const std::wstring& caption, int answer, DWORD process) {
  if (process == 0) process = ::GetCurrentProcessId();
  ShownBox shown;
  HWND box = nullptr;
  // Found as soon as it exists; read once it shows, its buttons laid out and
  // the preselected one focused.
  bool ready = false;
  for (int slice = 0; slice < 600 && !ready; ++slice) {
    box = BoxOf(caption, process);
    GUITHREADINFO focus{};
    focus.cbSize = sizeof focus;
    ready = box && ::IsWindowVisible(box) &&
            ::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &focus) &&
            focus.hwndFocus && ::GetParent(focus.hwndFocus) == box;
    if (!ready) ::Sleep(kSliceMilliseconds);
  }
  if (!ready) return shown;
  shown.found = true;
  for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
    const HWND button = ::GetDlgItem(box, id);
    if (button && ::IsWindowVisible(button)) shown.buttons.insert(id);
  }
  // The preselected button: the one with the keyboard focus when the box
  // opens, which Enter presses.
  GUITHREADINFO focus{};
  focus.cbSize = sizeof focus;
  if (::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &focus) && focus.hwndFocus) {
    shown.defaultButton = ::GetDlgCtrlID(focus.hwndFocus);
  }
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    // The box's icon: the one static control that shows an icon.
    if (const auto icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0))) {
      shown.icon = icon;
    }
    wchar_t name[16] = {};
    ::GetClassNameW(child, name, 16);
    if (std::wstring(name) == L"Static") shown.text += TextOf(child);
  }
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box, answer)));
  return shown;
}

bool AnswerPrintDialog(int answer) {
  // The print dialog is the one with the printer's name list (cmb4).
  for (int slice = 0; slice < 600; ++slice) {
    if (const HWND dialog = DialogWithControl(cmb4)) {
      ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(dialog, answer)));
      return true;
    }
    ::Sleep(kSliceMilliseconds);
  }
  return false;
}

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace korva::testing
