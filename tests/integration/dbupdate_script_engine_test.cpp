// The script package engine on real databases: the statements the server
// received and their transactions, the version recorded after each group, the
// log, the packages fetched or taken locally, and every way a step stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "dbupdate/backup_program.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/firebird_fixture.h"
#include "support/trail.h"
#include "support/update_site.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva {
namespace {

using dbupdate::Step;
using namespace testing;

const std::string kMainFailure =
    "Não foi possível atualizar o banco de dados. Verifique se existem usuários\r"
    "conectados no sistema. Entre em contato com o suporte da VESTRAMON e informe  a\r"
    "mensagem de erro abaixo:\r\r";
const char* const kRecord = "UPDATE VERSAOBD SET VERSAOBANCO = ? WHERE CODVERSAO = ?";

// "transaction-number what" lines of TRILHA, numbered from 1 by first use.
std::vector<std::string> TrailOf(const std::string& database) {
  std::vector<std::string> lines, seen;
  for (const auto& [transaction, what] : testing::TrailLines(database)) {
    auto at = std::find(seen.begin(), seen.end(), transaction);
    if (at == seen.end()) at = seen.insert(seen.end(), transaction);
    lines.push_back(std::to_string(at - seen.begin() + 1) + " " + what);
  }
  return lines;
}

class Engine {
 public:
  Engine(SiteOptions options, std::optional<FtpServerKind> server,
         std::vector<std::string> scenarios = {})
      : s(std::move(options), server, std::move(scenarios)) {}

  // The site started, its main database traced, every statement text seen.
  bool Start(bool users = false) {
    testing::CreateTrail(users ? s.site.usersDatabase : s.site.mainDatabase);
    if (!s.Start()) return false;
    // As the catalogue check leaves it before every run.
    s.principal->Session().records.clientVersionFilePath =
        s.Local(std::string(UpdateSite::kClientId) + ".ini");
    for (db::Connection* c :
         {&s.principal->SQLConnectionKORVA(), &s.principal->SQLConnectionUSUARIO()})
      c->SetStatementObserver([this](std::string_view sql) {
        if (sql.rfind("SELECT", 0) != 0) sent.emplace_back(sql);
      });
    return true;
  }
  bool Run(Step step, const std::string& target) {
    SessionState& session = s.principal->Session();
    (step == Step::AtualizaBancoEmpresa || step == Step::AtualizaBancoCartorio
         ? session.run.latestMainVersion
         : session.run.latestUsersVersion) = target;
    return s.principal->AtualizaBanco(step);
  }
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const auto& item : s.form.ChkLBxLog.Items())
      lines.push_back((item.checked ? "[x] " : "[ ] ") + item.text);
    return lines;
  }

  UpdateSite s;
  std::vector<std::string> sent;
};

class ScriptEngine : public ::testing::TestWithParam<UpdateMode> {};

