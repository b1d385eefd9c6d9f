#pragma once
// The widget of each kind of control. MakeControlWidget picks the factory by
// the control's kind; each factory makes the widget inside its parent's widget
// and says how the control's state reaches it. Operator input goes to the
// ControlHost, the window that holds the widgets.
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <string>

#include "form/controls.h"

namespace korva::qt {

class ControlHost {
 public:
  // The operator clicked the control.
  virtual void Click(form::Control& control) = 0;
  // The operator chose an item of the control (a radio button, a menu item):
  // the choice runs as the control's click, its bound handler where there is
  // no choice, and the control's widget then shows the model again.
  virtual void Choose(form::Control& control, std::function<void()> choice) = 0;
  // The operator changed the control and its widget already shows the change.
  virtual void Changed(form::Control& control) = 0;

 protected:
  ~ControlHost() = default;
};

struct ControlWidget {
  // The control's widget; none for a menu item, an action of its menu.
  QWidget* widget = nullptr;
  // Copies the control's state into the widget; none where the model has no
  // state to show (a popup menu).
  std::function<void()> apply;
};

// The widget of the control, made inside parent, the widget of the control's
// parent (the window's for a control without one).
ControlWidget MakeControlWidget(form::Control& control, QWidget* parent, ControlHost& host);

// One of the window's pictures ("logo", "step_done", ...).
QPixmap Picture(const std::string& name);

}  // namespace korva::qt
