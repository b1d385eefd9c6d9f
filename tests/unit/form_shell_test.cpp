// The rules both windows follow and only draw: the buttons a message box lays
// out and preselects, the address handed to the browser, where a report's
// list lines go down the pages, and the pictures the step indicators show.
#include <gtest/gtest.h>

#include <set>

#include "form/controls.h"
#include "form/form_model.h"
#include "form/report.h"
#include "form/shell.h"
#include "platform/files.h"

namespace korva::form {
namespace {

TEST(FormBoxButtons, LaidOutInTheBoxOrderWithThePreselectedOneOffered) {
  struct Case {
    unsigned buttons;
    MsgButton preferred;
    std::vector<MsgButton> order;
    MsgButton preselected;
    MsgButton closed;
  };
  const Case cases[] = {
      {kOk, kOk, {kOk}, kOk, kOk},
      {kYes | kNo | kCancel, kNo, {kYes, kNo, kCancel}, kNo, kCancel},
      {kCancel | kRetry | kAbort | kIgnore,
       kNoButton,
       {kAbort, kRetry, kIgnore, kCancel},
       kAbort,
       kCancel},
      {kAbort | kRetry | kIgnore, kIgnore, {kAbort, kRetry, kIgnore}, kIgnore, kIgnore},
      // A preselected button the box does not have: its first one.
      {kYes | kNo, kCancel, {kYes, kNo}, kYes, kYes},
      {kOk | kCancel, kCancel, {kOk, kCancel}, kCancel, kCancel},
      // No buttons: a box that could never be closed gets OK.
      {kNoButton, kYes, {kOk}, kOk, kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buttons);
    const BoxButtons laid = LaidOutButtons(c.buttons, c.preferred);
    EXPECT_EQ(laid.order, c.order);
    EXPECT_EQ(laid.preselected, c.preselected);
    EXPECT_EQ(laid.ClosedAnswer(), c.closed);
  }
}

TEST(FormWebUrl, WebAddressesGetAScheme) {
  EXPECT_EQ(WebUrl("www.korva.com.br"), "http://www.korva.com.br");
  EXPECT_EQ(WebUrl("http://www.korva.com.br"), "http://www.korva.com.br");
  EXPECT_EQ(WebUrl("https://suporte.korva.com.br/x.exe"), "https://suporte.korva.com.br/x.exe");
}

TEST(FormListFlow, LinesGoDownAndOnToTheTopOfTheNextPage) {
  // Lines of 10 from 75 on pages from 5 to 100: two fit, the third starts a
  // page; a line that fills the rest of a page still fits, and one taller
  // than a page goes at a page's top (and the next after it too).
  ListFlow flow(75, 5, 100);
  const std::pair<double, ListFlow::Place> lines[] = {
      {10, {75, false}}, {10, {85, false}}, {10, {5, true}}, {10, {15, false}},
      {75, {25, false}}, {10, {5, true}},   {96, {5, true}}, {0, {5, true}},
  };
  for (const auto& [height, expected] : lines) {
    const ListFlow::Place place = flow.Next(height);
    EXPECT_EQ(place.top, expected.top) << height;
    EXPECT_EQ(place.newPage, expected.newPage) << height;
  }
  EXPECT_EQ(Report{}.PrintableHeight(), 297 - 2 * 6.35);
}

TEST(FormStepIndicator, EveryImageIsAPictureBothWindowsCarry) {
  const std::string pictures = platform::JoinPath(KORVA_SOURCE_DIR, "src/app/pictures");
  StepIndicator step("TBtnConectando", Kind::StepIndicator);
  EXPECT_EQ(step.Picture(), "");
  std::set<std::string> names;
  for (auto image : {StepIndicator::Image::Connect, StepIndicator::Image::Disconnect,
                     StepIndicator::Image::Done, StepIndicator::Image::Transfer}) {
    step.SetImage(image);
    names.insert(step.Picture());
    EXPECT_TRUE(platform::FileExists(platform::JoinPath(pictures, step.Picture() + ".png")))
        << step.Picture();
  }
  EXPECT_EQ(names.size(), 4u);
  step.SetImage(StepIndicator::Image::None);
  EXPECT_EQ(step.Picture(), "");
  // The design's pictures too.
  const FormModel form;
  for (const Control* control : form.AllControls()) {
    if (control->kind != Kind::Picture) continue;
    const auto& picture = static_cast<const TextControl*>(control)->picture;
    EXPECT_TRUE(platform::FileExists(platform::JoinPath(pictures, picture + ".png"))) << picture;
  }
}

}  // namespace
}  // namespace korva::form
