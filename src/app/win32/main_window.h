#pragma once
// The main window TFrmKorvaUpdate on Windows: one native control per control
// of the form model, made by the factory of the control's kind, in the
// design's order. The controls mirror the model (Mirror copies what changed
// since the last look, by the controls' revisions) and write the operator's
// input back into it; clicks go to Principal's handlers.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/form_mirror.h"
#include "app/principal.h"
#include "app/single_instance_guard.h"
#include "app/win32/control_windows.h"
#include "form/form_model.h"

namespace korva::win32 {

class Win32Shell;

class MainWindow final : public FormMirror, private ControlHost {
 public:
  // The window class other programs know it by (FindWindowW).
  static constexpr const char* kWindowClass = kMainWindowClass;

  // Creates the window, hidden, titled as given (a second copy finds it by
  // that title from now on), with every control in the model's initial state,
  // and attaches itself to the shell. The model, Principal and the shell
  // outlive the window.
  MainWindow(form::FormModel& form, Principal& principal, Win32Shell& shell,
             const std::string& title);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND Handle() const { return window_; }
  // The DPI the window is laid out for.
  UINT Dpi() const { return dpi_; }

  // Shows the window; the first time, the show sequence (FormShow) runs.
  void Show();
  // Mirror, then paint the window now: runs do not return to the message
  // loop between their steps.
  void RepaintNow();
  // The native window of a control, or nullptr.
  HWND WindowOf(const std::string& controlName) const;
  // Runs when Windows ends the session (logoff, shutdown) after the window's
  // close sequence: the program is ended without returning to its start.
  void OnSessionEnd(std::function<void()> onSessionEnd) { onSessionEnd_ = std::move(onSessionEnd); }

 private:
  // A control's native window as the layout knows it.
  struct Placed {
    HWND window = nullptr;
    const form::Control* control = nullptr;
    std::function<void(UINT dpi)> scale;
  };

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  // A control's notification to the listener of its command identifier.
  void Notify(int id, UINT code, const NMHDR* header);
  // The busy pointer, or the hand over a link; false to leave it to the system.
  bool SetCursorOver(HWND under, UINT hitTest) const;
  void Build();
  // Every control placed, given its font and laid out at the DPI, and the
  // window's frame sized round the client area of the design at that DPI,
  // its top-left corner where `at` says (none: where it is).
  void Layout(UINT dpi, const POINT* at);
  void FitClientArea(const POINT* at);
  void ShowIcons();
  void CloseRequested();
  void ShowCaption(const std::string& caption) override;
  void ShowPage(const form::Control& page) override;
  int Listen(std::function<void(UINT code, const NMHDR* header)> onNotify) override;

  Win32Shell& shell_;
  HWND window_ = nullptr;
  UINT dpi_ = 96;
  std::vector<Placed> placed_;
  HICON icons_[2] = {nullptr, nullptr};  // small and large, at the window's DPI
  std::map<std::string, HWND> windows_;
  std::map<std::string, HMENU> menus_;
  std::map<int, std::function<void(UINT, const NMHDR*)>> listeners_;
  std::function<void()> onSessionEnd_;
  int nextId_ = 1000;
};

}  // namespace korva::win32
