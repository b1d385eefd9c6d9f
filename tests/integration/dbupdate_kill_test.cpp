// The updater killed at many moments of a multi-package update of the main
// database: after each kill every group is wholly in effect or not at all,
// VERSAOBANCO names the last package with a committed group, and the next run
// goes on from there without applying a committed group again.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/child_process.h"
#include "support/firebird_fixture.h"
#include "support/trail.h"
#include "support/update_site.h"
#include "text/strings.h"
#include "versions/version_rules.h"

namespace korva {
namespace {

using testing::ScriptPackage;
using testing::UpdateSite;

constexpr int kPackages = 30;
constexpr int kGroups = 3;
constexpr int kKills = 22;

std::string Version(int package) {
  return "3.16." + std::to_string(50 + package);
}

// A run of the updater in a process of its own: it reports every statement
// before sending it, and is killed after `killAfter` reports (never, for 0).
// Returns true when it ran to its end.
bool RunStep(UpdateSite& s, int killAfter) {
  return testing::RunInChild(
      [&](const std::function<void()>& report) {
        if (!s.Start()) return false;
        SessionState& session = s.principal->Session();
        session.run.latestMainVersion = Version(kPackages);
        session.records.clientVersionFilePath = s.Local("cliente.ini");
        s.principal->SQLConnectionKORVA().SetStatementObserver([&](std::string_view sql) {
          if (sql.rfind("SELECT", 0) != 0) report();
        });
        return s.principal->AtualizaBanco(dbupdate::Step::AtualizaBancoEmpresa);
      },
      [&](int reports) { return killAfter > 0 && reports == killAfter; });
}

// The trail, and the version the database records.
struct Outcome {
  testing::Trail trail;
  std::string recorded;
};

Outcome Read(const UpdateSite& s) {
  return {testing::ReadTrail(s.site.mainDatabase),
          testing::IsqlValue(s.site.mainDatabase, "SELECT VERSAOBANCO FROM VERSAOBD")};
}

TEST(KilledUpdate, EveryGroupAllOrNothingAndTheNextRunGoesOn) {
  UpdateSite s(testing::SiteOptions{"EMPRESA"}, std::nullopt);
  testing::CreateTrail(s.site.mainDatabase);
  // Local mode deletes each package after use: every run gets them again.
  const auto putPackages = [&] {
    for (int p = 1; p <= kPackages; ++p) {
      std::vector<std::vector<std::string>> groups;
      for (int g = 1; g <= kGroups; ++g) {
        groups.push_back({testing::Trace(Version(p) + "/" + std::to_string(g))});
      }
      testing::WriteBytes(
          s.Local("script_korva_" + text::Format("3_16_%s", {std::to_string(50 + p)}) + ".ini"),
          ScriptPackage(Version(p), groups));
    }
  };

  std::mt19937 random(20261209);
  std::vector<std::string> report;
  for (int kill = 1; kill <= kKills; ++kill) {
    putPackages();
    const Outcome before = Read(s);
    const int killAfter = std::uniform_int_distribution<int>(1, 2 * kGroups)(random);
    ASSERT_FALSE(RunStep(s, killAfter)) << "the run ended before its kill";
    const Outcome after = Read(s);

    // A group and its version record share one transaction, or neither is there.
    for (const auto& [transaction, lines] : after.trail.byTransaction) {
      ASSERT_EQ(lines.size(), 2u) << "transaction " << transaction;
      const std::string version = lines[0].substr(0, lines[0].find('/'));
      EXPECT_EQ(lines[1], "VERSAO " + version) << "transaction " << transaction;
    }
    // No group twice; the database records the last package with a committed group.
    EXPECT_EQ(std::set<std::string>(after.trail.groups.begin(), after.trail.groups.end()).size(),
              after.trail.groups.size());
    const std::string last =
        after.trail.groups.empty() ? "3.16.50" : after.trail.groups.back().substr(0, 7);
    EXPECT_EQ(after.recorded, last);
    // The run went on after the last package a group of which was committed.
    if (after.trail.groups.size() > before.trail.groups.size()) {
      const std::string first = after.trail.groups[before.trail.groups.size()];
      EXPECT_EQ(first.substr(0, 7), versions::ProximaVersao(before.recorded));
      EXPECT_EQ(first.substr(8), "1");
    }
    std::string left;
    if (!after.trail.groups.empty()) {
      const int groupsDone = std::stoi(after.trail.groups.back().substr(8));
      for (int g = groupsDone + 1; g <= kGroups; ++g)
        left += (left.empty() ? "" : ", ") + last + "/" + std::to_string(g);
    }
    report.push_back("kill " + std::to_string(kill) + " after " + std::to_string(killAfter) +
                     " statements: recorded " + after.recorded +
                     (left.empty() ? "" : ", never applied: " + left));
  }
  for (const std::string& line : report) std::printf("%s\n", line.c_str());

  putPackages();
  ASSERT_TRUE(RunStep(s, 0));
  EXPECT_EQ(Read(s).recorded, Version(kPackages));
}

}  // namespace
}  // namespace korva
