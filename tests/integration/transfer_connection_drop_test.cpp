// The server side of the session goes away in the middle of a download (a
// relay in front of a real vsftpd closes every connection of the session
// after exactly the bytes given): at 30 % of a module package, at 30 % of a
// script package and half-way through the catalogue. Each run ends with its
// download failure; nothing of the part received is used, no statement runs
// and no executable is set aside; the next run downloads the file whole,
// never resuming it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "settings/profile_file.h"
#include "support/firebird_fixture.h"
#include "support/ftp_relay.h"
#include "support/update_site.h"

namespace korva {
namespace {

using namespace testing;

const Message kSuccess{"KORVA", "Atualizações efetuadas com sucesso", MsgIcon::Information, kOk,
                       kOk};

// Bytes that no compression shrinks: a package keeps its size.
std::string Noise(std::size_t size) {
  std::mt19937 random(20261209);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Comment lines that make a profile file long without changing what it says.
std::string Padding(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += ";" + std::string(70, 'x') + "\r\n";
  return text;
}

enum class Cut { ModulePackage, ScriptPackage, Catalogue };

struct Case {
  const char* name;
  Cut cut;
  const char* file;
  int percent;
};

class ConnectionDrop : public ::testing::TestWithParam<Case> {
 protected:
  ConnectionDrop()
      : s(SiteOptions{"EMPRESA",
                      "FDB",
                      {"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3",
                       "--app-module=EADM.EXE=1.9.12", "--app-module=EVEI.EXE=1.0.0"}},
          FtpServerKind::Vsftpd),
        relay(s.server->Port()) {
    settings::ProfileFile(s.Local("KORVA.INI"))
        .WriteString("UPDATE", "SERVIDOR_FTP", "127.0.0.1:" + std::to_string(relay.Port()));
    Isql(s.site.mainDatabase, "CREATE TABLE CLIENTE (CODCLIENTE INTEGER);\nCOMMIT;");
    s.PutCatalogue(CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n"
                        "[BANCO_KORVA]\nÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n") +
                   Padding(3000));
    s.PutUpdateFile("script_korva_3_16_51.ini",
                    ScriptPackage("3.16.51", {{"INSERT INTO CLIENTE VALUES (1)"},
                                              {"INSERT INTO CLIENTE VALUES (2)"}}) +
                        Padding(4000));
    s.PutModulePackage("EFIN.EXE", "2.2.0", {{"EFIN.DAT", Noise(400 * 1024)}});
  }

  std::string Served(const std::string& name) const {
    return s.server->GetFile(s.ServerFolder() + "/" + name);
  }
  void ClickThrough() {
    Principal& p = *s.principal;
    p.Dispatch([&] { p.BtBtnNovasAtualizacoesClick(); });
    if (s.shell.endRequests) return;
    p.Dispatch([&] { p.BtbtnIniciarAtualizacaoClick(); });
    if (s.form.ActivePage() != &s.form.TbShtBackup) return;
    s.form.RGBackup.SetItemIndex(0);
    p.Dispatch([&] { p.RGBackupClick(); });
    p.Dispatch([&] { p.BtBtnContinuarClick(); });
  }
  std::vector<std::string> Retrievals() const {
    std::vector<std::string> seen;
    for (const std::string& command : s.server->Commands()) {
      if (command.rfind("RETR ", 0) == 0 || command.rfind("REST", 0) == 0) seen.push_back(command);
    }
    return seen;
  }

  UpdateSite s;
  FtpRelay relay;
};

TEST_P(ConnectionDrop, TheRunEndsWithItsDownloadFailureAndTheNextFetchesTheWholeFile) {
  const Case& c = GetParam();
  const std::int64_t size = static_cast<std::int64_t>(Served(c.file).size());
  relay.CutDownload(c.file, size * c.percent / 100);
  ASSERT_TRUE(s.Start());
  ClickThrough();
  ASSERT_EQ(relay.Cuts(), 1);

  const std::string gone = "The FTP server closed the connection.";
  switch (c.cut) {
    case Cut::Catalogue:
      EXPECT_THAT(s.shell.messages,
                  ElementsAre(Message{"KORVA",
                                      "Servidor de atualizações não disponível no momento.\r"
                                      "Verifique sua conexão com a internet ou tente mais tarde."
                                      "\r\rMensagem recebida:\r" +
                                          gone,
                                      MsgIcon::Warning, kOk, kOk}));
      EXPECT_EQ(s.shell.endRequests, 1);
      // Half a catalogue is not left to be read in local mode.
      EXPECT_FALSE(std::filesystem::exists(s.Local(c.file)));
      break;
    case Cut::ScriptPackage:
      EXPECT_THAT(s.shell.messages, ElementsAre(Message{"", gone, MsgIcon::Error, kOk, kOk}));
      // The main database's package goes, whole or not.
      EXPECT_FALSE(std::filesystem::exists(s.Local(c.file)));
      break;
    case Cut::ModulePackage:
      EXPECT_THAT(
          s.shell.messages,
          ElementsAre(Message{"KORVA Update",
                              "Problemas na localização ou leitura do arquivo efin.zip, tente "
                              "novamente!\rCaso o problema persista entre em contato com o "
                              "Suporte Vestramon.",
                              MsgIcon::Error, kOk, kOk},
                      Message{"KORVA",
                              "Erro no Download do arquivo. Por Favor entre em contato com o "
                              "suporte.\rVESTRAMON Sistemas - Suporte: (11) 3456-7890",
                              MsgIcon::Information, kOk, kOk}));
      EXPECT_THAT(ReadBytes(s.Local("LogUpdate.txt")),
                  HasSubstr("NÂO FOI POSSÍVEL fazer o download de efin.zip\r\n"));
      EXPECT_FALSE(std::filesystem::exists(s.App("efin.zip")));
      break;
  }
  // Nothing ran, nothing was set aside.
  EXPECT_EQ(IsqlValue(s.site.mainDatabase, "SELECT COUNT(*) FROM CLIENTE"),
            c.cut == Cut::ModulePackage ? "2" : "0");
  EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
  EXPECT_FALSE(std::filesystem::exists(s.App("EFIN.Old")));
  EXPECT_EQ(IsqlValue(s.site.mainDatabase, "SELECT VERSAO_FIN FROM VERSAOBD"), "2.1.7");

  // The operator starts again: every file comes whole, from its first byte.
  s.server->ForgetCommands();
  s.shell = {};
  s.principal = std::make_unique<Principal>(s.form, s.shell, s.clock);
  ASSERT_TRUE(s.Start());
  ClickThrough();
  EXPECT_THAT(s.shell.messages, ElementsAre(kSuccess));
  EXPECT_EQ(relay.Cuts(), 1);
  const auto retrievals = Retrievals();
  EXPECT_THAT(retrievals, Contains("RETR " + std::string(c.file)));
  EXPECT_THAT(retrievals, Not(Contains(::testing::StartsWith("REST"))));
  EXPECT_EQ(IsqlValue(s.site.mainDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "3.16.51");
  EXPECT_EQ(IsqlValue(s.site.mainDatabase, "SELECT COUNT(*) FROM CLIENTE"), "2");
  EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
  EXPECT_EQ(IsqlValue(s.site.mainDatabase, "SELECT VERSAO_FIN FROM VERSAOBD"), "2.2.0");
}

INSTANTIATE_TEST_SUITE_P(Moments, ConnectionDrop,
                         ::testing::Values(Case{"ModulePackageAt30Percent", Cut::ModulePackage,
                                                "efin.zip", 30},
                                           Case{"ScriptPackageAt30Percent", Cut::ScriptPackage,
                                                "script_korva_3_16_51.ini", 30},
                                           Case{"CatalogueHalfWay", Cut::Catalogue,
                                                "versao_e_modulos_empresa_2012.ini", 50}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korva
