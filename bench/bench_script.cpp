// A script package of 100 realistic statement groups (tables, columns,
// indexes, a procedure, inserts and updates over thousands of rows) applied
// by the engine to a fresh main database, against isql-fb running the same
// statements with a commit after each on another fresh database of the same
// server, in the same run.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common.h"
#include "support/firebird_fixture.h"
#include "support/update_site.h"

namespace {

using namespace korva::bench;
using korva::testing::UpdateSite;

constexpr double kGoal = 1.2;
constexpr int kRows = 1000;

// One statement per entry, in order; lines kept apart as a package keeps them.
std::vector<std::vector<std::string>> Statements() {
  std::vector<std::vector<std::string>> s;
  s.push_back({"CREATE TABLE PRODUTO (", "  ID INTEGER NOT NULL PRIMARY KEY,",
               "  NOME VARCHAR(60),", "  PRECO NUMERIC(15, 2),", "  ESTOQUE INTEGER)"});
  s.push_back({"CREATE TABLE MOVIMENTO (", "  ID INTEGER NOT NULL PRIMARY KEY,",
               "  PRODUTO INTEGER NOT NULL,", "  QUANTIDADE INTEGER,", "  DATA DATE)"});
  s.push_back({"CREATE PROCEDURE REAJUSTA (FATOR NUMERIC(15, 4), RESTO INTEGER)", "AS", "BEGIN",
               "  UPDATE PRODUTO SET PRECO = PRECO * :FATOR WHERE MOD(ID, 7) = :RESTO;", "END"});
  for (int block = 0; block < 20; ++block) {
    const std::string from = std::to_string(block * kRows);
    s.push_back({"EXECUTE BLOCK AS", "  DECLARE I INTEGER = 0;", "BEGIN",
                 "  WHILE (I < " + std::to_string(kRows) + ") DO", "  BEGIN",
                 "    INSERT INTO PRODUTO (ID, NOME, PRECO, ESTOQUE)",
                 "    VALUES (" + from + " + :I, 'PRODUTO ' || (" + from +
                     " + :I), :I * 1.5, MOD(:I, 100));",
                 "    INSERT INTO MOVIMENTO (ID, PRODUTO, QUANTIDADE, DATA)",
                 "    VALUES (" + from + " + :I, " + from + " + :I, MOD(:I, 13), CURRENT_DATE);",
                 "    I = I + 1;", "  END", "END"});
  }
  for (int i = 0; i < 8; ++i) {
    s.push_back({"ALTER TABLE PRODUTO ADD CAMPO" + std::to_string(i) + " VARCHAR(20)"});
    s.push_back({"CREATE INDEX IX_PRODUTO_" + std::to_string(i) + " ON PRODUTO (ESTOQUE, ID)"});
    s.push_back({"DROP INDEX IX_PRODUTO_" + std::to_string(i)});
  }
  while (s.size() < 100) {
    const std::string n = std::to_string(s.size());
    s.push_back({"UPDATE PRODUTO SET ESTOQUE = ESTOQUE + 1,", "  NOME = NOME || ''",
                 "WHERE MOD(ID, 5) = MOD(" + n + ", 5)"});
    if (s.size() < 100) s.push_back({"EXECUTE PROCEDURE REAJUSTA(1.01, MOD(" + n + ", 7))"});
    if (s.size() < 100)
      s.push_back({"DELETE FROM MOVIMENTO WHERE MOD(ID, 97) = MOD(" + n + ", 97)"});
  }
  return s;
}

// One round on two fresh databases: our engine, then isql-fb with the same
// statements; the two databases must end alike.
std::pair<double, double> Round(const std::vector<std::vector<std::string>>& statements) {
  // Signed, as a site with the maker's key takes its packages.
  const korva::trust::KeyPair maker = korva::trust::GenerateKeyPair();
  UpdateSite ours(
      korva::testing::SiteOptions{"EMPRESA", "FDB", {korva::testing::PublicKeyArgument(maker)}},
      std::nullopt);
  UpdateSite reference(korva::testing::SiteOptions{"EMPRESA"}, std::nullopt);
  ours.PutSigned(maker, korva::trust::Domain::ScriptPackage, "script_korva_3_16_51.ini",
                 korva::testing::ScriptPackage("3.16.51", statements));
  if (!ours.Start()) throw std::runtime_error("the updater did not start");
  ours.principal->Session().run.latestMainVersion = "3.16.51";
  ours.principal->Session().records.clientVersionFilePath = ours.Local("cliente.ini");

  const double oursSeconds = Seconds([&] {
    if (!ours.principal->AtualizaBanco(korva::dbupdate::Step::AtualizaBancoEmpresa))
      throw std::runtime_error("the package failed");
  });

  std::string script = "SET TERM ^;\n";
  for (const auto& lines : statements) {
    for (const auto& line : lines) script += line + "\n";
    script += "^\nCOMMIT^\n";
  }
  const double isqlSeconds =
      Seconds([&] { korva::testing::Isql(reference.site.mainDatabase, script); });

  const std::string check = "SELECT COUNT(*) || ' ' || SUM(ESTOQUE) FROM PRODUTO";
  if (korva::testing::IsqlValue(ours.site.mainDatabase, check) !=
      korva::testing::IsqlValue(reference.site.mainDatabase, check))
    throw std::runtime_error("the two databases differ");
  return {oursSeconds, isqlSeconds};
}

}  // namespace

int main() {
  return Guarded("script", [] {
    const auto statements = Statements();
    Best best;
    for (int round = 0; round < 3; ++round) {
      const auto [ours, isql] = Round(statements);
      best.Add(ours, isql);
    }
    std::printf("bench script: %zu groups, engine %.3f s, isql-fb %.3f s (best of 3)\n",
                statements.size(), best.ours, best.reference);
    return Verdict("script", best, kGoal);
  });
}
