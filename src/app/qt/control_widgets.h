#pragma once
// The widget of each kind of control. MakeControlWidget picks the factory by
// the control's kind; each factory makes the widget inside its parent's widget
// and says how the control's state reaches it. Operator input goes to the
// ControlHost, the window that holds the widgets.
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <string>

#include "app/form_mirror.h"
#include "form/controls.h"

namespace korva::qt {

using ControlHost = korva::ControlHost;

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

// One of the window's pictures ("logo", "step_done", ...); none for an empty name.
QPixmap Picture(const std::string& name);

}  // namespace korva::qt
