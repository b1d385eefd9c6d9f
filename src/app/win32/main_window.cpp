#include "app/win32/main_window.h"

// clang-format off
#include "platform/windows/win32_api.h"
#include <commctrl.h>
// clang-format on

#include "app/win32/win32_shell.h"
#include "app/win32/win32_text.h"

namespace korva::win32 {

MainWindow::MainWindow(form::FormModel& form, Principal& principal, Win32Shell& shell,
                       const std::string& title)
    : FormMirror(form, principal), shell_(shell) {
  CaptionShown();
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  RegisterControlClasses(instance);
  const std::wstring className = Wide(kWindowClass);
  WNDCLASSW wc{};
  wc.lpfnWndProc = Procedure;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = className.c_str();
  ::RegisterClassW(&wc);

  // Fixed size: a border that does not resize, the system menu and the
  // minimise button, no maximise button.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, form::FormModel::kClientWidth, form::FormModel::kClientHeight};
  ::AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  window_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, className.c_str(), Wide(title).c_str(), style,
                              work.left + (work.right - work.left - width) / 2,
                              work.top + (work.bottom - work.top - height) / 2, width, height,
                              nullptr, nullptr, instance, this);
  Build();
  Start([this] { shell_.AttachWindow(this); });
}

MainWindow::~MainWindow() {
  if (shell_.Window() == this) shell_.AttachWindow(nullptr);
  if (window_) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
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
      const form::Geometry& g = control->geometry;
      ::SetWindowPos(made.window, HWND_TOP, g.left, g.top, g.width, g.height, SWP_NOACTIVATE);
      ::SendMessageW(made.window, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(control->font)),
                     FALSE);
    }
    if (made.apply) AddView(control, std::move(made.apply));
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
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && self->window_ == window) return self->Handle(message, w, l);
  return ::DefWindowProcW(window, message, w, l);
}

LRESULT MainWindow::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND: {
      auto found = listeners_.find(LOWORD(w));
      if (found != listeners_.end()) {
        // The listener may run a whole operation: a copy survives a rebuild.
        const auto listener = found->second;
        listener(HIWORD(w), nullptr);
      }
      return 0;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(l);
      auto found = listeners_.find(static_cast<int>(header->idFrom));
      if (found != listeners_.end()) {
        const auto listener = found->second;
        listener(header->code, header);
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(w);
      const auto control = reinterpret_cast<HWND>(l);
      ::SetTextColor(dc, ::GetPropW(control, L"KorvaDarkBlue") ? RGB(0, 0, 128)
                                                               : ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
    }
    case WM_SETCURSOR: {
      if (shell_.Busy()) {
        ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return TRUE;
      }
      const auto under = reinterpret_cast<HWND>(w);
      if (LOWORD(l) == HTCLIENT && ::GetPropW(under, L"KorvaHand")) {
        ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    }
    case WM_ACTIVATE:
      if (LOWORD(w) != WA_INACTIVE) Activated();
      return 0;
    case WM_CLOSE:
      CloseRequested();
      return 0;
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