TEST_P(ScriptEngine, TakesTheMainDatabaseToTheTargetGroupByGroup) {
  Engine e(SiteOptions{GetParam().edition}, GetParam().server);
  ASSERT_TRUE(e.Start());
  const bool empresa = e.s.Empresa();
  const std::string v1 = empresa ? "3.16.51" : "2.5.11", v2 = empresa ? "3.16.52" : "2.5.12";
  const std::string p1 = empresa ? "script_korva_3_16_51.ini" : "script_cartorio_2_5_11.ini";
  const std::string p2 = empresa ? "script_korva_3_16_52.ini" : "script_cartorio_2_5_12.ini";
  // DDL over several lines, DML, a procedure whose body holds ":", "?" and ";".
  const std::vector<std::vector<std::string>> groups1 = {
      {"CREATE TABLE CLIENTE_NOVO (", "  ID INTEGER NOT NULL,", "  NOME VARCHAR(40)", ")"},
      {"INSERT INTO TRILHA VALUES (NEXT VALUE FOR G_TRILHA, CURRENT_TRANSACTION,", "'grupo 2')"},
      {"CREATE PROCEDURE SOMA (A INTEGER, B INTEGER) RETURNS (C INTEGER) AS", "BEGIN",
       "  C = :A + :B; /* ? e ; no corpo */", "  SUSPEND;", "END"}};
  e.s.PutUpdateFile(p1, ScriptPackage(v1, groups1));
  // S1_3 missing: S1_4 is not part of the group; S3 without S2 is not run.
  e.s.PutUpdateFile(p2, CrLf("[" + v2 + "]\nS1_1=" + Trace("v2 grupo 1") +
                             "\nS1_2=\nS1_4=lixo\nS3_1=lixo\n[outra]\nS1_1=lixo\n"));

  ASSERT_TRUE(e.Run(empresa ? Step::AtualizaBancoEmpresa : Step::AtualizaBancoCartorio, v2));
  EXPECT_TRUE(e.s.principal->Session().runSucceeded);
  EXPECT_TRUE(e.s.shell.messages.empty());
  EXPECT_EQ(e.s.form.ActivePage(), &e.s.form.TbShtLog);
  auto text = [](const std::vector<std::string>& lines) {
    std::string command;
    // Values are read as profile values: without the blanks around them.
    for (const auto& l : lines) command += text::Trim(l) + "\r\n";
    return command;
  };
  EXPECT_THAT(e.sent,
              ElementsAre(text(groups1[0]), kRecord, text(groups1[1]), kRecord, text(groups1[2]),
                          kRecord, Trace("v2 grupo 1") + "\r\n\r\n", kRecord));
  EXPECT_THAT(TrailOf(e.s.site.mainDatabase),
              ElementsAre("1 VERSAO " + v1, "2 grupo 2", "2 VERSAO " + v1, "3 VERSAO " + v1,
                          "4 v2 grupo 1", "4 VERSAO " + v2));
  EXPECT_EQ(IsqlValue(e.s.site.mainDatabase, "SELECT C FROM SOMA(2, 3)"), "5");
  EXPECT_EQ(e.s.ClientVersion(empresa ? "BDKORVA" : "BDCARTORIO"), v2);
  // The main database's packages do not stay behind.
  EXPECT_FALSE(platform::FileExists(e.s.Local(p1)));
  EXPECT_FALSE(platform::FileExists(e.s.Local(p2)));

  std::vector<std::string> log;
  for (const auto& [version, k] : {std::pair{v1, 3}, std::pair{v2, 1}}) {
    if (e.s.server) log.push_back("[x] Baixando atualização " + version + " - Banco Korva");
    log.push_back("[x] Aplicando atualização " + version + " - Banco KORVA (Atualização " +
                  std::to_string(k) + " de " + std::to_string(k) + ")");
  }
  EXPECT_THAT(e.Log(), ElementsAreArray(log));
  if (!e.s.server) return;
  std::vector<std::string> fetched;
  for (const std::string& c : e.s.server->Commands())
    if (c.rfind("RETR", 0) == 0) fetched.push_back(c);
  EXPECT_THAT(fetched, ElementsAre("RETR " + p1, "RETR " + p2));
  // The session stays open for the steps that follow.
  EXPECT_TRUE(e.s.principal->IdFTPKorva().IsConnected());
}

INSTANTIATE_TEST_SUITE_P(EditionsAndModes, ScriptEngine,
                         ::testing::Values(UpdateMode{"EMPRESA", FtpServerKind::Pyftpdlib},
                                           UpdateMode{"CARTORIO", FtpServerKind::Vsftpd},
                                           UpdateMode{"EMPRESA", std::nullopt}),
                         testing::ModeName);

