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
#include "support/update_site.h"
#include "text/cp1252.h"
#include "text/strings.h"
#include "trust/trust.h"

namespace korva {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const Message kSuccess{"KORVA", "Atualizações efetuadas com sucesso", MsgIcon::Information, kOk,
                       kOk};

struct Module {
  std::string executable, installed, target;
};

// What each edition's site has and is offered in the complete run.
struct Offer {
  std::vector<std::string> siteArguments;
  std::string catalogue;
  std::vector<std::pair<std::string, std::string>> packages;  // script packages
  std::vector<Module> modules;                                // updated or reinstalled
  std::string usersVersion, mainVersion;
  std::vector<std::pair<std::string, std::string>> columns;  // VERSAOBD of the main database
};

Offer OfferFor(const std::string& edition) {
  if (edition == "EMPRESA") {
    return {{"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3",
             "--app-module=EADM.EXE=1.9.12"},
            CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.3\n[BANCO_KORVA]\n"
                 "ÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n[EEST.EXE]\n"
                 "ÚltimaVersão=2.0.3\n[EVEI.EXE]\nÚltimaVersão=1.0.0\n"),
            {{"script_usuario_1_4_3.ini",
              ScriptPackage("1.4.3", {{"CREATE TABLE PERFIL (CODPERFIL INTEGER)"}})},
             {"script_korva_3_16_51.ini",
              ScriptPackage("3.16.51", {{"CREATE TABLE CLIENTE (CODCLIENTE INTEGER)"},
                                        {"INSERT INTO CLIENTE VALUES (1)"}})}},
            {{"EFIN.EXE", "2.1.7", "2.2.0"}, {"EVEI.EXE", "", "1.0.0"}},
            "1.4.3",
            "3.16.51",
            {{"VERSAO_FIN", "2.2.0"}, {"VERSAO_VEI", "1.0.0"}, {"VERSAO_EST", "2.0.3"}}};
  }
  return {{"--app-module=CNAS.EXE=4.0.1", "--app-module=CFIN.EXE=4.0.2",
           "--app-module=CADM.EXE=1.9.12"},
          CrLf("[CARTORIO]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n[BANCO_CARTÓRIO]\n"
               "ÚltimaVersão=2.5.11\n[CFIN.EXE]\nÚltimaVersão=4.0.3\n"),
          {{"script_cartorio_2_5_11.ini",
            ScriptPackage("2.5.11", {{"CREATE TABLE ATO (CODATO INTEGER)"}})}},
          {{"CFIN.EXE", "4.0.2", "4.0.3"}},
          "1.4.2",
          "2.5.11",
          {{"VERSAO_CXA", "4.0.3"}, {"VERSAO_NAS", "4.0.1"}}};
}

// The lines of LogUpdate.txt for one module recorded in that mode.
std::vector<std::string> RecordedModuleLog(const std::string& package, const std::string& folder,
                                           bool internet) {
  std::vector<std::string> lines;
  if (internet) {
    lines = {"Excluindo arquivo zip antigo " + folder + "/" + package,
             "Iniciar download de " + package + " em " + folder,
             "Download de " + package + " concluído"};
  }
  for (const std::string& line :
       {"Iniciar a descompactação de " + package, "Descompactação de " + package + " concluída",
        "Obtendo versão " + package,
        "Iniciar a atualização de versão de " + package + " no Banco de Dados",
        "Iniciar ApplyUpdates de atualização de versão de " + package + " no Banco de Dados",
        "Gravação (CCOMMIT) de versão de " + package + " efetuada com sucesso",
        std::string(63, '-')}) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LinesOf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto end = bytes.find("\r\n", at);
    lines.push_back(bytes.substr(at, end - at));
    at = end == std::string::npos ? bytes.size() : end + 2;
  }
  return lines;
}

// A site whose KORVA.INI names a branch folder, and the way to click through
// a run on it.
class RunSite {
 public:
  RunSite(const std::string& edition, std::optional<FtpServerKind> server, bool local,
          std::vector<std::string> siteArguments, std::vector<std::string> scenarios = {})
      : s(SiteOptions{edition, "FDB", WithBranch(branches, siteArguments)}, server,
          std::move(scenarios)) {
    if (local) s.UseLocalMode();
  }
  std::string Branch(const std::string& name = "") const {
    return name.empty() ? branches.File("filial1") : branches.File("filial1") + "/" + name;
  }

