// The whole update run on real sites: from "&Procurar por novas atualizações"
// through the backup page and "&Continuar" to "Atualizações efetuadas com
// sucesso", in both editions and both modes; the warnings before the database
// steps; and every way the module installation can end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "installer/module_installation.h"
#include "support/firebird_fixture.h"
#include "support/run_site.h"
#include "support/update_site.h"
#include "text/cp1252.h"
#include "text/strings.h"
#include "trust/trust.h"

namespace korva {
namespace {

using namespace testing;

class CompleteRun : public ::testing::TestWithParam<UpdateMode> {};

TEST_P(CompleteRun, FromTheCheckToTheSuccessMessage) {
  const Offer offer = OfferFor(GetParam().edition);
  // Local mode still reports the client's versions to the update server.
  const bool local = !GetParam().server;
  RunSite r(GetParam().edition, local ? FtpServerKind::Pyftpdlib : GetParam().server, local,
            offer.siteArguments);
  UpdateSite& s = r.s;
  s.PutCatalogue(offer.catalogue);
  for (const auto& [name, bytes] : offer.packages) s.PutUpdateFile(name, bytes);
  for (const Module& m : offer.modules) s.PutModulePackage(m.executable, m.target);
  testing::WriteBytes(r.Branch(offer.modules[0].executable),
                      ModuleBytes(offer.modules[0].executable, offer.modules[0].installed));
  ASSERT_TRUE(s.Start());
  r.ClickThrough();

  EXPECT_EQ(s.shell.messages, std::vector<Message>{kSuccess});
  EXPECT_EQ(s.shell.closeRequests, 1);
  EXPECT_EQ(s.shell.endRequests, 0);
  EXPECT_FALSE(s.form.BtBtnAbortar.Enabled());
  EXPECT_EQ(IsqlValue(s.site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"),
            offer.usersVersion);
  EXPECT_EQ(r.Column("VERSAOBANCO"), offer.mainVersion);
  for (const auto& [column, version] : offer.columns) EXPECT_EQ(r.Column(column), version);

  std::vector<std::string> log;
  for (const Module& m : offer.modules) {
    const std::string package = installer::PackageName(m.executable);
    EXPECT_EQ(ReadBytes(s.App(m.executable)), ModuleBytes(m.executable, m.target));
    const std::string old = s.App(m.executable.substr(0, m.executable.size() - 3) + "Old");
    EXPECT_EQ(std::filesystem::exists(old), !m.installed.empty()) << old;
    EXPECT_FALSE(std::filesystem::exists(s.App(package))) << package;
    EXPECT_EQ(ReadBytes(r.Branch(m.executable)), ModuleBytes(m.executable, m.target));
    const auto lines = RecordedModuleLog(package, s.site.applicationFolder, !local);
    log.insert(log.end(), lines.begin(), lines.end());
  }
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))), ElementsAreArray(log));
  EXPECT_THAT(s.form.ChkLstBxEmpresas.Items(),
              ElementsAre(form::CheckList::Item{"Local    [OK]", true},
                          form::CheckList::Item{"Filial 1   [OK]", true}));
  // The report reached the server with the builds installed.
  const std::string report =
      s.server->GetFile(std::string("/httpdocs/versao_cliente/") + UpdateSite::kClientId + ".ini");
  for (const Module& m : offer.modules) {
    const std::string section = m.executable.substr(0, m.executable.find('.'));
    EXPECT_NE(report.find("[" + section + "]\r\nversao=" + m.target + "\r\n"), std::string::npos)
        << report;
  }

  // A second start finds nothing pending.
  s.shell = {};
  s.principal = std::make_unique<Principal>(s.form, s.shell, s.clock);
  if (local) s.UseLocalMode();
  ASSERT_TRUE(s.Start());
  s.PutCatalogue(offer.catalogue);
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_THAT(s.Nodes(), ElementsAre("Nenhuma atualização disponível no momento."));
}

INSTANTIATE_TEST_SUITE_P(EditionsAndModes, CompleteRun,
                         ::testing::Values(UpdateMode{"EMPRESA", FtpServerKind::Pyftpdlib},
                                           UpdateMode{"EMPRESA", std::nullopt},
                                           UpdateMode{"CARTORIO", FtpServerKind::Vsftpd},
                                           UpdateMode{"CARTORIO", std::nullopt}),
                         testing::ModeName);

