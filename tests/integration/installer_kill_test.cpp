// The updater killed while it unpacks a large module package, at several
// moments: the module still has a whole, runnable executable, and the next
// run leaves it with the new one and a record that matches it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "support/child_process.h"
#include "support/firebird_fixture.h"
#include "support/update_site.h"

namespace korva {
namespace {

using testing::ModuleBytes;
using testing::ReadBytes;
using testing::UpdateSite;

// Runs the module installation in a process of its own, as a run with only
// modules pending does it; kills it `delay` after it began unpacking (never,
// for a negative delay). True when it ran to its end.
bool Install(UpdateSite& s, std::chrono::milliseconds delay) {
  return testing::RunInChild(
      [&](const std::function<void()>& report) {
        bool told = false;
        s.shell.onRepaint = [&] {
          const auto& lines = s.form.ChkLBxLog.Items();
          if (told || lines.empty() || lines.back().text.rfind("Descompactando", 0) != 0) return;
          told = true;
          report();
        };
        if (!s.Start()) return false;
        s.principal->BtBtnNovasAtualizacoesClick();
        s.principal->BtbtnIniciarAtualizacaoClick();
        return s.principal->Session().runSucceeded;
      },
      [&](int) {
        if (delay.count() < 0) return false;
        std::this_thread::sleep_for(delay);
        return true;
      });
}

bool Runs(const std::string& executable, const std::string& build) {
  std::string output;
  return testing::RunCommand({"/bin/sh", executable}, output) == 0 &&
         output.find(build) != std::string::npos;
}

TEST(KilledInstallation, TheModuleAlwaysHasAWholeExecutableAndTheNextRunFinishes) {
  // One module, and VEI in place so that it is not offered.
  UpdateSite s(testing::SiteOptions{"EMPRESA",
                                    "FDB",
                                    {"--module=FIN=EFIN.EXE", "--app-module=EFIN.EXE=2.1.7",
                                     "--app-module=EVEI.EXE=1.0.0"}},
               std::nullopt);
  s.PutCatalogue(testing::CrLf("[EMPRESA]\nID=KORVA\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n"));
  // A large executable: the unpacking takes a while, and a kill lands in it.
  std::mt19937 random(11);
  std::string noise(48 << 20, '\0');
  for (char& ch : noise) ch = static_cast<char>(random());
  const std::string oldBytes = ReadBytes(s.App("EFIN.EXE"));
  const std::string stage = s.dir.File("EFIN.EXE");
  const std::string newBytes = ModuleBytes("EFIN.EXE", "2.2.0") + noise;
  testing::WriteBytes(stage, newBytes);
  std::string output;
  ASSERT_EQ(
      testing::RunCommand(
          {"/bin/sh", "-c", "cd '" + s.dir.Path() + "' && zip -q -0 efin.zip EFIN.EXE"}, output),
      0)
      << output;
  const std::string package = ReadBytes(s.dir.File("efin.zip"));

  for (const int ms : {0, 5, 25, 60, 120, 250}) {
    SCOPED_TRACE("killed " + std::to_string(ms) + " ms into the unpacking");
    testing::WriteBytes(s.App("EFIN.EXE"), oldBytes);
    std::filesystem::remove(s.App("EFIN.Old"));
    testing::Isql(s.site.mainDatabase, "UPDATE VERSAOBD SET VERSAO_FIN = '2.1.7';\nCOMMIT;");
    testing::WriteBytes(s.App("efin.zip"), package);

    Install(s, std::chrono::milliseconds(ms));
    const std::string now = ReadBytes(s.App("EFIN.EXE"));
    ASSERT_TRUE(now == oldBytes || now == newBytes) << now.size() << " bytes";
    EXPECT_TRUE(Runs(s.App("EFIN.EXE"), now == oldBytes ? "2.1.7" : "2.2.0"));
    std::printf("killed %d ms into the unpacking: EFIN.EXE %s, VERSAO_FIN %s\n", ms,
                now == oldBytes ? "2.1.7 (untouched)" : "2.2.0 (in place)",
                testing::IsqlValue(s.site.mainDatabase, "SELECT VERSAO_FIN FROM VERSAOBD").c_str());

    // The next run: the check offers the module again and installs it.
    testing::WriteBytes(s.App("efin.zip"), package);
    ASSERT_TRUE(Install(s, std::chrono::milliseconds(-1)));
    EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), newBytes);
    EXPECT_TRUE(Runs(s.App("EFIN.EXE"), "2.2.0"));
    EXPECT_EQ(testing::IsqlValue(s.site.mainDatabase, "SELECT VERSAO_FIN FROM VERSAOBD"), "2.2.0");
  }
}

}  // namespace
}  // namespace korva
