// The Firebird client library and the real local server, through the
// program's own connection wrapper: attachment parameters, text values,
// transactions and the client's error wording.
#include <gtest/gtest.h>

#include <thread>

#include "db/connection.h"
#include "support/firebird_fixture.h"
#include "support/loopback_socket.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "text/error.h"

namespace korva {
namespace {

using db::Connection;
using db::ParameterList;
using db::TransactionDesc;
using testing::BuildSite;
using testing::IsqlValue;
using testing::Site;
using testing::TempDir;

ParameterList Params(const std::string& database, ParameterList extra = {}) {
  extra.push_back("Database=" + database);
  for (const char* line : {"SQLDialect=3", "RoleName=RoleName", "ServerCharSet=",
                           "WaitOnLocks=True", "Interbase TransIsolation=ReadCommited",
                           "Trim Char=False", "User_Name=KORVA", "Password=ravelund"})
    extra.push_back(line);
  return extra;
}

class DbSmoke : public ::testing::Test {
 protected:
  void SetUp() override { site = BuildSite(dir.Path()); }
  TempDir dir;
  Site site;
};

TEST_F(DbSmoke, AttachesQueriesAndReadsEveryKindOfValueAsText) {
  Connection connection("SQLConnectionKORVA");
  int hookRuns = 0;
  connection.SetBeforeConnect([&] {
    ++hookRuns;
    return Params(site.mainDatabase);
  });
  EXPECT_FALSE(connection.IsOpen());
  connection.Open();
  ASSERT_TRUE(connection.IsOpen());
  connection.Open();  // already open: the hook does not run again
  EXPECT_EQ(hookRuns, 1);

  const db::QueryResult result = connection.Query(
      "SELECT CODVERSAO, VERSAOBANCO, VERSAO_PRD, VERSAO_SAC, CAST(1.50 AS NUMERIC(9,2)) AS N, "
      "CURRENT_USER AS U FROM VERSAOBD");
  ASSERT_EQ(result.rows.size(), 1u);
  EXPECT_EQ(result.columns, (std::vector<std::string>{"CODVERSAO", "VERSAOBANCO", "VERSAO_PRD",
                                                      "VERSAO_SAC", "N", "U"}));
  const db::Row& row = result.rows[0];
  EXPECT_EQ(row.values[0], "1");
  EXPECT_EQ(row.values[1], "3.16.50");
  EXPECT_EQ(row.values[2], "3.2.1     ");  // CHAR(10) keeps its blanks with "Trim Char"=False
  EXPECT_EQ(row.values[3], "");
  EXPECT_TRUE(row.nulls[3]);
  EXPECT_FALSE(row.nulls[1]);
  EXPECT_EQ(row.values[4], "1.50");
  EXPECT_EQ(row.values[5], "KORVA");
  EXPECT_EQ(result.ColumnIndex("versao_prd"), 2u);

  // Reopening resolves the parameters again.
  connection.Close();
  EXPECT_FALSE(connection.IsOpen());
  const auto generation = connection.Generation();
  connection.Open();
  EXPECT_EQ(hookRuns, 2);
  EXPECT_NE(connection.Generation(), generation);
}

TEST_F(DbSmoke, TrimCharRemovesTrailingBlanksOfFixedWidthValuesOnly) {
  Connection connection("c");
  connection.SetParams(Params(site.mainDatabase, {"Trim Char=True"}));
  connection.Open();
  const auto rows =
      connection.Query("SELECT VERSAO_PRD, CAST('a  ' AS VARCHAR(5)) FROM VERSAOBD").rows;
  EXPECT_EQ(rows.at(0).values[0], "3.2.1");
  EXPECT_EQ(rows.at(0).values[1], "a  ");
}

TEST_F(DbSmoke, WindowsCodePageTextTravelsUnchanged) {
  for (const char* charSet : {"ServerCharSet=", "ServerCharSet=WIN1252"}) {
    Connection connection("c");
    connection.SetParams(Params(site.usersDatabase, {charSet}));
    connection.Open();
    connection.Execute("UPDATE MODULO SET NOMEMODULO = ? WHERE NOMEMODULO = 'FIN'",
                       {std::string("FINANÇAS")});
    EXPECT_EQ(connection
                  .Query("SELECT TRIM(NOMEMODULO) FROM MODULO WHERE NOMEEXECUTAVEL = "
                         "'EFIN.EXE'")
                  .rows.at(0)
                  .values[0],
              "FINANÇAS")
        << charSet;
    connection.Execute("UPDATE MODULO SET NOMEMODULO = 'FIN' WHERE NOMEEXECUTAVEL = 'EFIN.EXE'",
                       {});
  }
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT COUNT(*) FROM MODULO WHERE NOMEMODULO = 'FIN'"),
            "1");
}

TEST_F(DbSmoke, ExplicitTransactionCommitsAndRollsBackWhatOthersSee) {
  Connection connection("c");
  connection.SetParams(Params(site.usersDatabase));
  // Starting opens a closed connection first.
  std::uint32_t counter = 0;
  TransactionDesc desc{++counter};
  connection.StartTransaction(desc);
  EXPECT_TRUE(connection.IsOpen());
  EXPECT_TRUE(connection.InTransaction());
  EXPECT_THROW(connection.StartTransaction(desc), KorvaError);
  EXPECT_EQ(connection.Execute("UPDATE VERSAOBD SET VERSAOBANCO = ? WHERE CODVERSAO = ?",
                               {std::string("9.9.9"), std::string("1")}),
            1u);
  connection.Rollback(desc);
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.4.2");

  desc = TransactionDesc{++counter};
  connection.StartTransaction(desc);
  connection.ExecuteDirect("UPDATE VERSAOBD SET EM_ATUALIZACAO = NULL");
  EXPECT_EQ(connection.Execute("UPDATE VERSAOBD SET VERSAOBANCO = ? WHERE CODVERSAO = ?",
                               {std::string("1.4.3"), std::string("2")}),
            0u);
  connection.Commit(desc);
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD"), "<null>");
  EXPECT_THROW(connection.Commit(desc), KorvaError);

  // Outside an explicit transaction a statement commits at once.
  connection.ExecuteDirect("UPDATE VERSAOBD SET EM_ATUALIZACAO = 'S'");
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD"), "S");

  // Closing with an open transaction rolls it back.
  connection.StartTransaction(TransactionDesc{++counter});
  connection.ExecuteDirect("UPDATE VERSAOBD SET EM_ATUALIZACAO = 'N'");
  connection.Close();
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD"), "S");
}

TEST_F(DbSmoke, CommitRetainKeepsTheWorkAndEndsTheTransactionForTheProgram) {
  Connection connection("c");
  connection.SetParams(Params(site.usersDatabase, {"CommitRetain=True"}));
  connection.StartTransaction(TransactionDesc{1});
  connection.ExecuteDirect("UPDATE VERSAOBD SET VERSAOBANCO = '1.5.0'");
  connection.Commit(TransactionDesc{1});
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.5.0");
  connection.StartTransaction(TransactionDesc{2});
  connection.ExecuteDirect("UPDATE VERSAOBD SET VERSAOBANCO = '1.5.1'");
  connection.Commit(TransactionDesc{2});
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.5.1");
}

TEST_F(DbSmoke, LockConflictFailsAtOnceWithoutWaitOnLocksAndWaitsWithIt) {
  Connection holder("holder");
  holder.SetParams(Params(site.usersDatabase));
  holder.StartTransaction(TransactionDesc{1});
  holder.ExecuteDirect("UPDATE VERSAOBD SET VERSAOBANCO = '2.0.0'");

  Connection impatient("impatient");
  impatient.SetParams(Params(site.usersDatabase, {"WaitOnLocks=False"}));
  impatient.StartTransaction(TransactionDesc{2});
  try {
    impatient.ExecuteDirect("UPDATE VERSAOBD SET VERSAOBANCO = '3.0.0'");
    FAIL() << "no lock conflict";
  } catch (const KorvaError& e) {
    EXPECT_NE(std::string(e.what()).find("deadlock\r\nupdate conflicts with concurrent update"),
              std::string::npos)
        << e.what();
  }
  impatient.Rollback(TransactionDesc{2});

  Connection patient("patient");
  patient.SetParams(Params(site.usersDatabase));  // WaitOnLocks=True
  patient.StartTransaction(TransactionDesc{3});
  // The holder lets go once the server shows the patient's update running,
  // that is waiting for the lock (each query sees a fresh monitoring snapshot).
  std::string watched = "the update never waited for the lock";
  std::thread release([&] {
    try {
      Connection watcher("watcher");
      watcher.SetParams(Params(site.usersDatabase));
      watcher.Open();
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (std::chrono::steady_clock::now() < deadline) {
        const db::QueryResult r = watcher.Query(
            "SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$STATE = 1"
            " AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION"
            " AND MON$SQL_TEXT STARTING WITH 'UPDATE VERSAOBD'");
        if (r.rows.at(0).values.at(0) != "0") {
          watched.clear();
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    } catch (const std::exception& e) {
      watched = e.what();
    }
    holder.Rollback(TransactionDesc{1});
  });
  patient.ExecuteDirect("UPDATE VERSAOBD SET VERSAOBANCO = '3.0.0'");
  release.join();
  EXPECT_EQ(watched, "");
  patient.Commit(TransactionDesc{3});
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "3.0.0");
}

TEST_F(DbSmoke, FailuresCarryTheClientsWording) {
  auto messageOf = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const KorvaError& e) {
      return std::string(e.what());
    }
    return std::string("(no failure)");
  };
  Connection wrongPassword("c");
  wrongPassword.SetParams(Params(site.mainDatabase, {"Password=wrong"}));
  EXPECT_NE(messageOf([&] { wrongPassword.Open(); }).find("Your user name and password are not"),
            std::string::npos);
  EXPECT_FALSE(wrongPassword.IsOpen());