  // The check, "Iniciar &Atualizações", "Sim" and "&Continuar".
  void ClickThrough() {
    s.principal->BtBtnNovasAtualizacoesClick();
    s.principal->BtbtnIniciarAtualizacaoClick();
    if (s.form.ActivePage() != &s.form.TbShtBackup) return;
    s.form.RGBackup.SetItemIndex(0);
    s.principal->BtBtnContinuarClick();
  }
  std::string Column(const std::string& column) const {
    return IsqlValue(s.site.mainDatabase, "SELECT " + column + " FROM VERSAOBD");
  }

  testing::TempDir branches;
  UpdateSite s;

 private:
  static std::vector<std::string> WithBranch(const testing::TempDir& dir,
                                             std::vector<std::string> arguments) {
    std::filesystem::create_directories(dir.File("filial1"));
    arguments.push_back("--branch=" + dir.File("filial1"));
    return arguments;
  }
};

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

// Signed updates: a site with the maker's key takes only what the maker
// signed. One site per mode refuses one tampered file after another, each
// time with nothing executed, set aside or copied, and at last takes the
// files as signed.
struct Tampering {
  const char* what;
  std::function<void(UpdateSite&)> tamper;
  const char* refused;  // the file named in the log
  const char* reason;
  enum { Catalogue, Script, Module } refusedAt;
};

std::string Bytes(const trust::PublicKey& key) {
  return std::string(reinterpret_cast<const char*>(key.data()), key.size());
}

class SignedRun : public ::testing::TestWithParam<UpdateMode> {
 protected:
  void Serve() {
    UpdateSite& s = r->s;
    const std::string efin = s.PutModulePackage("EFIN.EXE", "2.2.0");
    const std::string evei = s.PutModulePackage("EVEI.EXE", "1.0.0");
    const auto digest = [](const std::string& bytes) {
      trust::Sha256 sha;
      sha.Update(bytes.data(), bytes.size());
      return trust::Hex(sha.Finish());
    };
    const std::string catalogue =
        CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.3\n[BANCO_KORVA]\n"
             "ÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\nSHA256=" +
             digest(efin) + "\n[EEST.EXE]\nÚltimaVersão=2.0.3\n[EVEI.EXE]\nÚltimaVersão=1.0.0\n"
             "SHA256=" + text::Upper1252(digest(evei)) + "\n");
    s.PutCatalogue(catalogue);
    s.PutUpdateFile(s.CatalogueName() + ".sig", trust::Sign(maker, catalogue));
    for (const auto& [name, bytes] : OfferFor("EMPRESA").packages) {
      s.PutUpdateFile(name, bytes);
      s.PutUpdateFile(name + ".sig", trust::Sign(maker, trust::PackageMessage(name, bytes)));
    }
  }

  // A new start of the program on the same site, with the files served as
  // signed and then tampered with.
  void Attempt(const Tampering& t) {
    UpdateSite& s = r->s;
    s.shell = {};
    s.principal = std::make_unique<Principal>(s.form, s.shell, s.clock);
    if (!GetParam().server) s.UseLocalMode();
    std::filesystem::remove(s.Local("LogUpdate.txt"));
    Serve();
    if (t.tamper) t.tamper(s);
    ASSERT_TRUE(s.Start());
    if (t.refusedAt == Tampering::Catalogue) {
      s.principal->BtBtnNovasAtualizacoesClick();
    } else {
      r->ClickThrough();
    }
  }

  trust::KeyPair maker = trust::GenerateKeyPair();
  trust::KeyPair other = trust::GenerateKeyPair();
  std::unique_ptr<RunSite> r;
};

