// A whole update of a realistic signed EMPRESA site through the scripted
// shell, against vsftpd: the check, 30 statement groups for each database (3
// packages of 10), ten module packages of 10 MiB, one branch, the client
// version report sent back. The reference does the same work with the tools
// alone, in the same run: curl fetching every file (with its ".sig" where it
// has one) in one session per step, isql-fb applying each group with its
// COMMIT and its VERSAOBD update, unzip and cp for the extraction, the branch
// copy and the branch extraction, curl sending the report.
#include <cstdio>
#include <string>
#include <vector>

#include "common.h"
#include "installer/module_installation.h"
#include "support/firebird_fixture.h"
#include "support/run_site.h"
#include "trust/trust.h"

namespace {

using namespace korva::testing;
using namespace korva::bench;
using korva::trust::Domain;

constexpr double kGoal = 1.2;
constexpr int kRounds = 2;
const char* const kUsersVersions[] = {"1.4.3", "1.4.4", "1.4.5"};
const char* const kMainVersions[] = {"3.16.51", "3.16.52", "3.16.53"};

// Ten groups of a package: a table, rows, a change of it and an index.
std::vector<std::vector<std::string>> Groups(const std::string& table) {
  std::vector<std::vector<std::string>> groups{
      {"CREATE TABLE " + table + " (", "  ID INTEGER NOT NULL PRIMARY KEY,",
       "  NOME VARCHAR(60) NOT NULL,", "  VALOR NUMERIC(15, 2) DEFAULT 0)"}};
  for (int g = 0; g < 7; ++g) {
    const std::string from = std::to_string(g * 200 + 1), to = std::to_string(g * 200 + 200);
    groups.push_back({"EXECUTE BLOCK AS", "  DECLARE I INTEGER = " + from + ";", "BEGIN",
                      "  WHILE (I <= " + to + ") DO", "  BEGIN",
                      "    INSERT INTO " + table + " VALUES (:I, 'Item ' || :I, :I * 1.5);",
                      "    I = I + 1;", "  END", "END"});
  }
  groups.push_back({"UPDATE " + table + " SET VALOR = VALOR * 1.1 WHERE MOD(ID, 3) = 0"});
  groups.push_back({"CREATE INDEX IX_" + table + "_NOME ON " + table + " (NOME)"});
  return groups;
}

std::string PackageName(const std::string& prefix, std::string version) {
  for (char& c : version) {
    if (c == '.') c = '_';
  }
  return prefix + version + ".ini";
}

struct Served {
  std::vector<std::string> usersPackages, mainPackages, modulePackages;
};

// The server's folder, published as the maker does.
Served Serve(UpdateSite& s, const korva::trust::KeyPair& maker, const std::string& stock) {
  Served served;
  std::string catalogue =
      "[EMPRESA]\nID=KORVA\nSERIE=1\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.5\n"
      "[BANCO_KORVA]\nÚltimaVersão=3.16.53\n";
  for (const char* m : kModules) {
    const std::string executable = std::string("E") + m + ".EXE";
    const std::string package = korva::installer::PackageName(executable);
    const std::string bytes = ReadBytes(stock + "/" + package);
    s.server->PutFile(s.ServerFolder() + "/" + package, bytes);
    korva::trust::Sha256 sha;
    sha.Update(bytes);
    catalogue += "[" + executable +
                 "]\nÚltimaVersão=9.0.0\nSHA256=" + korva::trust::Hex(sha.Finish()) +
                 "\nTAMANHO=" + std::to_string(bytes.size()) + "\n";
    served.modulePackages.push_back(package);
  }
  s.PutSigned(maker, Domain::Catalogue, s.CatalogueName(), CrLf(catalogue));
  int table = 0;
  for (const char* v : kUsersVersions) {
    const std::string name = PackageName("script_usuario_", v);
    s.PutSigned(maker, Domain::ScriptPackage, name,
                ScriptPackage(v, Groups("U" + std::to_string(++table))));
    served.usersPackages.push_back(name);
  }
  for (const char* v : kMainVersions) {
    const std::string name = PackageName("script_korva_", v);
    s.PutSigned(maker, Domain::ScriptPackage, name,
                ScriptPackage(v, Groups("M" + std::to_string(++table))));
    served.mainPackages.push_back(name);
  }
  s.PutClientFileOnServer(CrLf("[BDUSUARIO]\nversao=1.4.2\n"));
  return served;
}

// One session of curl for the files of one step; each file's SIZE is asked.
std::string Curl(const UpdateSite& s, const std::string& folder,
                 const std::vector<std::string>& names, const std::string& into) {
  std::string command = "curl -sS --ftp-pasv --user 'korva:K7p3R#'";
  const std::string base = "ftp://127.0.0.1:" + std::to_string(s.server->Port()) + folder + "/";
  for (const std::string& name : names) {
    command += " -o '" + into + "/" + name + "' '" + base + name + "'";
  }
  return command;
}

// The database steps with isql-fb: each group with its version and COMMIT.
std::string IsqlScript(const std::vector<std::string>& versions, int firstTable) {
  std::string script = "SET TERM ^;\n";
  for (const std::string& version : versions) {
    for (const auto& lines : Groups((firstTable > 3 ? "M" : "U") + std::to_string(firstTable))) {
      for (const auto& line : lines) script += line + "\n";
      script += "^\nUPDATE VERSAOBD SET VERSAOBANCO = '" + version + "'^\nCOMMIT^\n";
    }
    ++firstTable;
  }
  return script;
}

double Reference(UpdateSite& ref, const UpdateSite& s, const Served& served,
                 const std::string& work, const std::string& branch) {
  Run("rm -rf '" + work + "' '" + branch + "' && mkdir -p '" + work + "' '" + branch + "'");
  const std::string folder = s.ServerFolder();
  std::vector<std::string> users, main;
  for (const auto& n : served.usersPackages) {
    users.push_back(n);
    users.push_back(n + ".sig");
  }
  for (const auto& n : served.mainPackages) {
    main.push_back(n);
    main.push_back(n + ".sig");
  }
  const std::string client = std::string(UpdateSite::kClientId) + ".ini";
  const auto start = Clock::now();
  Run(Curl(s, folder, {s.CatalogueName(), s.CatalogueName() + ".sig"}, work) + " && " +
      Curl(s, "/httpdocs/versao_cliente", {client}, work));
  Run(Curl(s, folder, users, work));
  Isql(ref.site.usersDatabase, IsqlScript({"1.4.3", "1.4.4", "1.4.5"}, 1));
  Run(Curl(s, folder, main, work));
  Isql(ref.site.mainDatabase, IsqlScript({"3.16.51", "3.16.52", "3.16.53"}, 4));
  std::string modules = Curl(s, folder, served.modulePackages, work);
  for (const auto& package : served.modulePackages) {
    modules += " && unzip -o -q '" + work + "/" + package + "' -d '" + work + "' && cp '" + work +
               "/" + package + "' '" + branch + "/' && unzip -o -q '" + branch + "/" + package +
               "' -d '" + branch + "'";
  }
  Run(modules + " && sync");
  Run("curl -sS --ftp-pasv --user 'korva:K7p3R#' -T '" + work + "/" + client +
      "' 'ftp://127.0.0.1:" + std::to_string(s.server->Port()) + "/httpdocs/versao_cliente/" +
      client + "'");
  return Seconds(start);
}

}  // namespace