TEST(ScriptEngineUsers, EmpresaStepsFromVersionsWithoutATableOrARecordedValue) {
  Engine e(SiteOptions{"EMPRESA", "FDB", {"--users-version=3.1.10"}}, std::nullopt);
  ASSERT_TRUE(e.Start(true));
  const std::string db = e.s.site.usersDatabase;
  e.s.PutUpdateFile("script_usuario_3_1_11.ini", ScriptPackage("3.1.11", {{Trace("3.1.11")}}));
  e.s.PutUpdateFile("script_usuario_3_1_12.ini", ScriptPackage("3.1.12", {{Trace("3.1.12")}}));
  ASSERT_TRUE(e.Run(Step::AtualizaBancoUsuarioEmpresa, "3.1.12"));
  EXPECT_THAT(
      e.Log(),
      ElementsAre("[x] Aplicando atualização 3.1.11 - Banco USUÁRIOS (Atualização 1 de 1)",
                  "[x] Aplicando atualização 3.1.12 - Banco USUÁRIOS (Atualização 1 de 1)"));
  EXPECT_EQ(IsqlValue(db, "SELECT VERSAOBANCO FROM VERSAOBD"), "3.1.12");
  EXPECT_TRUE(platform::FileExists(e.s.Local("script_usuario_3_1_12.ini")));  // users: kept

  // A users database without its version table stands at 3.1.0; its first
  // packages record nothing and the next one starts from what they left.
  e.s.principal->SQLConnectionUSUARIO().Close();
  testing::Isql(db, "DROP TABLE VERSAOBD;\nCOMMIT;");
  e.s.principal->Session().database.usersVersionAvailable = false;
  e.s.PutUpdateFile("script_usuario_3_1_1.ini",
                    ScriptPackage("3.1.1", {{"CREATE TABLE VERSAOBD (CODVERSAO INTEGER NOT NULL,",
                                             "VERSAOBANCO VARCHAR(8) NOT NULL, EM_ATUALIZACAO "
                                             "CHAR(1))"},
                                            {"INSERT INTO VERSAOBD VALUES (1, '', 'N')"}}));
  e.s.PutUpdateFile("script_usuario_3_1_2.ini",
                    ScriptPackage("3.1.2", {{"UPDATE VERSAOBD SET VERSAOBANCO = '3.1.2'"}}));
  e.s.PutUpdateFile("script_usuario_3_1_3.ini", ScriptPackage("3.1.3", {{Trace("3.1.3")}}));
  e.sent.clear();
  ASSERT_TRUE(e.Run(Step::AtualizaBancoUsuarioEmpresa, "3.1.3"));
  EXPECT_EQ(std::count(e.sent.begin(), e.sent.end(), kRecord), 1);  // only for 3.1.3
  EXPECT_EQ(e.sent.back(), kRecord);
  EXPECT_TRUE(e.s.principal->Session().database.usersVersionAvailable);
  EXPECT_EQ(IsqlValue(db, "SELECT VERSAOBANCO FROM VERSAOBD"), "3.1.3");
}

