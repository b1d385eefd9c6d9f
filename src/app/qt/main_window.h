#pragma once
// The main window TFrmKorvaUpdate: one widget per control of the form model,
// named as the control and made by the factory of the control's kind, in the
// design's order. The widgets mirror the model (Mirror copies what changed
// since the last look, by the controls' revisions) and write the operator's
// input back into it; clicks go to Principal's handlers.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/form_mirror.h"
#include "app/principal.h"
#include "app/qt/control_widgets.h"
#include "app/single_instance_guard.h"
#include "form/form_model.h"

namespace korva::qt {

class QtShell;

class MainWindow : public QWidget, public FormMirror {
  Q_OBJECT

 public:
  // The window class other programs know it by.
  static constexpr const char* kWindowClass = kMainWindowClass;

  // Builds every widget in the model's initial state and attaches itself to
  // the shell. The model, Principal and the shell outlive the window.
  MainWindow(form::FormModel& form, Principal& principal, QtShell& shell);
  ~MainWindow() override;

  // Mirror, then paint the window now: runs do not return to the event loop
  // between their steps.
  void RepaintNow();

  // The widget of a control (the QMenu of a popup menu), or nullptr.
  QWidget* WidgetOf(const std::string& controlName) const;

  // The default text font of the window, sized for the fixed pixel layout.
  static QFont DefaultFont();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Build();
  void Place(const form::Control& control, QWidget* widget, QWidget* parent);
  void ShowCaption(const std::string& caption) override;
  void ShowPage(const form::Control& page) override;

  QtShell& shell_;
  std::map<std::string, QWidget*> widgets_;
};

}  // namespace korva::qt