int main() {
  return Guarded("run", [] {
    TempDir scratch;
    const std::string stock = scratch.File("pacotes");
    MakeModulePackages(stock, 7);
    Best best;
    for (int round = 0; round < kRounds; ++round) {
      const korva::trust::KeyPair maker = korva::trust::GenerateKeyPair();
      std::vector<std::string> arguments{PublicKeyArgument(maker)};
      for (const char* m : kModules)
        arguments.push_back(std::string("--module=") + m + "=E" + m + ".EXE");
      RunSite r("EMPRESA", FtpServerKind::Vsftpd, false, arguments);
      UpdateSite reference(SiteOptions{"EMPRESA"}, std::nullopt);
      const Served served = Serve(r.s, maker, stock);
      if (!r.s.Start()) throw std::runtime_error("the updater did not start");

      const double ours = Seconds([&] { r.ClickThrough(); });
      if (r.s.shell.messages != std::vector<korva::Message>{kSuccess})
        throw std::runtime_error("the run did not succeed");
      const double tools = Reference(reference, r.s, served, scratch.File("referencia"),
                                     scratch.File("referencia-filial"));
      const std::string check = "SELECT COUNT(*) FROM M6";
      if (IsqlValue(r.s.site.mainDatabase, check) != IsqlValue(reference.site.mainDatabase, check))
        throw std::runtime_error("the two main databases differ");
      best.Add(ours, tools);
    }
    std::printf(
        "bench run: 30 + 30 groups, 10 modules of 10 MiB, one branch, signed: updater %.3f s, "
        "curl/isql-fb/unzip/cp %.3f s (best of %d)\n",
        best.ours, best.reference, kRounds);
    return Verdict("run", best, kGoal);
  });
}
