// The real korvaupdate program on a real X server, against a real site: the
// operator answers its message boxes; a second copy is refused while the
// first shows its window; a close request ends the first with its exit
// sequence (protected mode switched off).
#include <gtest/gtest.h>

#include "form/form_model.h"
#include "platform/window_registry.h"
#include "support/firebird_fixture.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "support/window_process.h"
#include "support/x_display.h"
#include "text/cp1252.h"
#include "vendor/vendor_library.h"

namespace korva {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::XDisplay;

TEST(RealProgram, ASecondCopyIsRefusedWhileTheFirstRunsAndTheFirstEndsCleanly) {
  testing::PrivateWindowRegistry registry;
  testing::TempDir dir;
  const testing::Site site = testing::BuildSite(
      dir.Path(), testing::SiteOptions{"EMPRESA", "FDB", {"--protected=S"}, true});
  XDisplay display;
  const std::string program = site.folder + "/korvaupdate";
  const std::vector<std::string> environment = {"DISPLAY=" + display.Name(), "QT_QPA_PLATFORM=xcb",
                                                "XDG_RUNTIME_DIR=" + registry.RuntimeFolder()};

  ChildProcess first({program}, environment);
  // Start-up tells the operator that protected mode is on.
  const std::string notice = display.WaitForWindow("^KORVA Update$");
  ASSERT_FALSE(notice.empty()) << display.VisibleTitles();
  display.PressKey(notice, "Return");

  const std::string title =
      form::FormModel::ComposeMainTitle(vendor::GetBuildInfo(program, "BUILD"));
  const std::string main = display.WaitForWindow("KORVA - Atualiza.*Vers");
  ASSERT_FALSE(main.empty()) << display.VisibleTitles();
  EXPECT_TRUE(platform::FindWindow("TFrmKorvaUpdate", title));

  ChildProcess second({program}, environment);
  const std::string refusal = display.WaitForWindow("^KORVA - UPDATE$");
  ASSERT_FALSE(refusal.empty()) << display.VisibleTitles();
  display.PressKey(refusal, "Return");
  EXPECT_EQ(second.WaitForExit(30s), 0);
  EXPECT_TRUE(first.Running()) << "the first copy must not be disturbed";
  EXPECT_TRUE(platform::FindWindow("TFrmKorvaUpdate", title));

  // Closing the first copy from outside runs its exit: protected mode off,
  // with its message, then the end of the program.
  std::thread closer([&] { platform::SendCloseRequest("TFrmKorvaUpdate", title, 60s); });
  const std::string goodbye = display.WaitForWindow("^KORVA Update$");
  ASSERT_FALSE(goodbye.empty()) << display.VisibleTitles();
  display.PressKey(goodbye, "Return");
  closer.join();
  EXPECT_EQ(first.WaitForExit(30s), 0);
  EXPECT_EQ(testing::IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD"), "N");
  EXPECT_FALSE(platform::FindWindow("TFrmKorvaUpdate", title));
}

}  // namespace
}  // namespace korva
