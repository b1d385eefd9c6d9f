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

#include "app/principal.h"
#include "app/qt/control_widgets.h"
#include "app/single_instance_guard.h"
#include "form/form_model.h"

namespace korva::qt {

class QtShell;

class MainWindow : public QWidget, private ControlHost {
  Q_OBJECT

 public:
  // The window class other programs know it by.
  static constexpr const char* kWindowClass = kMainWindowClass;

  // Builds every widget in the model's initial state and attaches itself to
  // the shell. The model, Principal and the shell outlive the window.
  MainWindow(form::FormModel& form, Principal& principal, QtShell& shell);
  ~MainWindow() override;

  // Copies every control that changed since the last call into its widget.
  void Mirror();
  // Mirror, then paint the window now: runs do not return to the event loop
  // between their steps.
  void RepaintNow();

  // The widget of a control (the QMenu of a popup menu), or nullptr.
  QWidget* WidgetOf(const std::string& controlName) const;

  // A click on the named control runs the handler through Principal::Dispatch.
  void BindClick(const std::string& controlName, std::function<void()> handler);

  // The default text font of the window, sized for the fixed pixel layout.
  static QFont DefaultFont();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct View {
    form::Control* control = nullptr;
    QWidget* widget = nullptr;
    std::uint64_t seen = 0;
    std::function<void()> apply;  // the control's state into the widget
  };

  void Build();
  void Place(const form::Control& control, QWidget* widget, QWidget* parent);
  void BindHandlers();
  // Operator input from the controls' widgets.
  void Click(form::Control& control) override;
  void Choose(form::Control& control, std::function<void()> choice) override;
  void Changed(form::Control& control) override;
  // A click of the operator: the handler runs through Dispatch, and the
  // widget that was clicked shows the model again even when the click was
  // ignored (a toggled menu item, a radio button).
  void RunClick(form::Control* clicked, const std::function<void()>& handler);
  void Apply(View& view);
  View* ViewOf(const form::Control* control);

  form::FormModel& form_;
  Principal& principal_;
  QtShell& shell_;
  std::vector<View> views_;
  std::map<std::string, QWidget*> widgets_;
  std::map<std::string, std::function<void()>> clicks_;
  std::uint64_t captionSeen_ = ~std::uint64_t{0};
  std::uint64_t pageSeen_ = ~std::uint64_t{0};
  bool shownOnce_ = false;
  bool closed_ = false;
};

}  // namespace korva::qt