TEST(ScriptEngineUsers, CartorioTakesAnEmptyVersionAs2_2_0) {
  Engine e(SiteOptions{"CARTORIO", "FDB", {"--users-version="}}, FtpServerKind::Pyftpdlib);
  ASSERT_TRUE(e.Start(true));
  e.s.PutUpdateFile("script_usuario_cartorio_2_2_1.ini",
                    ScriptPackage("2.2.1", {{Trace("a")}, {Trace("b")}}));
  ASSERT_TRUE(e.Run(Step::AtualizaBancoUsuarioCartorio, "2.2.1"));
  EXPECT_EQ(IsqlValue(e.s.site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "2.2.1");
  EXPECT_THAT(e.Log(), ElementsAre("[x] Baixando atualização 2.2.1 - Banco de Usuários",
                                   "[x] Aplicando atualização 2.2.1 - Banco USUÁRIOS "
                                   "(Atualização 2 de 2)"));
  EXPECT_EQ(e.s.ClientVersion("BDUSUARIO"), "2.2.1");
}

TEST(ScriptEngineVersions, CarryingPastNinetyNineAndTargetsThatCannotBeMet) {
  Engine e(SiteOptions{"CARTORIO", "FDB", {"--main-version=3.1.99"}}, std::nullopt);
  ASSERT_TRUE(e.Start());
  // 3.2.0 is never produced by stepping (3.1.99 -> 3.2.00): nothing is done.
  try {
    e.Run(Step::AtualizaBancoCartorio, "3.2.0");
    FAIL() << "an unreachable target was pursued";
  } catch (const KorvaError& error) {
    EXPECT_NE(std::string(error.what()).find("3.2.0"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("3.2.00"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(e.sent.empty());

  e.s.PutUpdateFile("script_cartorio_3_2_00.ini", ScriptPackage("3.2.00", {{Trace("3.2.00")}}));
  e.s.PutUpdateFile("script_cartorio_3_2_1.ini", ScriptPackage("3.2.1", {{Trace("3.2.1")}}));
  ASSERT_TRUE(e.Run(Step::AtualizaBancoCartorio, "3.2.1"));
  EXPECT_EQ(IsqlValue(e.s.site.mainDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "3.2.1");

  // A package missing in local mode, and one without a first group: errors
  // that name them, nothing executed, no endless round.
  e.sent.clear();
  const std::string missing = e.s.Local("script_cartorio_3_2_2.ini");
  try {
    e.Run(Step::AtualizaBancoCartorio, "3.2.2");
    FAIL() << "a missing package was taken as applied";
  } catch (const KorvaError& error) {
    EXPECT_EQ(std::string(error.what()), "Arquivo não localizado:\r" + missing);
  }
  testing::WriteBytes(missing, ScriptPackage("3.2.2", {}) + "S2_1=" + Trace("x") + "\r\n");
  try {
    e.Run(Step::AtualizaBancoCartorio, "3.2.2");
    FAIL() << "a package without its first group was taken as applied";
  } catch (const KorvaError& error) {
    EXPECT_NE(std::string(error.what()).find("script_cartorio_3_2_2.ini"), std::string::npos);
  }
  EXPECT_TRUE(e.sent.empty());
}

TEST(ScriptEngineLimits, FifteenHundredLinesAndAHundredGroups) {
  Engine e(SiteOptions{"EMPRESA"}, std::nullopt);
  ASSERT_TRUE(e.Start());
  std::vector<std::vector<std::string>> groups(101);
  // Line 1501 would break the statement if it were sent.
  groups[0] = std::vector<std::string>(1499, "/* linha */");
  groups[0].push_back(Trace("grupo 1"));
  groups[0].push_back("lixo que não é SQL");
  for (int g = 2; g <= 101; ++g) groups[g - 1] = {Trace("grupo " + std::to_string(g))};
  e.s.PutUpdateFile("script_korva_3_16_51.ini", ScriptPackage("3.16.51", groups));
  ASSERT_TRUE(e.Run(Step::AtualizaBancoEmpresa, "3.16.51"));
  EXPECT_THAT(e.Log(), ElementsAre("[x] Aplicando atualização 3.16.51 - Banco KORVA "
                                   "(Atualização 100 de 101)"));
  EXPECT_EQ(IsqlValue(e.s.site.mainDatabase,
                      "SELECT COUNT(*) || ' ' || MAX(O) FROM TRILHA WHERE O LIKE 'grupo%'"),
            "100 grupo 99");  // grupo 1 .. grupo 100 ("grupo 99" sorts last)
}

TEST(ScriptEngineFailure, AGroupThatFailsStopsTheRunWithTheServersWords) {
  Engine e(SiteOptions{"EMPRESA"}, FtpServerKind::Pyftpdlib);
  ASSERT_TRUE(e.Start());
  e.s.PutUpdateFile("script_korva_3_16_51.ini",
                    ScriptPackage("3.16.51", {{Trace("g1")},
                                              {Trace("g2")},
                                              {"INSERT INTO TABELA_QUE_NAO_EXISTE VALUES (1)"},
                                              {Trace("g4")},
                                              {Trace("g5")}}));
  EXPECT_FALSE(e.Run(Step::AtualizaBancoEmpresa, "3.16.52"));
  EXPECT_FALSE(e.s.principal->Session().runSucceeded);
  EXPECT_FALSE(e.s.form.BtBtnAbortar.Enabled());
  ASSERT_EQ(e.s.shell.messages.size(), 1u);
  const Message& shown = e.s.shell.messages[0];
  EXPECT_EQ(shown.caption, "KORVA");
  EXPECT_EQ(shown.icon, MsgIcon::Error);
  EXPECT_EQ(shown.buttons, kOk);
  EXPECT_EQ(shown.text.rfind(kMainFailure, 0), 0u);
  EXPECT_NE(shown.text.find("TABELA_QUE_NAO_EXISTE"), std::string::npos) << shown.text;
  // Groups 1 and 2 stay, each with the package's version recorded.
  EXPECT_THAT(TrailOf(e.s.site.mainDatabase),
              ElementsAre("1 g1", "1 VERSAO 3.16.51", "2 g2", "2 VERSAO 3.16.51"));
  EXPECT_THAT(e.Log(), ElementsAre("[x] Baixando atualização 3.16.51 - Banco Korva",
                                   "[ ] Aplicando atualização 3.16.51 - Banco KORVA "
                                   "(Atualização 3 de 5)"));
  EXPECT_FALSE(platform::FileExists(e.s.Local("script_korva_3_16_51.ini")));
  EXPECT_FALSE(e.s.principal->SQLConnectionKORVA().InTransaction());
}

TEST(ScriptEngineFailure, APackageCutShortByAbortarExecutesNothing) {
  Engine e(SiteOptions{"EMPRESA"}, FtpServerKind::Pyftpdlib, {"rate=65536"});
  ASSERT_TRUE(e.Start());
  // A package large enough to be cut while it arrives.
  std::string filler = "[enchimento]\r\n";
  for (int i = 0; i < 4000; ++i)
    filler += "L" + std::to_string(i) + "=" + std::string(60, 'x') + "\r\n";
  e.s.PutUpdateFile("script_korva_3_16_51.ini",
                    ScriptPackage("3.16.51", {{Trace("nunca")}}) + filler);
  e.s.shell.onRepaint = [&] {
    if (e.s.form.GaugeDownload.Progress() > 0) e.s.principal->BtBtnAbortarClick();
  };
  EXPECT_FALSE(e.Run(Step::AtualizaBancoEmpresa, "3.16.51"));
  e.s.shell.onRepaint = nullptr;
  ASSERT_EQ(e.s.shell.messages.size(), 1u);
  EXPECT_EQ(e.s.shell.messages[0].text,
            kMainFailure + "O download do pacote script_korva_3_16_51.ini não foi concluído.");
  EXPECT_TRUE(e.sent.empty());
  EXPECT_FALSE(platform::FileExists(e.s.Local("script_korva_3_16_51.ini")));
  EXPECT_EQ(IsqlValue(e.s.site.mainDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "3.16.50");
}

bool Eventually(const std::function<bool()>& condition) {
  // Another program's window: nothing of ours to wait on but its registration.
  for (int i = 0; i < 6000 && !condition(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return condition();
}

TEST(ScriptEngineBackup, TheBackupProgramIsClosedAndStartedAgainAtExit) {
  Engine e(SiteOptions{"EMPRESA"}, std::nullopt);
  ASSERT_TRUE(e.Start());
  ASSERT_TRUE(platform::StartProgram(e.s.Local("KORVABACKUP.EXE")));
  ASSERT_TRUE(Eventually(dbupdate::BackupProgramRunning));
  // Already at the target: nothing to fetch, nothing but the backup line.
  ASSERT_TRUE(e.Run(Step::AtualizaBancoEmpresa, "3.16.50"));
  EXPECT_TRUE(e.s.principal->Session().runSucceeded);
  EXPECT_THAT(e.Log(), ElementsAre("[x] Desabilitando Backup"));
  EXPECT_FALSE(dbupdate::BackupProgramRunning());
  EXPECT_TRUE(e.s.principal->Session().database.restartBackupOnExit);

  e.s.principal->FormClose();
  e.s.principal->FormDestroy();
  EXPECT_TRUE(Eventually(dbupdate::BackupProgramRunning));
  dbupdate::CloseBackupProgram();
}

}  // namespace
}  // namespace korva
