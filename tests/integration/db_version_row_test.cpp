// VERSAOBD on the real server: the three row copies, refresh, the one-column
// write-back and the write protocol. An audit trigger in the test databases
// records the old and new values of every column and the transaction of each
// update, so the tests see what the server received.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/session_state.h"
#include "dbupdate/protected_mode.h"
#include "dbupdate/version_row.h"
#include "dbupdate/write_protocol.h"
#include "support/firebird_fixture.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva {
namespace {

using dbupdate::GravaVersao;
using dbupdate::VersionRow;
using namespace testing;  // the test support

const std::vector<std::string> kEmpresaColumns = {
    "CODVERSAO",  "VERSAOBANCO", "VERSAO_FIN", "VERSAO_EST", "VERSAO_ADM",
    "VERSAO_FCX", "VERSAO_SAC",  "VERSAO_VEI", "VERSAO_SER", "VERSAO_VAU",
    "VERSAO_PRD", "VERSAO_NFE",  "VERSAO_SIN", "VERSAO_SPD", "VERSAO_VEN"};
const std::vector<std::string> kUsersColumns = {"CODVERSAO", "VERSAOBANCO", "EM_ATUALIZACAO"};

// Every update of VERSAOBD leaves one row: its transaction and the old and new
// values of every column, rendered as "a|b|<null>|...".
void InstallAudit(const std::string& database, const std::vector<std::string>& columns) {
  auto render = [&](const char* prefix) {
    std::string out;
    for (const std::string& c : columns) {
      if (!out.empty()) out += " || '|' || ";
      out += "COALESCE(CAST(" + std::string(prefix) + "." + c + " AS VARCHAR(20)), '<null>')";
    }
    return out;
  };
  Isql(database,
       "CREATE TABLE VERSAOBD_AUDIT (SEQ INTEGER, TRANSACAO BIGINT, ANTES VARCHAR(400), "
       "DEPOIS VARCHAR(400));\nCREATE SEQUENCE G_AUDIT;\nCOMMIT;\nSET TERM ^;\n"
       "CREATE TRIGGER VERSAOBD_AUDIT_AU FOR VERSAOBD AFTER UPDATE AS BEGIN\n"
       "  INSERT INTO VERSAOBD_AUDIT VALUES (NEXT VALUE FOR G_AUDIT, CURRENT_TRANSACTION, " +
           render("OLD") + ", " + render("NEW") + ");\nEND^\nSET TERM ;^\nCOMMIT;");
}

struct AuditRow {
  std::string transaction, before, after;
};

std::vector<AuditRow> Audit(const std::string& database) {
  std::istringstream out(Isql(database,
                              "SET HEADING OFF;\nSELECT TRANSACAO || '#' || ANTES || '#' || "
                              "DEPOIS FROM VERSAOBD_AUDIT ORDER BY SEQ;"));
  std::vector<AuditRow> rows;
  for (std::string line; std::getline(out, line);) {
    line = text::Trim(line);
    if (line.empty()) continue;
    const auto a = line.find('#'), b = line.find('#', a + 1);
    rows.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
  }
  return rows;
}

class VersionTable : public ::testing::Test {
 protected:
  void Build(const std::string& edition) {
    site = BuildSite(dir.Path(), SiteOptions{edition});
    s = std::make_unique<SiteSession>(site.folder);
    s->main.SetStatementObserver([this](std::string_view sql) { sent.emplace_back(sql); });
    s->users.SetStatementObserver([this](std::string_view sql) { sent.emplace_back(sql); });
    s->main.Open();
    s->users.Open();
  }
  TempDir dir;
  Site site;
  std::unique_ptr<SiteSession> s;
  std::vector<std::string> sent;
};

TEST_F(VersionTable, EachCopyReadsItsFixedQuery) {
  Build("EMPRESA");
  VersionRow main(s->main, dbupdate::MainVersionQuery(s->session.site.edition));
  VersionRow users(s->users, dbupdate::kVersionQueryUsers);
  EXPECT_FALSE(main.IsOpen());
  main.Refresh();
  users.Open();
  EXPECT_EQ(sent, (std::vector<std::string>{dbupdate::kVersionQueryEmpresa,
                                            dbupdate::kVersionQueryUsers}));
  EXPECT_EQ(main.Key(), "1");
  EXPECT_EQ(main.Value("VERSAOBANCO"), "3.16.50");
  EXPECT_EQ(main.Value("versao_fin"), "2.1.7");
  EXPECT_EQ(main.Value("VERSAO_PRD"), "3.2.1     ");  // readers trim it
  EXPECT_EQ(main.Value("VERSAO_SAC"), "");            // null
  EXPECT_EQ(users.Value("VERSAOBANCO"), "1.4.2");
  EXPECT_EQ(users.Value("EM_ATUALIZACAO"), "N");
  try {
    main.Value("VERSAO_CXA");
    FAIL() << "unknown column read";
  } catch (const KorvaError& e) {
    EXPECT_STREQ(e.what(), "Field 'VERSAO_CXA' not found");
  }

  TempDir other;
  const Site cartorio = BuildSite(other.Path(), SiteOptions{"CARTORIO"});
  SiteSession c(cartorio.folder);
  VersionRow row(c.main, dbupdate::MainVersionQuery(versions::Edition::Cartorio));
  row.Refresh();  // opens the connection
  EXPECT_EQ(c.session.site.edition, versions::Edition::Cartorio);
  EXPECT_EQ(row.QueryText(), dbupdate::kVersionQueryCartorio);
  EXPECT_EQ(row.Value("VERSAOBANCO"), "2.5.10");
  EXPECT_EQ(row.Value("VERSAO_CXA"), "4.0.2");
  EXPECT_EQ(row.Value("VERSAO_MSN"), "");
}

TEST_F(VersionTable, RefreshDiscardsChangesAndClosingTheConnectionClosesTheCopy) {
  Build("EMPRESA");
  VersionRow users(s->users, dbupdate::kVersionQueryUsers);
  users.Open();
  users.SetValue("EM_ATUALIZACAO", "S");
  Isql(site.usersDatabase, "UPDATE VERSAOBD SET VERSAOBANCO = '1.4.3';\nCOMMIT;");
  EXPECT_EQ(users.Value("VERSAOBANCO"), "1.4.2");  // as read until refreshed
  users.Refresh();
  EXPECT_EQ(users.Value("VERSAOBANCO"), "1.4.3");
  EXPECT_EQ(users.Value("EM_ATUALIZACAO"), "N");

  s->users.Close();
  EXPECT_FALSE(users.IsOpen());
  EXPECT_THROW(users.Value("VERSAOBANCO"), KorvaError);
  users.Open();  // reopens the connection through its resolution
  EXPECT_TRUE(s->users.IsOpen());
  EXPECT_TRUE(users.IsOpen());
}

TEST_F(VersionTable, GravaVersaoSendsOneUpdateOfOneColumnKeyedByCodversao) {
  Build("EMPRESA");
  InstallAudit(site.mainDatabase, kEmpresaColumns);
  VersionRow main(s->main, dbupdate::kVersionQueryEmpresa);
  main.Refresh();
  // Someone else changes another column after the row was read: a write that
  // set or compared every column would undo it or miss the row.
  Isql(site.mainDatabase,
       "UPDATE VERSAOBD SET VERSAO_EST = '9.9.9', VERSAO_SAC = '1.0.0';\nCOMMIT;");
  const auto foreign = Audit(site.mainDatabase);
  ASSERT_EQ(foreign.size(), 1u);

  sent.clear();
  dbupdate::RunWriteTransaction(s->main, s->session.transactions,
                                [&] { GravaVersao(main, "VERSAO_FIN", "2.2.0"); });
  EXPECT_EQ(sent,
            std::vector<std::string>{"UPDATE VERSAOBD SET VERSAO_FIN = ? WHERE CODVERSAO = ?"});
  EXPECT_EQ(s->session.transactions.transactionCounter, 1u);
  EXPECT_EQ(main.Value("VERSAO_FIN"), "2.2.0");

  const auto audit = Audit(site.mainDatabase);
  ASSERT_EQ(audit.size(), 2u);
  EXPECT_EQ(audit[1].before,
            "1|3.16.50|2.1.7|9.9.9|1.9.12|<null>|1.0.0|<null>|<null>|<null>|"
            "3.2.1     |<null>|<null>|<null>|<null>");
  EXPECT_EQ(audit[1].after,
            "1|3.16.50|2.2.0|9.9.9|1.9.12|<null>|1.0.0|<null>|<null>|<null>|"
            "3.2.1     |<null>|<null>|<null>|<null>");
  EXPECT_EQ(IsqlValue(site.mainDatabase, "SELECT VERSAO_FIN FROM VERSAOBD"), "2.2.0");

  // Several values in one protocol run share its one transaction.
  dbupdate::RunWriteTransaction(s->main, s->session.transactions, [&] {
    GravaVersao(main, "VERSAOBANCO", "3.16.51");
    GravaVersao(main, "VERSAO_PRD", "3.2.2");
  });
  const auto both = Audit(site.mainDatabase);
  ASSERT_EQ(both.size(), 4u);
  EXPECT_EQ(both[2].transaction, both[3].transaction);
  EXPECT_NE(both[1].transaction, both[2].transaction);
  EXPECT_EQ(s->session.transactions.transactionCounter, 2u);
  EXPECT_EQ(IsqlValue(site.mainDatabase, "SELECT VERSAOBANCO || '/' || VERSAO_PRD FROM VERSAOBD"),
            "3.16.51/3.2.2");
}

TEST_F(VersionTable, AStatementBeforeTheWriteSharesItsTransactionAndItsFate) {
  Build("EMPRESA");
  VersionRow users(s->users, dbupdate::kVersionQueryUsers);
  users.Open();
  // The key changes behind the copy's back: the write finds no row.
  Isql(site.usersDatabase, "UPDATE VERSAOBD SET CODVERSAO = 7;\nCOMMIT;");

  dbupdate::BeginWrite(s->users, s->session.transactions);
  dbupdate::BeginWrite(s->users, s->session.transactions);  // uses the open one
  EXPECT_EQ(s->session.transactions.transactionCounter, 1u);
  s->users.ExecuteDirect("INSERT INTO USUARIOLOGADO (COMPUTADOR) VALUES ('ESTACAO1')");
  try {
    dbupdate::RunWriteTransaction(s->users, s->session.transactions,
                                  [&] { GravaVersao(users, "VERSAOBANCO", "1.5.0"); });
    FAIL() << "a version that reached no row was taken as recorded";
  } catch (const KorvaError& e) {
    EXPECT_STREQ(e.what(), "VERSAOBD has no row with CODVERSAO = 1: VERSAOBANCO was not recorded");
  }
  EXPECT_FALSE(s->users.InTransaction());
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT COUNT(*) FROM USUARIOLOGADO"), "0");
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.4.2");
  EXPECT_EQ(users.Value("VERSAOBANCO"), "1.5.0");  // until the next refresh
  users.Refresh();
  EXPECT_EQ(users.Key(), "7");
  EXPECT_EQ(users.Value("VERSAOBANCO"), "1.4.2");
}

TEST_F(VersionTable, GravaVersaoRefusesWhatItCannotDoSafely) {
  Build("EMPRESA");
  VersionRow users(s->users, dbupdate::kVersionQueryUsers);
  users.Open();
  sent.clear();
  // Outside a transaction it would commit on its own.
  EXPECT_THROW(GravaVersao(users, "VERSAOBANCO", "1.5.0"), KorvaError);
  // A column the row does not hold never reaches the statement text.
  dbupdate::BeginWrite(s->users, s->session.transactions);
  EXPECT_THROW(GravaVersao(users, "VERSAOBANCO = '0' --", "x"), KorvaError);
  EXPECT_THROW(GravaVersao(users, "VERSAO_FIN", "x"), KorvaError);
  s->users.Rollback(dbupdate::CurrentTransaction(s->session.transactions));
  EXPECT_TRUE(sent.empty());

  // An empty table: nothing to record into.
  Isql(site.usersDatabase, "DELETE FROM VERSAOBD;\nCOMMIT;");
  users.Refresh();
  EXPECT_FALSE(users.HasRow());
  EXPECT_EQ(users.Value("VERSAOBANCO"), "");
  dbupdate::BeginWrite(s->users, s->session.transactions);
  EXPECT_THROW(GravaVersao(users, "VERSAOBANCO", "1.5.0"), KorvaError);
  s->users.Rollback(dbupdate::CurrentTransaction(s->session.transactions));
}

TEST_F(VersionTable, UsersVersionProbeNeverFails) {
  Build("CARTORIO");
  VersionRow users(s->users, dbupdate::kVersionQueryUsers);
  EXPECT_TRUE(dbupdate::AbreVersaoBancoUsuario(users));

  VersionRow withoutFlag(s->users, dbupdate::kVersionQueryUsers);
  s->users.Close();
  Isql(site.usersDatabase, "ALTER TABLE VERSAOBD DROP EM_ATUALIZACAO;\nCOMMIT;");
  EXPECT_FALSE(dbupdate::AbreVersaoBancoUsuario(withoutFlag));

  s->users.Close();
  std::filesystem::remove(site.usersFile);
  VersionRow unreachable(s->users, dbupdate::kVersionQueryUsers);
  EXPECT_FALSE(dbupdate::AbreVersaoBancoUsuario(unreachable));
  EXPECT_TRUE(s->shell.messages.empty());
}

}  // namespace
}  // namespace korva