// The questions before the database steps, by edition, pending databases,
// the connections figure and the time of day.
struct Warning {
  const char* edition;
  bool users, main;
  const char* figure;
  int hour, minute, second;
  std::vector<MsgButton> preselected;  // one per question, in order
};

Message ActiveConnections(const std::string& figure, MsgButton preselected) {
  return {"KORVA",
          "ATENÇÃO!\rExistem " + figure +
              " conexões ativas.\rAs atualizações de banco de dados talvez não possam ser "
              "realizadas.\rTem certeza que deseja continuar assim mesmo?",
          MsgIcon::Question, kYes | kNo, preselected};
}
const Message kWorkingHours{
    "KORVA",
    "ATENÇÃO!\r\rÉ ALTAMENTE RECOMENDADO que atualizãções de banco de dados\r"
    "sejam efetuadas após o encerramento do expediente da empresa.\r\r"
    "As atualizações de banco de dados quando iniciadas devem ser concluídas sem erros.\r"
    "Caso contrário o funcionamento do sistema KORVA poderá ser comprometido.\r\r"
    "Tem certeza que deseja continuar assim mesmo?",
    MsgIcon::Question, kYes | kNo, kNo};

TEST(UpdateRunWarnings, QuestionsBeforeTheDatabaseStepsAndNoMeansNothingIsTouched) {
  const Warning warnings[] = {
      {"EMPRESA", true, true, "2", 16, 59, 59, {kNo, kNo}},
      {"EMPRESA", true, false, "2", 17, 0, 0, {kNo}},
      {"EMPRESA", false, true, "2", 9, 0, 0, {kYes}},
      {"EMPRESA", true, false, "?", 18, 0, 0, {kNo}},  // a count that failed is not "nobody"
      {"CARTORIO", true, true, "2", 9, 0, 0, {kYes}},
      {"CARTORIO", false, true, "1", 9, 0, 0, {kYes}},
  };
  std::map<std::string, std::unique_ptr<RunSite>> sites;
  for (const Warning& w : warnings) {
    auto& site = sites[w.edition];
    if (!site) {
      site = std::make_unique<RunSite>(w.edition, std::nullopt, true, std::vector<std::string>{});
      ASSERT_TRUE(site->s.Start());
    }
    UpdateSite& s = site->s;
    s.shell = {};
    s.principal->Session().run.usersUpdatePending = w.users;
    s.principal->Session().run.mainUpdatePending = w.main;
    s.principal->BtbtnIniciarAtualizacaoClick();
    ASSERT_EQ(s.form.ActivePage(), &s.form.TbShtBackup);
    EXPECT_FALSE(s.form.BtBtnContinuar.Enabled());
    EXPECT_EQ(s.form.StTxtNumUsers.Text(), "0");  // only the updater is attached
    s.form.StTxtNumUsers.SetText(w.figure);
    s.form.RGBackup.SetItemIndex(0);
    EXPECT_TRUE(s.form.BtBtnContinuar.Enabled());
    s.clock.now.hour = w.hour, s.clock.now.minute = w.minute, s.clock.now.second = w.second;
    // Yes to every question but the last.
    for (std::size_t i = 0; i + 1 < w.preselected.size(); ++i) s.shell.QueueAnswer(kYes);
    s.shell.QueueAnswer(kNo);
    s.principal->BtBtnContinuarClick();

    std::vector<Message> expected = {ActiveConnections(w.figure, w.preselected[0])};
    if (w.preselected.size() > 1) expected.push_back(kWorkingHours);
    EXPECT_EQ(s.shell.messages, expected) << w.edition << " " << w.figure;
    EXPECT_EQ(s.form.ActivePage(), &s.form.TbShtBackup);
    EXPECT_TRUE(s.form.BtBtnContinuar.Enabled());
    EXPECT_EQ(s.form.ChkLBxLog.Count(), 0);
  }
  for (const auto& [edition, site] : sites) {
    EXPECT_EQ(site->Column("VERSAOBANCO"), edition == "EMPRESA" ? "3.16.50" : "2.5.10");
  }
  // "Sim" then "Não" takes "&Continuar" away again.
  UpdateSite& s = sites["EMPRESA"]->s;
  s.form.RGBackup.SetItemIndex(1);
  EXPECT_FALSE(s.form.BtBtnContinuar.Enabled());
}

