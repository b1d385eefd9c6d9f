// Ten 10 MB module packages installed by the module installation in local
// mode with one branch folder, against what the same work costs with the
// usual tools: unzip -o into the application folder, cp to the branch, unzip
// -o there, and sync, with the same packages, in the same run. The site has
// the maker's key, so every package's SHA-256 is checked against its slot.
#include <cstdio>
#include <string>
#include <vector>

#include "common.h"
#include "installer/module_installation.h"
#include "support/firebird_fixture.h"
#include "support/update_site.h"
#include "trust/trust.h"

namespace {

using namespace korva::bench;
using korva::testing::UpdateSite;

constexpr double kGoal = 1.2;
constexpr int kRounds = 3;

}  // namespace

int main() {
  return Guarded("install", [] {
    std::vector<std::string> arguments;
    for (const char* m : kModules)
      arguments.push_back(std::string("--module=") + m + "=E" + m + ".EXE");
    korva::testing::TempDir branchRoot;
    const std::string branch = branchRoot.File("filial");
    Run("mkdir -p '" + branch + "'");
    arguments.push_back("--branch=" + branch);
    const korva::trust::KeyPair maker = korva::trust::GenerateKeyPair();
    arguments.push_back(korva::testing::PublicKeyArgument(maker));
    UpdateSite s(korva::testing::SiteOptions{"EMPRESA", "FDB", arguments}, std::nullopt);

    const std::string stock = s.dir.File("pacotes");
    MakeModulePackages(stock, 3);
    if (!s.Start()) throw std::runtime_error("the updater did not start");
    auto& session = s.principal->Session();
    session.records.clientVersionFilePath = s.Local("cliente.ini");
    for (std::size_t i = 0; i < std::size(kModules); ++i) {
      const std::string executable = std::string("E") + kModules[i] + ".EXE";
      const std::string package = stock + "/" + korva::installer::PackageName(executable);
      session.run.PendingModules[i] = {executable, "9.0.0",
                                       korva::trust::Hex(korva::trust::FileSha256(package)),
                                       std::to_string(korva::testing::ReadBytes(package).size())};
    }
    const std::string reference = s.dir.File("referencia");
    const std::string referenceBranch = s.dir.File("referencia-filial");

    Best best;
    for (int round = 0; round < kRounds; ++round) {
      Run("cp '" + stock + "'/*.zip '" + s.site.applicationFolder + "'/ && rm -rf '" + branch +
          "'/* && sync");
      s.shell = {};
      // As in a run with only modules pending: nothing succeeded before, so
      // local mode sends no report to the update server.
      session.runSucceeded = false;
      const double ours = Seconds([&] { s.principal->AtualizaModulos(); });
      if (!session.runSucceeded || !s.shell.messages.empty())
        throw std::runtime_error("the installation failed");

      Run("rm -rf '" + reference + "' '" + referenceBranch + "' && mkdir -p '" + reference + "' '" +
          referenceBranch + "' && cp '" + stock + "'/*.zip '" + reference + "'/ && sync");
      std::string script;
      for (const char* m : kModules) {
        const std::string package = korva::installer::PackageName(std::string("E") + m + ".EXE");
        script += "unzip -o -q '" + reference + "/" + package + "' -d '" + reference + "' && cp '" +
                  reference + "/" + package + "' '" + referenceBranch + "/' && unzip -o -q '" +
                  referenceBranch + "/" + package + "' -d '" + referenceBranch + "' && ";
      }
      script += "sync";
      best.Add(ours, Seconds([&] { Run(script); }));
    }
    std::printf(
        "bench install: 10 packages of 10 MiB with one branch: AtualizaModulos %.3f s, "
        "unzip/cp/unzip/sync %.3f s\n",
        best.ours, best.reference);
    return Verdict("install", best, kGoal);
  });
}
