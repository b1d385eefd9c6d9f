// The catalogue check of a signed EMPRESA installation with 20 modules,
// against the local vsftpd, timed from the click to the filled list, against
// what the check cannot avoid, in the same run: curl fetching the same three
// files (the catalogue, its ".sig" and the client's version file) from the
// same server, and a script making as many durable small-file replacements
// (write beside, flush to disk, rename over) as the check's client version
// report makes.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common.h"
#include "support/update_site.h"

namespace {

using namespace korva::bench;
using korva::testing::CrLf;
using korva::testing::UpdateSite;

constexpr int kRounds = 5;
constexpr double kGoal = 1.5;
constexpr int kModuleCount = 20;

const char* const kRegistry[] = {"ADM", "FIN", "EST", "FCX", "VAU", "SER",
                                 "VEI", "NFE", "SIN", "SPD", "VEN", "PRD"};

std::string Executable(int i) {
  return i < 12 ? std::string("E") + kRegistry[i] + ".EXE" : "M" + std::to_string(i) + ".EXE";
}

// A script of the reference: `count` replacements of a small file, timed by
// the script itself so that starting the interpreter does not count.
double DurableReplacements(const std::string& folder, int count) {
  const std::string script =
      "import os, sys, time\n"
      "folder, count = sys.argv[1], int(sys.argv[2])\n"
      "target = os.path.join(folder, 'reference.ini')\n"
      "data = b'[SECAO]\\r\\nversao=1.2.3\\r\\ndata=09/12/2026\\r\\nhora=21:30:00\\r\\n' * 22\n"
      "start = time.monotonic()\n"
      "for i in range(count):\n"
      "    temp = target + '.tmp'\n"
      "    with open(temp, 'wb') as f:\n"
      "        f.write(data)\n"
      "        f.flush()\n"
      "        os.fsync(f.fileno())\n"
      "    os.rename(temp, target)\n"
      "print(time.monotonic() - start)\n";
  std::string output;
  if (korva::testing::RunCommand({"/usr/bin/python3", "-c", script, folder, std::to_string(count)},
                                 output) != 0) {
    throw std::runtime_error("reference script failed: " + output);
  }
  return std::stod(output);
}

double Curl(int port, const std::string& folder, const std::string& catalogue) {
  const std::string base = "ftp://127.0.0.1:" + std::to_string(port);
  std::string output;
  const auto start = Clock::now();
  if (korva::testing::RunCommand(
          {"curl", "-sS", "--ftp-pasv", "--user", "korva:K7p3R#", "-o", folder + "/c1",
           base + "/httpdocs/empresa_2012/" + catalogue, "-o", folder + "/c3",
           base + "/httpdocs/empresa_2012/" + catalogue + ".sig", "-o", folder + "/c2",
           base + "/httpdocs/versao_cliente/" + UpdateSite::kClientId + ".ini"},
          output) != 0) {
    throw std::runtime_error("curl failed: " + output);
  }
  return Seconds(start);
}

}  // namespace

int main() {
  return Guarded("catalogue", [] {
    std::vector<std::string> arguments;
    for (int i = 0; i < kModuleCount; ++i) {
      const std::string label = i < 12 ? kRegistry[i] : "M" + std::to_string(i);
      arguments.push_back("--module=" + label + "=" + Executable(i));
    }
    const korva::trust::KeyPair maker = korva::trust::GenerateKeyPair();
    arguments.push_back(korva::testing::PublicKeyArgument(maker));
    UpdateSite s(korva::testing::SiteOptions{"EMPRESA", "FDB", arguments},
                 korva::testing::FtpServerKind::Vsftpd);
    std::string catalogue =
        "[EMPRESA]\nID=KORVA\nSERIE=1\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.3\n"
        "[BANCO_KORVA]\nÚltimaVersão=3.16.51\n";
    for (int i = 0; i < kModuleCount; ++i) {
      s.PutModule(Executable(i));
      // Every other module has an update.
      catalogue += "[" + Executable(i) + "]\nÚltimaVersão=" + (i % 2 ? "9.0.0" : "") + "\n";
      if (i % 2 == 0) catalogue.replace(catalogue.size() - 1, 1, "0.0.1\n");
    }
    s.PutSigned(maker, korva::trust::Domain::Catalogue, s.CatalogueName(), CrLf(catalogue));
    s.PutClientFileOnServer(CrLf("[BDUSUARIO]\nversao=1.4.2\n"));
    if (!s.Start()) throw std::runtime_error("the updater did not start");

    Best best;
    // Three keys ("versao", "data", "hora") of both databases and every
    // module examined, each written on its own.
    const int writes = 3 * (2 + kModuleCount);
    for (int round = 0; round < kRounds; ++round) {
      const double ours = Seconds([&] { s.principal->BtBtnNovasAtualizacoesClick(); });
      if (!s.shell.messages.empty() || s.Nodes().size() < 2 + kModuleCount / 2)
        throw std::runtime_error("the check did not list what it should");
      best.Add(ours, Curl(s.server->Port(), s.dir.Path(), s.CatalogueName()) +
                         DurableReplacements(s.dir.Path(), writes));
    }
    std::printf(
        "bench catalogue: check %.3f s, reference %.3f s (curl for 2 files + %d durable "
        "replacements)\n",
        best.ours, best.reference, writes);
    return Verdict("catalogue", best, kGoal);
  });
}
