#include "support/trail.h"

#include <sstream>

#include "support/firebird_fixture.h"
#include "text/strings.h"

namespace korva::testing {

void CreateTrail(const std::string& database, const std::string& moduleColumn) {
  const std::string version =
      "INSERT INTO TRILHA VALUES (NEXT VALUE FOR G_TRILHA, CURRENT_TRANSACTION,\n"
      "    'VERSAO ' || NEW.VERSAOBANCO);";
  const std::string body =
      moduleColumn.empty()
          ? "  " + version
          : "  IF (NEW." + moduleColumn + " IS DISTINCT FROM OLD." + moduleColumn + ") THEN\n" +
                "    INSERT INTO TRILHA VALUES (NEXT VALUE FOR G_TRILHA, CURRENT_TRANSACTION,\n"
                "      'MODULO ' || NEW." +
                moduleColumn + ");\n  ELSE " + version;
  Isql(database,
       "CREATE TABLE TRILHA (SEQ INTEGER, TRANSACAO BIGINT, O VARCHAR(60));\n"
       "CREATE SEQUENCE G_TRILHA;\nCOMMIT;\nSET TERM ^;\n"
       "CREATE TRIGGER TRILHA_VERSAO FOR VERSAOBD AFTER UPDATE AS BEGIN\n" +
           body + "\nEND^\nSET TERM ;^\nCOMMIT;");
}

std::string Trace(const std::string& what) {
  return "INSERT INTO TRILHA VALUES (NEXT VALUE FOR G_TRILHA, CURRENT_TRANSACTION, '" + what + "')";
}

std::vector<std::pair<std::string, std::string>> TrailLines(const std::string& database) {
  std::istringstream out(
      Isql(database, "SET HEADING OFF;\nSELECT TRANSACAO || ' ' || O FROM TRILHA ORDER BY SEQ;"));
  std::vector<std::pair<std::string, std::string>> lines;
  for (std::string line; std::getline(out, line);) {
    line = text::Trim(line);
    if (line.empty()) continue;
    lines.emplace_back(line.substr(0, line.find(' ')), line.substr(line.find(' ') + 1));
  }
  return lines;
}

Trail ReadTrail(const std::string& database) {
  Trail t;
  for (const auto& [transaction, what] : TrailLines(database)) {
    if (what.rfind("MODULO", 0) == 0) continue;
    t.byTransaction[transaction].push_back(what);
    if (what.rfind("VERSAO", 0) != 0) t.groups.push_back(what);
  }
  return t;
}

}  // namespace korva::testing