  Connection missingFile("c");
  missingFile.SetParams(Params("localhost/3050:" + dir.File("dados/NADA.FDB")));
  EXPECT_NE(messageOf([&] { missingFile.Open(); }).find("I/O error"), std::string::npos);

  Connection noServer("c");
  // A port we hold without listening: nothing answers there.
  const testing::LoopbackSocket closed;
  noServer.SetParams(Params("127.0.0.1/" + std::to_string(closed.Port()) + ":" + site.mainFile));
  EXPECT_NE(messageOf([&] { noServer.Open(); }).find("Unable to complete network request"),
            std::string::npos);

  Connection connection("c");
  connection.SetParams(Params(site.mainDatabase));
  connection.Open();
  const std::string badColumn =
      messageOf([&] { connection.Query("SELECT NAO_EXISTE FROM VERSAOBD"); });
  EXPECT_NE(badColumn.find("Column unknown\r\nNAO_EXISTE"), std::string::npos) << badColumn;
  EXPECT_NE(messageOf([&] { connection.ExecuteDirect("UPDATE NADA SET X = 1"); }).find("NADA"),
            std::string::npos);
  EXPECT_EQ(messageOf([&] { connection.Execute("UPDATE VERSAOBD SET VERSAOBANCO = ?", {}); }),
            "Statement has 1 parameters, 0 values were given");
  // A failed statement outside a transaction leaves the connection usable.
  EXPECT_EQ(connection.Query("SELECT COUNT(*) FROM VERSAOBD").rows.at(0).values[0], "1");
}

}  // namespace
}  // namespace korva
