#pragma once
// What a main window does with the form model whatever toolkit draws it: the
// controls' views are brought up to date by the controls' revisions, clicks
// run Principal's handlers through Dispatch, and the show, activate and close
// sequences reach Principal. A window makes its own controls and tells this
// how to show the caption and the active page.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/principal.h"
#include "form/form_model.h"

namespace korva {

// The operator's input, as a control's view reports it to its window.
class ControlHost {
 public:
  // The operator clicked the control.
  virtual void Click(form::Control& control) = 0;
  // The operator chose an item of the control (a radio button, a menu item):
  // the choice runs as the control's click, its bound handler where there is
  // no choice, and the control's view then shows the model again.
  virtual void Choose(form::Control& control, std::function<void()> choice) = 0;
  // The operator changed the control and its view already shows the change.
  virtual void Changed(form::Control& control) = 0;

 protected:
  ~ControlHost() = default;
};

class FormMirror : public virtual ControlHost {
 public:
  // Copies every control that changed since the last call into its view.
  void Mirror();
  // A click on the control runs the handler through Principal::Dispatch.
  void BindClick(form::Control& control, std::function<void()> handler);

  void Click(form::Control& control) override;
  void Choose(form::Control& control, std::function<void()> choice) override;
  void Changed(form::Control& control) override;

 protected:
  FormMirror(form::FormModel& form, Principal& principal);
  ~FormMirror() = default;

  // The control's view, made by the window; apply copies the control's state
  // into it.
  void AddView(form::Control* control, std::function<void()> apply);
  // The end of the window's construction, once its controls are made: the
  // clicks of the design's buttons, labels and menu items are bound, attach
  // hands the window to its shell, and every view shows the model.
  void Start(const std::function<void()>& attach);
  // The caption shows the model's already (the window was made with it).
  void CaptionShown() { captionSeen_ = form_.CaptionRevision(); }
  // The window was shown: the first time, the show sequence (FormShow) runs.
  void Shown();
  bool ShownOnce() const { return shownOnce_; }
  // The window became the active one after its first showing.
  void Activated();
  // The operator asks to close the window: false while an operation runs
  // (it is closed when the operation returns); otherwise the close sequence
  // runs once and the window may go.
  bool CloseAllowed();

  virtual void ShowCaption(const std::string& caption) = 0;
  virtual void ShowPage(const form::Control& page) = 0;

  form::FormModel& form_;
  Principal& principal_;

 private:
  struct View {
    form::Control* control = nullptr;
    std::uint64_t seen = 0;
    std::function<void()> apply;
  };
  void BindHandlers();
  // A click of the operator: the handler runs through Dispatch, and the view
  // that was clicked shows the model again even when the click was ignored
  // (a toggled menu item, a radio button).
  void RunClick(form::Control* clicked, const std::function<void()>& handler);
  void Apply(View& view);
  View* ViewOf(const form::Control* control);

  std::vector<View> views_;
  std::map<const form::Control*, std::function<void()>> clicks_;
  std::uint64_t captionSeen_ = ~std::uint64_t{0};
  std::uint64_t pageSeen_ = ~std::uint64_t{0};
  bool shownOnce_ = false;
  bool closed_ = false;
};

}  // namespace korva
