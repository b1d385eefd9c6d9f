// What every window does with the form model, seen through a window that draws
// nothing: each view shows its control again exactly when the control
// changed, clicks reach Principal's handlers by control, re-entry is safe and
// a close waits for the running operation.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <utility>

#include "app/form_mirror.h"
#include "app/principal.h"
#include "form/maker.h"
#include "platform/clock.h"
#include "support/scripted_shell.h"

namespace korva::testing {
namespace {

// A view per control that counts how often its control was shown.
class CountingWindow final : public FormMirror {
 public:
  CountingWindow(form::FormModel& form, Principal& principal) : FormMirror(form, principal) {
    for (form::Control* control : form.AllControls()) {
      AddView(control, [this, control] { ++shown[control->Name()]; });
    }
    CaptionShown();
    Start([this] { attached = true; });
  }
  using FormMirror::CloseAllowed;

  // Views shown since the last look, by control name.
  std::map<std::string, int> Take() { return std::exchange(shown, {}); }

  std::map<std::string, int> shown;
  std::vector<std::string> captions;
  std::vector<std::string> pages;
  bool attached = false;

 private:
  void ShowCaption(const std::string& caption) override { captions.push_back(caption); }
  void ShowPage(const form::Control& page) override { pages.push_back(page.Name()); }
};

class FormMirrorTest : public ::testing::Test {
 protected:
  ScriptedShell shell;
  form::FormModel form;
  platform::SystemClock clock;
  Principal principal{form, shell, clock, "/nonexistent"};
  CountingWindow window{form, principal};
};

TEST_F(FormMirrorTest, EveryViewShowsTheModelOnceAtTheStartThenOnlyWhatChanged) {
  EXPECT_TRUE(window.attached);
  const auto atStart = window.Take();
  EXPECT_EQ(atStart.size(), form.AllControls().size());
  for (const auto& [name, times] : atStart) EXPECT_EQ(times, 1) << name;
  EXPECT_TRUE(window.captions.empty());  // made with the model's caption
  EXPECT_EQ(window.pages, std::vector<std::string>{"TbShtInicio"});

  window.Mirror();
  EXPECT_TRUE(window.Take().empty());
  form.LblConectando.SetText("x");
  form.LblConectando.SetText("y");
  form.GaugeDownload.SetProgress(50);
  form.STxtKBPS.SetText(form.STxtKBPS.Text());  // the same text: no change
  form.SetCaption("KORVA");
  form.ShowPage(form.TbShtLog);
  window.Mirror();
  EXPECT_EQ(window.Take(),
            (std::map<std::string, int>{{"GaugeDownload", 1}, {"LblConectando", 1}}));
  EXPECT_EQ(window.captions, std::vector<std::string>{"KORVA"});
  EXPECT_EQ(window.pages, (std::vector<std::string>{"TbShtInicio", "TbShtLog"}));
  window.Mirror();
  EXPECT_TRUE(window.Take().empty());
  EXPECT_EQ(window.captions.size(), 1u);
  EXPECT_EQ(window.pages.size(), 2u);

  // What the operator typed is in the view already: not shown again.
  form.SrvRemoto1.SetText("\\\\SERVER1\\KORVA");
  window.Changed(form.SrvRemoto1);
  window.Mirror();
  EXPECT_TRUE(window.Take().empty());
}

TEST_F(FormMirrorTest, ClicksReachTheHandlerOfTheirControl) {
  window.Click(form.LblSite);
  window.Click(form.Label6);
  EXPECT_EQ(shell.openedAddresses,
            (std::vector<std::string>{form::kMakerWebAddress, form::kMakerWebAddress}));
  window.Click(form.FltBtnConfig);
  EXPECT_EQ(form.ActivePage(), &form.TbShtConfig);
  window.Click(form.BitBtn1);
  EXPECT_EQ(form.ActivePage(), &form.TbShtInicio);
  window.Click(form.BtBtnFechar);
  EXPECT_EQ(shell.closeRequests, 1);
  // A control with no handler: nothing runs, nothing is shown.
  window.Take();
  window.Click(form.Label2);
  EXPECT_TRUE(window.Take().empty());
  EXPECT_TRUE(shell.messages.empty());

  // A handler that fails reaches the general error display; the clicked
  // view shows the model again.
  window.BindClick(form.BtBtnGravar, [] { throw std::runtime_error("Disk full"); });
  window.Click(form.BtBtnGravar);
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0], (Message{"", "Disk full", MsgIcon::Error, kOk, kOk}));
  EXPECT_EQ(window.Take(), (std::map<std::string, int>{{"BtBtnGravar", 1}}));
}

TEST_F(FormMirrorTest, ASecondClickIsIgnoredWhileAbortAndCloseWaitForTheOperation) {
  int inner = 0;
  bool closeAllowed = true;
  window.BindClick(form.BitBtn2, [&] { ++inner; });
  window.BindClick(form.BtBtnContinuar, [&] {
    window.Click(form.BitBtn2);       // a second handler: turned away
    window.Click(form.BtBtnAbortar);  // reaches the running transfer
    closeAllowed = window.CloseAllowed();
    EXPECT_EQ(shell.closeRequests, 0);
  });
  window.Click(form.BtBtnContinuar);
  EXPECT_EQ(inner, 0);
  EXPECT_TRUE(principal.Session().transfer.transferAbortRequested);
  EXPECT_TRUE(principal.Session().transfer.runAbortRequested);
  EXPECT_FALSE(closeAllowed);
  EXPECT_EQ(shell.closeRequests, 1);  // once the operation returned

  // A choice runs as the control's click, its bound handler where it brings none.
  int chosen = 0;
  window.BindClick(form.GerarScript1, [&] { ++chosen; });
  window.Choose(form.GerarScript1, {});
  window.Choose(form.RdGrpMetodoFTP, [&] { chosen += 10; });
  EXPECT_EQ(chosen, 11);
}

}  // namespace
}  // namespace korva::testing
