// A branch that missed an update is brought level by a later run: the copy
// the operator declined (or that failed) is kept in "FiliaisPendentes.ini",
// offered by the next check and made by the next run, to that branch alone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "settings/profile_file.h"
#include "support/run_site.h"

namespace korva {
namespace {

using namespace testing;

class PendingBranch : public ::testing::TestWithParam<UpdateMode> {
 protected:
  PendingBranch()
      : r("EMPRESA", Local() ? FtpServerKind::Pyftpdlib : GetParam().server, Local(),
          OfferFor("EMPRESA").siteArguments) {
    WriteBytes(r.Branch("EFIN.EXE"), ModuleBytes("EFIN.EXE", "2.1.7"));
  }
  bool Local() const { return !GetParam().server; }
  std::string Pending() const { return ReadBytes(r.s.Local("FiliaisPendentes.ini")); }
  // A new start of the program on the same site, the branch's folder as the
  // test made it, every question answered No.
  void Run(const std::string& catalogue) {
    UpdateSite& s = r.s;
    s.shell = {};
    s.principal = std::make_unique<Principal>(s.form, s.shell, s.clock);
    if (Local()) s.UseLocalMode();
    ASSERT_TRUE(s.Start());
    s.PutCatalogue(catalogue);
    for (int i = 0; i < 4; ++i) s.shell.QueueAnswer(kNo);
    r.ClickThrough();
  }
  // The branch's folder is a plain file: no copy reaches it.
  void BreakBranch() {
    std::filesystem::rename(r.Branch(), r.Branch() + ".guardado");
    WriteBytes(r.Branch(), "");
  }
  void MendBranch() {
    std::filesystem::remove(r.Branch());
    std::filesystem::rename(r.Branch() + ".guardado", r.Branch());
  }
  RunSite r;
};

TEST_P(PendingBranch, ADeclinedCopyIsOwedAndTheNextRunMakesIt) {
  UpdateSite& s = r.s;
  const Offer offer = OfferFor("EMPRESA");
  const std::string catalogue = offer.catalogue;
  const std::string branch = r.Branch();
  s.PutModulePackage("EFIN.EXE", "2.2.0");
  s.PutModulePackage("EVEI.EXE", "1.0.0");
  for (const auto& [name, bytes] : offer.packages) s.PutUpdateFile(name, bytes);

  BreakBranch();
  Run(catalogue);
  // The run ends as its last module decides; the branch is owed both modules.
  EXPECT_EQ(s.shell.messages.back(), kSuccess);
  EXPECT_EQ(Pending(), "[" + branch + "]\r\nefin.zip=2.2.0\r\nevei.zip=1.0.0\r\n");
  MendBranch();

  // Declined again: still owed. The check offers each copy as pending.
  BreakBranch();
  if (Local()) {
    s.PutModulePackage("EFIN.EXE", "2.2.0");
    s.PutModulePackage("EVEI.EXE", "1.0.0");
  }
  Run(catalogue);
  EXPECT_THAT(s.Nodes(), ElementsAre("FILIAL " + branch + " - MÓDULO FIN - Cópia pendente",
                                     "FILIAL " + branch + " - MÓDULO VEI - Cópia pendente"));
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))),
              Contains("NÃO FOI POSSÍVEL copiar efin.zip para " + branch));
  EXPECT_EQ(Pending(), "[" + branch + "]\r\nefin.zip=2.2.0\r\nevei.zip=1.0.0\r\n");
  MendBranch();

  // Local mode without the package there: kept, with its line.
  if (Local()) {
    std::filesystem::remove(s.App("evei.zip"));
  }
  const auto appBefore = ReadBytes(s.App("EFIN.EXE"));
  Run(catalogue);
  EXPECT_EQ(s.shell.messages, std::vector<Message>{kSuccess});
  EXPECT_EQ(ReadBytes(r.Branch("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
  EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), appBefore);
  EXPECT_EQ(r.Column("VERSAO_FIN"), "2.2.0");
  const auto log = LinesOf(ReadBytes(s.Local("LogUpdate.txt")));
  EXPECT_THAT(log, Contains("Cópia pendente de efin.zip para " + branch + " concluída"));
  if (Local()) {
    EXPECT_THAT(log, Contains("NÃO FOI POSSÍVEL copiar evei.zip para " + branch));
    EXPECT_EQ(Pending(), "[" + branch + "]\r\nevei.zip=1.0.0\r\n");
    EXPECT_TRUE(std::filesystem::exists(s.App("efin.zip")));  // the operator's, left where it lay
  } else {
    EXPECT_EQ(ReadBytes(r.Branch("EVEI.EXE")), ModuleBytes("EVEI.EXE", "1.0.0"));
    EXPECT_FALSE(std::filesystem::exists(s.Local("FiliaisPendentes.ini")));
    EXPECT_FALSE(std::filesystem::exists(s.App("efin.zip")));
  }

  // A branch configured no more owes nothing: its entries go, with a line.
  settings::ProfileFile(s.Local("KORVA.INI")).WriteString("UPDATE", "FILIAL1", "");
  WriteBytes(s.Local("FiliaisPendentes.ini"), "[\\\\ANTIGA\\KORVA]\r\nefin.zip=2.2.0\r\n");
  Run(catalogue);
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))),
              Contains("Cópia pendente de efin.zip para \\\\ANTIGA\\KORVA descartada: "
                       "filial não configurada"));
  EXPECT_THAT(s.Nodes(), ElementsAre("Nenhuma atualização disponível no momento."));
  EXPECT_FALSE(std::filesystem::exists(s.Local("FiliaisPendentes.ini")));
}

INSTANTIATE_TEST_SUITE_P(Modes, PendingBranch,
                         ::testing::Values(UpdateMode{"EMPRESA", FtpServerKind::Pyftpdlib},
                                           UpdateMode{"EMPRESA", std::nullopt}),
                         testing::ModeName);

}  // namespace
}  // namespace korva