// One module installation on a site with two modules pending, and what the
// operator, the folder, the database and the log are left with.
struct ModuleCase {
  const char* name;
  std::function<void(RunSite&)> arrange;
  std::vector<std::string> messages;  // texts, in order
  int closes;
  int ends;
  bool succeeded;
  std::function<void(RunSite&)> check = [](RunSite&) {};
};

TEST(ModuleInstallation, EveryWayASlotOrTheRunEnds) {
  const std::string download = "Problemas na localização ou leitura do arquivo ";
  const std::string lastFailed =
      "Erro no Download do arquivo. Por Favor entre em contato com o "
      "suporte.\rVESTRAMON Sistemas - Suporte: (11) 3456-7890";
  const auto slots = [](RunSite& r, std::vector<catalogue::PendingModule> modules) {
    auto& pending = r.s.principal->Session().run.PendingModules;
    pending = {};
    for (std::size_t i = 0; i < modules.size(); ++i) pending[i * 2] = modules[i];
  };
  const catalogue::PendingModule fin{"EFIN.EXE", "2.2.0"}, est{"EEST.EXE", "2.0.4"};
  const std::vector<ModuleCase> cases = {
      {"all slots free", [&](RunSite& r) { slots(r, {}); }, {}, 0, 0, true},
      {"a package of size 0",
       [&](RunSite& r) {
         slots(r, {fin});
         r.s.server->PutFile(r.s.ServerFolder() + "/efin.zip", "");
       },
       {"Não foi encontrado o aquivo EFIN.EXE para download.\rContate o suporte da Vestramon.",
        lastFailed},
       1,
       0,
       false},
      {"first fails, second installs",
       [&](RunSite& r) {
         slots(r, {fin, est});
         r.s.PutModulePackage("EEST.EXE", "2.0.4");
       },
       {download + "efin.zip, tente novamente!\rCaso o problema persista entre em contato com o "
                   "Suporte Vestramon."},
       0,
       0,
       true,
       [](RunSite& r) {
         EXPECT_EQ(ReadBytes(r.s.App("EEST.EXE")), ModuleBytes("EEST.EXE", "2.0.4"));
         EXPECT_EQ(r.Column("VERSAO_EST"), "2.0.4");
       }},
      {"first installs, second fails",
       [&](RunSite& r) {
         slots(r, {fin, est});
         r.s.PutModulePackage("EFIN.EXE", "2.2.0");
       },
       {download + "eest.zip, tente novamente!\rCaso o problema persista entre em contato com o "
                   "Suporte Vestramon.",
        lastFailed},
       1,
       0,
       false},
      {"a build other than the catalogue's",
       [&](RunSite& r) {
         slots(r, {fin});
         r.s.PutModulePackage("EFIN.EXE", "2.2.1");
       },
       {},
       0,
       0,
       true,
       [](RunSite& r) {
         EXPECT_EQ(ReadBytes(r.s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.1"));
         EXPECT_EQ(r.Column("VERSAO_FIN"), "2.1.7");  // not recorded: offered again
         EXPECT_EQ(r.s.ClientVersion("EFIN"), "2.2.1");
         EXPECT_FALSE(r.s.form.ChkLBxLog.Items().back().checked);
       }},
      {"a package without the module's executable",
       [&](RunSite& r) {
         slots(r, {fin});
         testing::WriteBytes(r.s.dir.File("LEIAME.TXT"), "x");
         r.s.server->PutFile(r.s.ServerFolder() + "/efin.zip",
                             ReadBytes(r.s.dir.File("vazio.zip")));
       },
       {"Falha na descompactação do arquivo em\r<app>\rEntre em contato com o Suporte "
        "Vestramon.",
        lastFailed},
       1,
       0,
       false},
      {"abort pressed before the installation",
       [&](RunSite& r) {
         slots(r, {fin});
         r.s.PutModulePackage("EFIN.EXE", "2.2.0");
         r.s.principal->BtBtnAbortarClick();
       },
       {"Transferência abortada pelo usuário."},
       1,
       0,
       false},
      {"a version record the database refuses",
       [&](RunSite& r) {
         slots(r, {fin, est});
         r.s.PutModulePackage("EFIN.EXE", "2.2.0");
         r.s.PutModulePackage("EEST.EXE", "2.0.4");
         testing::Isql(r.s.site.mainDatabase,
                       "CREATE EXCEPTION E_RECUSA 'recusado';\nCOMMIT;\nSET TERM ^;\n"
                       "CREATE TRIGGER RECUSA FOR VERSAOBD BEFORE UPDATE AS BEGIN\n"
                       "  IF (NEW.VERSAO_FIN = '2.2.0') THEN EXCEPTION E_RECUSA;\nEND^\n"
                       "SET TERM ;^\nCOMMIT;");
       },
       {"Não foi possível atualizar Versões dos Módulos.\rEntre em contato com o suporte da "
        "VESTRAMON."},
       0,
       0,
       false,
       [](RunSite& r) {
         EXPECT_EQ(r.Column("VERSAO_FIN"), "2.1.7");
         EXPECT_EQ(ReadBytes(r.s.App("EEST.EXE")), ModuleBytes("EEST.EXE", "2.0.3"));
         EXPECT_TRUE(r.s.principal->IdFTPKorva().IsConnected());
         EXPECT_NE(ReadBytes(r.s.Local("LogUpdate.txt"))
                       .find("Gravação (CCOMMIT) de versão de efin.zip FALHOU\r\n"),
                   std::string::npos);
         EXPECT_FALSE(r.s.form.BtBtnAbortar.Enabled());
       }},
  };
  for (const ModuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunSite r("EMPRESA", FtpServerKind::Pyftpdlib, false,
              {"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3"});
    // An empty package, made by Info-ZIP.
    std::string out;
    testing::RunCommand({"/bin/sh", "-c",
                         "cd '" + r.s.dir.Path() +
                             "' && zip -q vazio.zip LEIAME.TXT 2>/dev/null || "
                             "(echo x > LEIAME.TXT && zip -q vazio.zip LEIAME.TXT)"},
                        out);
    ASSERT_TRUE(r.s.Start());
    r.s.principal->Session().records.clientVersionFilePath =
        r.s.Local(std::string(UpdateSite::kClientId) + ".ini");
    testing::WriteBytes(r.s.principal->Session().records.clientVersionFilePath,
                        "[BDKORVA]\r\nversao=3.16.50\r\n");
    c.arrange(r);
    r.s.principal->AtualizaModulos();

    std::vector<std::string> texts;
    for (const Message& m : r.s.shell.messages) {
      std::string t = m.text;
      const auto app = t.find(r.s.site.applicationFolder);
      if (app != std::string::npos) t.replace(app, r.s.site.applicationFolder.size(), "<app>");
      texts.push_back(t);
    }
    EXPECT_THAT(texts, ElementsAreArray(c.messages));
    EXPECT_EQ(r.s.shell.closeRequests, c.closes);
    EXPECT_EQ(r.s.shell.endRequests, c.ends);
    EXPECT_EQ(r.s.principal->Session().runSucceeded, c.succeeded);
    c.check(r);
    // Whatever happened, every module has a whole executable and no package
    // is left behind.
    for (const char* module : {"EFIN.EXE", "EEST.EXE"}) {
      const std::string bytes = ReadBytes(r.s.App(module));
      EXPECT_NE(bytes.find("KORVA-BUILDINFO-END\n"), std::string::npos) << module;
    }
    EXPECT_FALSE(std::filesystem::exists(r.s.App("efin.zip")));
    EXPECT_FALSE(std::filesystem::exists(r.s.App("eest.zip")));
  }
}

// The installation's ends that need a server of their own or none.
TEST(ModuleInstallation, NoSizeCommandAbortarDuringADownloadAndAMissingLocalPackage) {
  const auto start = [](RunSite& r, const std::string& build) {
    ASSERT_TRUE(r.s.Start());
    r.s.principal->Session().records.clientVersionFilePath =
        r.s.Local(std::string(UpdateSite::kClientId) + ".ini");
    testing::WriteBytes(r.s.principal->Session().records.clientVersionFilePath,
                        "[BDKORVA]\r\nversao=3.16.50\r\n");
    r.s.principal->Session().run.PendingModules[0] = {"EFIN.EXE", "2.2.0"};
    // Data that does not compress, so the package takes a while to arrive.
    std::mt19937 random(7);
    std::string noise(2 << 20, '\0');
    for (char& ch : noise) ch = static_cast<char>(random());
    r.s.PutModulePackage("EFIN.EXE", build, {{"GRANDE.BIN", noise}});
  };
  {
    SCOPED_TRACE("a server without SIZE: the download is tried all the same");
    RunSite r("EMPRESA", FtpServerKind::Pyftpdlib, false, {"--app-module=EFIN.EXE=2.1.7"},
              {"no-size"});
    start(r, "2.2.0");
    r.s.principal->AtualizaModulos();
    // No size: the progress display cannot size its gauges (-1), so the
    // download fails before any data is stored, as the display requires.
    ASSERT_EQ(r.s.shell.messages.size(), 2u);
    EXPECT_EQ(r.s.shell.messages[0].text.rfind(
                  "Problemas na localização ou leitura do arquivo efin.zip", 0),
              0u);
    EXPECT_EQ(r.s.shell.closeRequests, 1);
    EXPECT_EQ(ReadBytes(r.s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
    EXPECT_NE(
        r.s.server->Commands().end(),
        std::find(r.s.server->Commands().begin(), r.s.server->Commands().end(), "RETR efin.zip"));
  }
  {
    SCOPED_TRACE("\"&Abortar\" during the package's download");
    RunSite r("EMPRESA", FtpServerKind::Pyftpdlib, false, {"--app-module=EFIN.EXE=2.1.7"},
              {"rate=262144"});
    start(r, "2.2.0");
    r.s.shell.onRepaint = [&] {
      if (r.s.form.GgDownModulo.Progress() > 0) r.s.principal->BtBtnAbortarClick();
    };
    r.s.principal->AtualizaModulos();
    r.s.shell.onRepaint = nullptr;
    EXPECT_EQ(r.s.shell.messages, (std::vector<Message>{{"KORVA - Atualizações",
                                                         "Falha na conexão com o servidor KORVA",
                                                         MsgIcon::Warning, kOk, kOk}}));
    EXPECT_EQ(r.s.shell.closeRequests, 1);
    EXPECT_EQ(r.s.shell.endRequests, 1);
    EXPECT_FALSE(r.s.principal->IdFTPKorva().IsConnected());
    // The cut package never touched the module.
    EXPECT_EQ(ReadBytes(r.s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
    EXPECT_FALSE(std::filesystem::exists(r.s.App("EFIN.Old")));
    EXPECT_FALSE(std::filesystem::exists(r.s.App("efin.zip")));
  }
  {
    SCOPED_TRACE("local mode with the package missing");
    RunSite r("EMPRESA", std::nullopt, true, {"--app-module=EFIN.EXE=2.1.7"});
    start(r, "2.2.0");
    std::filesystem::remove(r.s.App("efin.zip"));
    r.s.principal->AtualizaModulos();
    ASSERT_EQ(r.s.shell.messages.size(), 2u);
    EXPECT_EQ(r.s.shell.messages[0].text, "Arquivo não localizado:\r" + r.s.App("efin.zip"));
    EXPECT_EQ(r.s.shell.closeRequests, 1);
    EXPECT_EQ(ReadBytes(r.s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
    EXPECT_THAT(LinesOf(ReadBytes(r.s.Local("LogUpdate.txt"))),
                ElementsAre("Iniciar a descompactação de efin.zip",
                            "NÃO FOI POSSÍVEL descompactar efin.zip"));
    // The download line is marked at once in local mode.
    EXPECT_TRUE(r.s.form.ChkLBxLog.Items()[0].checked);
  }
}

}  // namespace
}  // namespace korva
