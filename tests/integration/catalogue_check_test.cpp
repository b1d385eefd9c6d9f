// "&Procurar por novas atualizações" on real sites of both editions, in both
// modes, against pyftpdlib and vsftpd: the list, the run data, the client
// version report, what the server saw, and every way the check can stop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "catalogue/module_registry.h"
#include "support/firebird_fixture.h"
#include "support/update_site.h"
#include "text/error.h"
#include "trust/trust.h"

namespace korva {
namespace {

using namespace testing;

using Mode = testing::UpdateMode;

// What each edition's site offers in the full case, and what the check must
// make of it.
struct Expected {
  std::string catalogue;
  std::vector<std::string> nodes;
  std::vector<std::pair<std::size_t, catalogue::PendingModule>> slots;  // index, content
  std::vector<std::pair<std::string, std::string>> report;              // section, versao
  bool usersPending, mainPending;
};

Expected Full(bool empresa) {
  if (empresa) {
    return {CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.3\n"
                 "[BANCO_KORVA]\nÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n"
                 "[EEST.EXE]\nÚltimaVersão=2.0.3\n[EVEI.EXE]\nÚltimaVersão=1.0.0\n"),
            {"BANCO DE DADOS USUÁRIOS - Atualizar para versão 1.4.3",
             "BANCO DE DADOS KORVA - Atualizar para versão 3.16.51",
             "MÓDULO FIN - Atualizar para versão 2.2.0", "MÓDULO VEI - Reinstalação"},
            {{0, {"EFIN.EXE", "2.2.0"}}, {3, {"EVEI.EXE", "1.0.0"}}},
            {{"BDUSUARIO", "1.4.2"},
             {"BDKORVA", "3.16.50"},
             {"EFIN", "2.2.0"},
             {"EEST", "2.0.3"},
             {"EVEI", "1.0.0"},
             {"EADM", "<none>"}},
            true,
            true};
  }
  // FIN reads VERSAO_CXA (4.0.2); ADM is missing and has no section: a
  // reinstallation with no target version.
  return {CrLf("[CARTORIO]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n"
               "[BANCO_CARTÓRIO]\nÚltimaVersão=2.5.11\n[CNAS.EXE]\nÚltimaVersão=4.0.1\n"
               "[CFIN.EXE]\nÚltimaVersão=4.0.3\n"),
          {"BANCO DE DADOS CARTÓRIO - Atualizar para versão 2.5.11",
           "MÓDULO FIN - Atualizar para versão 4.0.3", "MÓDULO ADM - Reinstalação"},
          {{1, {"CFIN.EXE", "4.0.3"}}, {2, {"CADM.EXE", ""}}},
          {{"BDUSUARIO", "1.4.2"},
           {"BDCARTORIO", "2.5.10"},
           {"CNAS", "4.0.1"},
           {"CFIN", "4.0.3"},
           {"CADM", ""}},
          false,
          true};
}

class CatalogueCheck : public ::testing::TestWithParam<Mode> {
 protected:
  CatalogueCheck() : s(SiteOptions{GetParam().edition}, GetParam().server) {}
  bool Internet() const { return GetParam().server.has_value(); }
  UpdateSite s;
};

TEST_P(CatalogueCheck, FillsTheListTheRunDataAndTheReport) {
  const Expected want = Full(s.Empresa());
  s.PutCatalogue(want.catalogue);
  for (const char* module : {"EFIN.EXE", "EEST.EXE", "EADM.EXE", "CNAS.EXE", "CFIN.EXE"})
    s.PutModule(module);
  // The server's copy of the report is where the local one starts from.
  if (Internet() && s.Empresa()) s.PutClientFileOnServer(CrLf("[OUTRO]\nversao=9\n"));
  ASSERT_TRUE(s.Start());
  if (s.server) s.server->ForgetCommands();
  s.principal->BtBtnNovasAtualizacoesClick();

  EXPECT_TRUE(s.shell.messages.empty());
  EXPECT_EQ(s.form.ActivePage(), &s.form.TbShtVerificaAtualizacoes);
  EXPECT_TRUE(s.form.PnlDownload.Visible());
  EXPECT_THAT(s.Nodes(), ElementsAreArray(want.nodes));
  const catalogue::RunData& run = s.principal->Session().run;
  EXPECT_EQ(run.usersUpdatePending, want.usersPending);
  EXPECT_EQ(run.mainUpdatePending, want.mainPending);
  EXPECT_EQ(run.latestUsersVersion, s.Empresa() ? "1.4.3" : "1.4.2");
  EXPECT_EQ(run.latestMainVersion, s.Empresa() ? "3.16.51" : "2.5.11");
  std::array<catalogue::PendingModule, catalogue::kPendingModuleSlots> slots{};
  for (const auto& [index, slot] : want.slots) slots[index] = slot;
  EXPECT_EQ(run.PendingModules, slots);
  for (const auto& [section, version] : want.report)
    EXPECT_EQ(s.ClientVersion(section), version) << section;
  for (form::TextControl* b :
       {&s.form.BtbtnIniciarAtualizacao, &s.form.BtBtImpimirAtualizacao, &s.form.BtBtnGravar})
    EXPECT_TRUE(b->Enabled()) << b->Name();

  using Image = form::StepIndicator::Image;
  if (!Internet()) {
    // Nothing fetched: the panel keeps what the reset showed.
    EXPECT_EQ(s.form.TBtnVerificando.CurrentImage(), Image::None);
    return;
  }
  EXPECT_EQ(s.ClientVersion("OUTRO"), s.Empresa() ? "9" : "<none>");
  EXPECT_EQ(s.form.STxtKBPS.Text(), "Verificação concluída.");
  for (auto* step : {&s.form.TBtnConectando, &s.form.TBtnVerificando, &s.form.TBtnDesconectando})
    EXPECT_EQ(step->CurrentImage(), Image::Done) << step->Name();
  const std::string data = *GetParam().server == FtpServerKind::Vsftpd ? "PASV" : "PORT 127,0,0,1,";
  std::vector<std::string> commands = {"USER korva",
                                       "PASS ******",
                                       "TYPE I",
                                       "SYST",
                                       "CWD " + s.ServerFolder(),
                                       "SIZE " + s.CatalogueName(),
                                       data,
                                       "RETR " + s.CatalogueName(),
                                       "CWD /httpdocs/versao_cliente",
                                       "SIZE 12345678000190.ini"};
  if (s.Empresa()) {
    commands.push_back(data);
    commands.push_back("RETR 12345678000190.ini");
  }
  EXPECT_THAT(s.server->CommandsWithoutPortAddress(), ElementsAreArray(commands));
}

TEST_P(CatalogueCheck, AnAllCurrentCatalogueOffersNothing) {
  s.PutCatalogue(CrLf("[" + s.Edition() + "]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n" +
                      (s.Empresa() ? "[BANCO_KORVA]\nÚltimaVersão=3.16.50\n[EEST.EXE]\n"
                                     "ÚltimaVersão=2.0.3\n"
                                   : "[BANCO_CARTÓRIO]\nÚltimaVersão=2.5.10\n[CNAS.EXE]\n"
                                     "ÚltimaVersão=4.0.1\n")));
  for (const char* module :
       {"EFIN.EXE", "EEST.EXE", "EADM.EXE", "EVEI.EXE", "CNAS.EXE", "CFIN.EXE", "CADM.EXE"})
    s.PutModule(module);
  ASSERT_TRUE(s.Start());
  s.principal->Session().run.usersUpdatePending = true;  // from an earlier check
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_THAT(s.Nodes(), ElementsAre("Nenhuma atualização disponível no momento."));
  EXPECT_FALSE(s.principal->Session().run.usersUpdatePending);
  EXPECT_FALSE(s.principal->Session().run.mainUpdatePending);
  EXPECT_FALSE(s.form.BtbtnIniciarAtualizacao.Enabled());
  EXPECT_FALSE(s.form.BtBtnGravar.Enabled());
  EXPECT_TRUE(s.shell.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(EditionsAndModes, CatalogueCheck,
                         ::testing::Values(Mode{"EMPRESA", FtpServerKind::Pyftpdlib},
                                           Mode{"EMPRESA", FtpServerKind::Vsftpd},
                                           Mode{"CARTORIO", FtpServerKind::Pyftpdlib},
                                           Mode{"CARTORIO", std::nullopt}),
                         testing::ModeName);

const Message kUnavailablePrefix{"KORVA",
                                 "Servidor de atualizações não disponível no momento.\r"
                                 "Verifique sua conexão com a internet ou tente mais tarde.\r\r"
                                 "Mensagem recebida:\r",
                                 MsgIcon::Warning, kOk, kOk};

// Each way the check ends the program: the operator's message, the session
// closed, nothing more done.
TEST(CatalogueCheckStops, RejectedCataloguesGateAndServerFailures) {
  UpdateSite s(SiteOptions{"EMPRESA", "FDB", {"--main-version=3.16.47"}}, FtpServerKind::Pyftpdlib);
  ASSERT_TRUE(s.Start());
  s.PutCatalogue(CrLf("[EMPRESA]\nID=KORVA\n"));
  s.server->ForgetCommands();
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_EQ(s.shell.messages,
            (std::vector<Message>{{"KORVA",
                                   "Esta versão do KORVA Update deve ser utilizada\r"
                                   "somente por clientes que já estão utilizando o PAF-ECF 2012.",
                                   MsgIcon::Warning, kOk, kOk}}));
  EXPECT_EQ(s.shell.endRequests, 1);
  EXPECT_THAT(s.server->Commands(), ElementsAre("USER korva", "PASS ******", "TYPE I", "SYST",
                                                "CWD /httpdocs/empresa_2012"));
  EXPECT_FALSE(s.principal->IdFTPKorva().IsConnected());

  // Past the baseline from here on.
  s.principal->Session().baselineReached = true;
  s.form.TVAtualizacoes.SetNodes({{"lista anterior", {}}});
  s.form.ChkLBxLog.Add("linha anterior");
  for (const char* id : {"korva", ""}) {
    s.shell = {};
    s.PutCatalogue(CrLf(std::string("[EMPRESA]\nID=") + id + "\n"));
    s.principal->BtBtnNovasAtualizacoesClick();
    EXPECT_EQ(s.shell.messages, (std::vector<Message>{{"KORVA - Atualizações",
                                                       "O arquivo de atualização não é válido.",
                                                       MsgIcon::Warning, kOk, kOk}}));
    EXPECT_EQ(s.shell.endRequests, 1);
    EXPECT_THAT(s.Nodes(), ElementsAre("lista anterior"));
    EXPECT_EQ(s.form.ChkLBxLog.Count(), 1);
  }

  // A folder the server refuses: the session's own text after the fixed one.
  s.shell = {};
  std::filesystem::remove_all(s.server->Path("/httpdocs/empresa_2012"));
  s.principal->BtBtnNovasAtualizacoesClick();
  ASSERT_EQ(s.shell.messages.size(), 1u);
  const Message& shown = s.shell.messages[0];
  EXPECT_EQ(shown.caption, kUnavailablePrefix.caption);
  EXPECT_EQ(shown.icon, MsgIcon::Warning);
  EXPECT_EQ(shown.text.rfind(kUnavailablePrefix.text, 0), 0u) << shown.text;
  EXPECT_GT(shown.text.size(), kUnavailablePrefix.text.size());
  EXPECT_EQ(s.shell.endRequests, 1);
  EXPECT_FALSE(s.principal->IdFTPKorva().IsConnected());

  // No server at all.
  s.shell = {};
  s.server.reset();
  s.principal->BtBtnNovasAtualizacoesClick();
  ASSERT_EQ(s.shell.messages.size(), 1u);
  EXPECT_EQ(s.shell.messages[0].text, kUnavailablePrefix.text +
                                          "Socket Error # 111\r\n"
                                          "Connection refused.");
}

TEST(CatalogueCheckStops, LocalModeWithoutACatalogueAndAUsersDatabaseWithoutVersions) {
  UpdateSite s(SiteOptions{"CARTORIO"}, std::nullopt);
  ASSERT_TRUE(s.Start());
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_EQ(s.shell.messages,
            (std::vector<Message>{{"KORVA - Atualizações",
                                   "O arquivo de atualização de banco de dados não é válido.",
                                   MsgIcon::Warning, kOk, kOk}}));
  EXPECT_EQ(s.shell.endRequests, 1);

  // A users database without its version table stands at 2.2.0.
  s.principal->SQLConnectionUSUARIO().Close();
  testing::Isql(s.site.usersDatabase, "DROP TABLE VERSAOBD;\nCOMMIT;");
  s.shell = {};
  s.PutCatalogue(CrLf("[CARTORIO]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=2.2.1\n"));
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_TRUE(s.shell.messages.empty());
  EXPECT_EQ(s.Nodes().front(), "BANCO DE DADOS USUÁRIOS - Atualizar para versão 2.2.1");
  EXPECT_EQ(s.ClientVersion("BDUSUARIO"), "2.2.0");
}

TEST(CatalogueCheckPruning, OldScriptSectionsGoOnTheFirstCheckOnlyAndTheFirstSectionStays) {
  UpdateSite s(SiteOptions{"EMPRESA"}, std::nullopt);  // recorded main version 3.16.50
  ASSERT_TRUE(s.Start());
  s.PutCatalogue(CrLf("[EMPRESA]\nID=KORVA\n"));
  const std::string script = s.Local("scriptEMPRESA.ini");
  testing::WriteBytes(script, CrLf("[3.10.1]\nS1_1=a\n[3.16.49]\nS1_1=b\n[3.16.50]\nS1_1=c\n"
                                   "[3.15.60]\nS1_1=d\n[3.9.1]\nS1_1=e\n"));
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_EQ(testing::ReadBytes(script),
            CrLf("[3.10.1]\nS1_1=a\n\n[3.16.50]\nS1_1=c\n\n[3.15.60]\nS1_1=d\n\n"));
  // One pass erased, the next found nothing.
  EXPECT_EQ(s.principal->Session().run.pruningPasses, 2);

  const std::string again = CrLf("[3.10.1]\nS1_1=a\n[3.1.1]\nS1_1=old\n");
  testing::WriteBytes(script, again);
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_EQ(testing::ReadBytes(script), again);
}

TEST(CatalogueCheckCapacity, AModulePastTheLastSlotIsNamedNotDropped) {
  std::vector<std::string> arguments;
  for (int i = 1; i <= 20; ++i) {
    const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
    arguments.push_back("--module=M" + n + "=M" + n + ".EXE");
  }
  UpdateSite s(SiteOptions{"EMPRESA", "FDB", arguments}, std::nullopt);
  ASSERT_TRUE(s.Start());
  s.PutCatalogue(CrLf("[EMPRESA]\nID=KORVA\n"));
  s.principal->BtBtnNovasAtualizacoesClick();
  // Twenty missing modules fill the slots; VEI would be the twenty-first.
  EXPECT_EQ(s.Nodes().size(), 20u);
  EXPECT_EQ(s.principal->Session().run.PendingModules[19].executable, "M20.EXE");
  ASSERT_EQ(s.shell.messages.size(), 1u);
  EXPECT_EQ(s.shell.messages[0].caption, "KORVA - Atualizações");
  EXPECT_NE(s.shell.messages[0].text.find("MÓDULO VEI\r"), std::string::npos);
  EXPECT_EQ(s.ClientVersion("EVEI"), "");
}

// Names from outside that would lead out of their folder, with and without
// the maker's key: executables of MODULO and a client identifier that is no
// bare file name. Each is left out with its log line; the check goes on.
TEST(CatalogueCheckNames, NamesThatLeaveTheirFolderAreLeftOut) {
  for (const bool keyed : {false, true}) {
    SCOPED_TRACE(keyed);
    const trust::KeyPair maker = trust::GenerateKeyPair();
    std::vector<std::string> arguments{"--module=X=..\\..\\X.EXE", "--module=Y=../../Y.EXE",
                                       "--module=FIN=EFIN.EXE", "--client-id=12.345.678/0001-90"};
    if (keyed) {
      arguments.push_back(PublicKeyArgument(maker));
    }
    UpdateSite s(SiteOptions{"EMPRESA", "FDB", arguments}, FtpServerKind::Pyftpdlib);
    ASSERT_TRUE(s.Start());
    const std::string catalogue = CrLf(
        "[EMPRESA]\nID=KORVA\nSERIE=1\n[..\\..\\X.EXE]\nÚltimaVersão=9.9.9\n"
        "[../../Y.EXE]\nÚltimaVersão=9.9.9\n");
    if (keyed) {
      s.PutSigned(maker, trust::Domain::Catalogue, s.CatalogueName(), catalogue);
    } else {
      s.PutCatalogue(catalogue);
    }
    s.principal->BtBtnNovasAtualizacoesClick();
    EXPECT_THAT(s.Nodes(), ElementsAre("MÓDULO FIN - Reinstalação", "MÓDULO VEI - Reinstalação"));
    for (const catalogue::PendingModule& slot : s.principal->Session().run.PendingModules) {
      EXPECT_EQ(slot.executable.find(".."), std::string::npos) << slot.executable;
    }
    EXPECT_EQ(ReadBytes(s.Local("LogUpdate.txt")),
              "Arquivo 12.345.678/0001-90.ini recusado: nome inválido\r\n"
              "Arquivo ..\\..\\X.EXE recusado: nome inválido\r\n"
              "Arquivo ../../Y.EXE recusado: nome inválido\r\n");
    // The client's version file was neither fetched nor written.
    EXPECT_FALSE(std::filesystem::exists(s.Local("12.345.678")));
    for (const std::string& command : s.server->Commands())
      EXPECT_EQ(command.find("0001-90"), std::string::npos) << command;
    EXPECT_TRUE(s.shell.messages.empty());
  }
}

TEST(ModuleRegistry, LabelAndPackageLookupsOfBothEditions) {
  UpdateSite empresa(SiteOptions{"EMPRESA"}, std::nullopt);
  ASSERT_TRUE(empresa.Start());
  const dbupdate::VersionRow& row = empresa.principal->MainVersionRow();
  const auto lookup = [&](const char* label, const char* executable) {
    const catalogue::ModuleLookup found =
        catalogue::LookupByLabel(versions::Edition::Empresa, label, executable, row);
    return found.executable + "|" + found.installedVersion;
  };
  EXPECT_EQ(lookup("FIN", "X.EXE"), "EFIN.EXE|2.1.7");
  EXPECT_EQ(lookup("fin", "X.EXE"), "X.EXE|");          // labels compare with case
  EXPECT_EQ(lookup("PRD", "X.EXE"), "EPRD.EXE|3.2.1");  // the padded column, trimmed
  EXPECT_EQ(lookup("VEI", "X.EXE"), "EVEI.EXE|");       // null reads as empty

  const std::pair<const char*, const char*> packages[] = {
      {"efin.zip", "VERSAO_FIN"}, {"EPRD.ZIP", "VERSAO_PRD"}, {"cfin.zip", ""}};
  for (const auto& [package, column] : packages)
    EXPECT_EQ(catalogue::LookupByPackage(versions::Edition::Empresa, package).value_or(""), column)
        << package;
  for (const char* package : {"ccxa.zip", "cfin.zip"})
    EXPECT_EQ(catalogue::LookupByPackage(versions::Edition::Cartorio, package), "VERSAO_CXA")
        << package;
  EXPECT_FALSE(catalogue::LookupByPackage(versions::Edition::Cartorio, "efin.zip"));
}

}  // namespace
}  // namespace korva
