#include "app/win32/main_window.h"

// clang-format off
#include "platform/windows/win32_api.h"
#include <commctrl.h>
// clang-format on

#include "app/win32/dpi.h"
#include "app/win32/win32_shell.h"
#include "app/win32/win32_text.h"

namespace korva::win32 {

using platform::windows::FromInteger;

namespace {

// Fixed size: a border that does not resize, the system menu and the
// minimise button, no maximise button.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
// The program's icon among its resources.
constexpr int kIconResource = 1;

// shared: the system's copy, never destroyed (the class keeps it).
HICON ProgramIcon(HINSTANCE instance, int size, bool shared = false) {
  return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                         size, size, shared ? LR_SHARED : LR_DEFAULTCOLOR));
}

}  // namespace

MainWindow::MainWindow(form::FormModel& form, Principal& principal, Win32Shell& shell,
                       const std::string& title)
    : FormMirror(form, principal), shell_(shell) {
  CaptionShown();
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  RegisterControlClasses(instance);
  const std::wstring className = Wide(kWindowClass);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Procedure;
  wc.hInstance = instance;
  wc.hIcon = ProgramIcon(instance, ::GetSystemMetrics(SM_CXICON), true);
  wc.hIconSm = ProgramIcon(instance, ::GetSystemMetrics(SM_CXSMICON), true);
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = className.c_str();
  ::RegisterClassExW(&wc);

  window_ = ::CreateWindowExW(kExStyle, className.c_str(), Wide(title).c_str(), kStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                              nullptr, instance, this);
  Build();
  // Laid out at the DPI of the monitor the window is on, centred on its
  // work area.
  Layout(SystemDpiOfWindow(window_), nullptr);
  MONITORINFO monitor{sizeof monitor};
  ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  RECT frame;
  ::GetWindowRect(window_, &frame);
  const RECT& work = monitor.rcWork;
  const POINT centred{work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
                      work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2};
  ::SetWindowPos(window_, nullptr, centred.x, centred.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Start([this] { shell_.AttachWindow(this); });
}

MainWindow::~MainWindow() {
  if (shell_.Window() == this) shell_.AttachWindow(nullptr);
  if (window_) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  for (HICON icon : icons_) {
    if (icon) ::DestroyIcon(icon);
  }
}

void MainWindow::Build() {
  // The design's order: a control's parent is made before it, and of two
  // controls that overlap the later lies above.
  for (form::Control* control : form_.AllControls()) {
    ControlParent parent{window_, nullptr};
    if (!control->parent.empty()) {
      auto menu = menus_.find(control->parent);
      if (menu != menus_.end()) {
        parent.menu = menu->second;
      } else {
        parent.window = windows_.at(control->parent);
      }
    }
    ControlWindow made = MakeControlWindow(*control, parent, *this);
    if (made.menu) menus_[control->Name()] = made.menu;
    if (made.window) {
      windows_[control->Name()] = made.window;
      ::SetWindowPos(made.window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      placed_.push_back(Placed{made.window, control, std::move(made.scale)});
    }
    if (made.apply) AddView(control, std::move(made.apply));
  }
}

void MainWindow::Layout(UINT dpi, const POINT* at) {
  dpi_ = dpi;
  // Edges rather than sizes are scaled: controls that touch in the design
  // touch at every DPI.
  const auto edge = [dpi](int designUnits) { return Scaled(designUnits, dpi); };
  for (const Placed& p : placed_) {
    const form::Geometry& g = p.control->geometry;
    ::SetWindowPos(p.window, nullptr, edge(g.left), edge(g.top),
                   edge(g.left + g.width) - edge(g.left), edge(g.top + g.height) - edge(g.top),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageW(p.window, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(p.control->font, dpi)),
                   FALSE);
    if (p.scale) p.scale(dpi);
  }
  FitClientArea(at);
  ShowIcons();
  ::RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

void MainWindow::FitClientArea(const POINT* at) {
  const int width = Scaled(form::FormModel::kClientWidth, dpi_);
  const int height = Scaled(form::FormModel::kClientHeight, dpi_);
  RECT frame{0, 0, width, height};
  AdjustFrameForDpi(frame, kStyle, kExStyle, dpi_);
  const UINT moveFlags = at ? 0 : SWP_NOMOVE;
  const POINT corner = at ? *at : POINT{0, 0};
  ::SetWindowPos(window_, nullptr, corner.x, corner.y, frame.right - frame.left,
                 frame.bottom - frame.top, moveFlags | SWP_NOZORDER | SWP_NOACTIVATE);
  // The frame the system draws may differ from the one it computes for the
  // DPI (a system whose frame keeps its own DPI): whatever it is, the
  // client area is the design's.
  RECT client;
  ::GetClientRect(window_, &client);
  if (client.right != width || client.bottom != height) {
    RECT outer;
    ::GetWindowRect(window_, &outer);
    ::SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                   outer.bottom - outer.top + height - client.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void MainWindow::ShowIcons() {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const int sizes[2] = {MetricForDpi(SM_CXSMICON, dpi_), MetricForDpi(SM_CXICON, dpi_)};
  const WPARAM kinds[2] = {ICON_SMALL, ICON_BIG};
  for (int i = 0; i < 2; ++i) {
    const HICON icon = ProgramIcon(instance, sizes[i]);
    if (!icon) continue;
    ::SendMessageW(window_, WM_SETICON, kinds[i], reinterpret_cast<LPARAM>(icon));
    if (icons_[i]) ::DestroyIcon(icons_[i]);
    icons_[i] = icon;
  }
}

int MainWindow::Listen(std::function<void(UINT code, const NMHDR* header)> onNotify) {
  const int id = nextId_++;
  listeners_[id] = std::move(onNotify);
  return id;
}

void MainWindow::ShowCaption(const std::string& caption) {
  ::SetWindowTextW(window_, Wide(caption).c_str());
}

void MainWindow::ShowPage(const form::Control& page) {
  for (const form::TextControl* each : form_.Pages()) {
    ::ShowWindow(windows_.at(each->Name()), each == &page ? SW_SHOWNA : SW_HIDE);
  }
}

void MainWindow::RepaintNow() {
  Mirror();
  if (::IsWindowVisible(window_)) {
    ::RedrawWindow(window_, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
}

HWND MainWindow::WindowOf(const std::string& controlName) const {
  auto found = windows_.find(controlName);
  return found == windows_.end() ? nullptr : found->second;
}

void MainWindow::Show() {
  ::ShowWindow(window_, SW_SHOW);
  ::UpdateWindow(window_);
  Shown();
}

void MainWindow::CloseRequested() {
  if (!CloseAllowed()) return;
  ::ShowWindow(window_, SW_HIDE);
  ::PostQuitMessage(0);
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = FromInteger<const CREATESTRUCTW*>(l);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = FromInteger<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && self->window_ == window) return self->Handle(message, w, l);
  return ::DefWindowProcW(window, message, w, l);
}

void MainWindow::Notify(int id, UINT code, const NMHDR* header) {
  auto found = listeners_.find(id);
  if (found == listeners_.end()) return;
  // The listener may run a whole operation: a copy survives a rebuild.
  const auto listener = found->second;
  listener(code, header);
}

bool MainWindow::SetCursorOver(HWND under, UINT hitTest) const {
  if (shell_.Busy()) {
    ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    return true;
  }
  if (hitTest == HTCLIENT && ::GetPropW(under, L"KorvaHand")) {
    ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
    return true;
  }
  return false;
}

LRESULT MainWindow::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      Notify(LOWORD(w), HIWORD(w), nullptr);
      return 0;
    case WM_NOTIFY: {
      const auto* header = FromInteger<const NMHDR*>(l);
      Notify(static_cast<int>(header->idFrom), header->code, header);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = FromInteger<HDC>(w);
      const auto control = FromInteger<HWND>(l);
      ::SetTextColor(dc, ::GetPropW(control, L"KorvaDarkBlue") ? RGB(0, 0, 128)
                                                               : ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
    }
    case WM_SETCURSOR:
      if (SetCursorOver(FromInteger<HWND>(w), LOWORD(l))) return TRUE;
      break;
    case WM_ACTIVATE:
      if (LOWORD(w) != WA_INACTIVE) Activated();
      return 0;
    case WM_CLOSE:
      CloseRequested();
      return 0;
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI (or the DPI changed under it):
      // everything made again for the new one, at the place the system
      // suggests.
      const auto* suggested = FromInteger<const RECT*>(l);
      const POINT at{suggested->left, suggested->top};
      Layout(HIWORD(w), &at);
      return 0;
    }
    case WM_ENDSESSION:
      // Protected mode must not outlive the session: the close and destroy
      // sequences run before Windows ends the program.
      if (w && !principal_.OperationRunning()) {
        CloseRequested();
        if (onSessionEnd_) onSessionEnd_();
      }
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, w, l);
}

}  // namespace korva::win32