TEST_P(SignedRun, EveryTamperedFileIsRefusedAndTheSignedOnesAreTaken) {
  const bool local = !GetParam().server;
  r = std::make_unique<RunSite>(
      "EMPRESA", local ? FtpServerKind::Pyftpdlib : GetParam().server, local,
      std::vector<std::string>{"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3",
                               "--app-module=EADM.EXE=1.9.12",
                               "--public-key=" + trust::EncodeBase64(Bytes(maker.publicKey))});
  UpdateSite& s = r->s;
  testing::WriteBytes(r->Branch("EFIN.EXE"), ModuleBytes("EFIN.EXE", "2.1.7"));
  const std::string catalogue = s.CatalogueName();
  const std::string users = "script_usuario_1_4_3.ini";
  const auto flipLastByte = [](std::string bytes) {
    bytes.back() ^= 1;
    return bytes;
  };
  const auto readServed = [&](const std::string& name) {
    return ReadBytes(local ? s.Local(name) : s.server->Path(s.ServerFolder() + "/" + name));
  };
  const Tampering cases[] = {
      {"catalogue changed by one byte",
       [&](UpdateSite& s) { s.PutCatalogue(flipLastByte(readServed(catalogue))); },
       catalogue.c_str(), "assinatura não confere", Tampering::Catalogue},
      {"catalogue signature missing",
       [&](UpdateSite& s) { s.RemoveUpdateFile(catalogue + ".sig"); },
       catalogue.c_str(), "assinatura não encontrada", Tampering::Catalogue},
      {"catalogue signed by another key",
       [&](UpdateSite& s) {
         s.PutUpdateFile(catalogue + ".sig", trust::Sign(other, readServed(catalogue)));
       },
       catalogue.c_str(), "assinatura não confere", Tampering::Catalogue},
      {"script package signed for another version",
       [&](UpdateSite& s) {
         s.PutUpdateFile(users + ".sig",
                         trust::Sign(maker, trust::PackageMessage("script_usuario_1_4_9.ini",
                                                                  readServed(users))));
       },
       users.c_str(), "assinatura não confere", Tampering::Script},
      {"script package signature missing",
       [&](UpdateSite& s) { s.RemoveUpdateFile(users + ".sig"); },
       users.c_str(), "assinatura não encontrada", Tampering::Script},
      {"module package changed by one byte",
       [&](UpdateSite& s) {
         const std::string path = local ? s.App("efin.zip")
                                        : s.server->Path(s.ServerFolder() + "/efin.zip");
         std::string bytes = ReadBytes(path);
         bytes[bytes.size() / 2] ^= 1;
         testing::WriteBytes(path, bytes);
       },
       "efin.zip", "SHA256 não confere", Tampering::Module},
      {"module package older than the catalogue's",
       [&](UpdateSite& s) { s.PutModulePackage("EFIN.EXE", "2.1.9"); }, "efin.zip",
       "SHA256 não confere", Tampering::Module},
      {"module section without SHA256",
       [&](UpdateSite& s) {
         std::string bytes = readServed(catalogue);
         const auto at = bytes.find("SHA256=");
         bytes.erase(at, bytes.find("\r\n", at) + 2 - at);
         s.PutCatalogue(bytes);
         s.PutUpdateFile(catalogue + ".sig", trust::Sign(maker, bytes));
       },
       "efin.zip", "SHA256 ausente no catálogo", Tampering::Module},
  };
  bool eveiPending = true;
  for (const Tampering& t : cases) {
    SCOPED_TRACE(t.what);
    Attempt(t);
    const auto log = LinesOf(ReadBytes(s.Local("LogUpdate.txt")));
    const std::string refusal = std::string("Arquivo ") + t.refused + " recusado: " + t.reason;
    ASSERT_THAT(log, Contains(refusal));
    ASSERT_FALSE(s.shell.messages.empty());
    const Message& first = s.shell.messages.front();
    switch (t.refusedAt) {
      case Tampering::Catalogue:
        EXPECT_EQ(first, (Message{"KORVA - Atualizações",
                                  "A assinatura do arquivo de atualização " + catalogue +
                                      (std::string(t.reason).ends_with("encontrada")
                                           ? " não foi encontrada."
                                           : " não confere."),
                                  MsgIcon::Warning, kOk, kOk}));
        EXPECT_EQ(s.shell.endRequests, 1);
        EXPECT_TRUE(s.Nodes().empty());
        break;
      case Tampering::Script:
        EXPECT_EQ(first.text.substr(first.text.rfind('\r') + 1),
                  "A assinatura do pacote " + users +
                      (std::string(t.reason).ends_with("encontrada") ? " não foi encontrada."
                                                                     : " não confere."));
        EXPECT_FALSE(std::filesystem::exists(s.Local(users)) && !local);
        break;
      case Tampering::Module: {
        const auto at = std::find(log.begin(), log.end(), refusal);
        EXPECT_EQ(*std::next(at), local ? "NÃO FOI POSSÍVEL descompactar efin.zip"
                                        : "NÂO FOI POSSÍVEL fazer o download de efin.zip");
        EXPECT_EQ(first.text.substr(0, 20), local ? "Falha na descompacta"
                                                  : "Problemas na localiz");
        // The last module decides how the run ends: EVEI, installed by the
        // first of these runs, or EFIN itself in the later ones.
        ASSERT_EQ(s.shell.messages.size(), 2u);
        if (eveiPending) {
          EXPECT_EQ(s.shell.messages.back(), kSuccess);
        } else {
          EXPECT_EQ(s.shell.messages.back().text.substr(0, 20), "Erro no Download do ");
        }
        eveiPending = false;
        // The databases took their signed packages all the same.
        EXPECT_EQ(r->Column("VERSAOBANCO"), "3.16.51");
        break;
      }
    }
    if (t.refusedAt != Tampering::Module) {
      EXPECT_EQ(IsqlValue(s.site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.4.2");
      EXPECT_EQ(r->Column("VERSAOBANCO"), "3.16.50");
    }
    EXPECT_EQ(r->Column("VERSAO_FIN"), "2.1.7");
    EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
    EXPECT_FALSE(std::filesystem::exists(s.App("EFIN.Old")));
    EXPECT_EQ(ReadBytes(r->Branch("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
  }

  SCOPED_TRACE("every file as the maker signed it");
  Attempt({"none", nullptr, "", "", Tampering::Script});
  EXPECT_EQ(s.shell.messages, std::vector<Message>{kSuccess});
  EXPECT_EQ(r->Column("VERSAO_FIN"), "2.2.0");
  EXPECT_EQ(ReadBytes(r->Branch("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))), Not(Contains(HasSubstr("recusado"))));
}

INSTANTIATE_TEST_SUITE_P(Modes, SignedRun,
                         ::testing::Values(UpdateMode{"EMPRESA", FtpServerKind::Pyftpdlib},
                                           UpdateMode{"EMPRESA", std::nullopt}),
                         testing::ModeName);

TEST(SignedRun, AMakersKeyThatIsNotOneStopsTheStart) {
  const std::pair<const char*, bool> keys[] = {
      {"", true},                                              // no key: unsigned, as before
      {"   ", true},
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFdA=", true},  // 32 bytes
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFd==", false},  // 31 bytes
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFdAA", false},  // no padding: not Base64
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFdA=AAAA", false},
      {"mu7Xwa6hhob26k15O8lrwQ96THSm$U4/N8m3lRasFdA=", false},
      {"chave", false},
      {"a2tra2tra2tra2tra2tra2tra2tra2tra2tra2tra2s=", false},  // 32 bytes, no point of the curve
  };
  for (const auto& [key, starts] : keys) {
    SCOPED_TRACE(key);
    UpdateSite s(SiteOptions{"EMPRESA", "FDB", {std::string("--public-key=") + key}},
                 std::nullopt);
    EXPECT_EQ(s.Start(), starts);
    if (starts) {
      EXPECT_TRUE(s.shell.messages.empty());
    } else {
      EXPECT_EQ(s.shell.messages, (std::vector<Message>{{"KORVA",
                                                         "CHAVE_PUBLICA inválida em KORVA.INI.",
                                                         MsgIcon::Error, kOk, kOk}}));
    }
  }
}

}  // namespace
}  // namespace korva
