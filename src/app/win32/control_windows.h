#pragma once
// The native control of each kind of control. MakeControlWindow picks the
// factory by the control's kind; each factory makes the control inside its
// parent's window (or menu) and says how the control's state reaches it.
// Operator input goes to the ControlHost, the main window, which receives
// every notification of every control (the containers pass theirs on).
#include <functional>
#include <string>

#include "app/form_mirror.h"
#include "form/controls.h"
#include "platform/windows/win32_api.h"

namespace korva::win32 {

class ControlHost : public virtual korva::ControlHost {
 public:
  // A new command identifier whose WM_COMMAND (or WM_NOTIFY, or menu choice)
  // runs onNotify with the notification code and, for WM_NOTIFY, its header.
  virtual int Listen(std::function<void(UINT code, const NMHDR* header)> onNotify) = 0;

 protected:
  ~ControlHost() = default;
};

// Where a control is made: the window of its parent, or the popup menu of a
// menu item.
struct ControlParent {
  HWND window = nullptr;
  HMENU menu = nullptr;
};

struct ControlWindow {
  HWND window = nullptr;  // none for a popup menu or a menu item
  HMENU menu = nullptr;   // a popup menu: the menu its items go into
  // Copies the control's state into the window; none where the model has no
  // state to show (a popup menu).
  std::function<void()> apply;
  // Lays out what lies inside the control's window for a DPI (the radio
  // buttons of a group, the panels of a status bar); the window itself is
  // placed and given its font by the main window. None where nothing inside
  // depends on the DPI.
  std::function<void(UINT dpi)> scale;
};

ControlWindow MakeControlWindow(form::Control& control, ControlParent parent, ControlHost& host);

// The window class of the containers (panels, pages, frames): they pass every
// notification of their children on to the top-level window.
void RegisterControlClasses(HINSTANCE instance);

// One of the window's pictures ("logo", "step_done", ...), from the
// program's resources, composed onto white and scaled to the DPI; owned by
// a cache, never freed. nullptr when the program has no such picture.
HBITMAP Picture(const std::string& name, UINT dpi);

// The font of a control of the design at a DPI (cached, never freed).
HFONT FontOf(const form::Font& font, UINT dpi);

}  // namespace korva::win32
