// The window's life against a real site: start-up, first showing and exit of
// the main window, wired the way the program wires them, on both editions.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/principal.h"
#include "platform/files.h"
#include "support/firebird_fixture.h"
#include "support/scripted_shell.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "text/error.h"
#include "vendor/vendor_library.h"

namespace korva {
namespace {

using testing::BuildSite;
using testing::Isql;
using testing::IsqlValue;
using testing::ScriptedShell;
using testing::Site;
using testing::SiteOptions;
using testing::TempDir;

const Message kDatabaseUnavailable{"KORVA",
                                   "Não foi possível se conectar ao servidor de Banco de Dados.\r"
                                   "Verifique os seguintes passos:\r"
                                   "1. Se seu servidor está ligado.\r"
                                   "2. Se sua rede está operacional.\r"
                                   "3. Suas permissões de acesso ao servidor.",
                                   MsgIcon::Error, kOk, kOk};
const Message kAtivado{"KORVA Update", "Modo de Atualização Protegido: Ativado.",
                       MsgIcon::Information, kOk, kNoButton};
const Message kDesativado{"KORVA Update", "Modo de Atualização Protegido: Desativado.",
                          MsgIcon::Information, kOk, kNoButton};

// Messages compared on what the operator sees: caption, text, icon, buttons.
void ExpectMessages(const std::vector<Message>& seen, const std::vector<Message>& expected) {
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].caption, expected[i].caption) << i;
    EXPECT_EQ(seen[i].text, expected[i].text) << i;
    EXPECT_EQ(seen[i].icon, expected[i].icon) << i;
    EXPECT_EQ(seen[i].buttons, expected[i].buttons) << i;
  }
}

class StartUp : public ::testing::Test {
 protected:
  void Build(SiteOptions options) {
    options.copyPrograms = true;
    site = BuildSite(dir.Path(), options);
    platform::OverrideExecutablePath(platform::JoinPath(site.folder, "korvaupdate"));
    principal = std::make_unique<Principal>(form, shell, clock);
  }
  void TearDown() override {
    principal.reset();
    platform::OverrideExecutablePath(std::nullopt);
  }
  std::string Panel(int i) const { return form.StatusBar.PanelText(i); }

  TempDir dir;
  Site site;
  form::FormModel form;
  ScriptedShell shell;
  platform::SystemClock clock;
  std::unique_ptr<Principal> principal;
};

TEST_F(StartUp, EmpresaSiteOpensWithItsBuildServerVersionsAndModules) {
  Build(SiteOptions{"EMPRESA",
                    "FDB",
                    {"--main-version=3.16.48", "--module=FINANCEIRO=efin.exe",
                     "--module=ESTOQUE=EEST", "--module=ADM=bin.v2\\EADM"}});
  const std::string logFile = platform::JoinPath(site.folder, "LogUpdate.txt");
  testing::WriteBytes(logFile, "earlier session\r\n");

  principal->FormCreate();
  ASSERT_EQ(shell.endRequests, 0);
  EXPECT_TRUE(shell.messages.empty());

  const std::string build = vendor::GetBuildInfo(site.folder + "/korvaupdate", "BUILD");
  ASSERT_FALSE(build.empty());
  EXPECT_EQ(form.Caption(),
            "           KORVA - Atualização de Sistemas / Banco de Dados -  Versão: " + build);
  SessionState& s = principal->Session();
  EXPECT_EQ(s.site.edition, versions::Edition::Empresa);
  EXPECT_EQ(s.site.clientId, "12.345.678/0001-90");
  EXPECT_EQ(s.site.applicationFolder, site.applicationFolder);
  EXPECT_EQ(Panel(0), "Servidor: LOCALHOST/3050");
  EXPECT_EQ(Panel(3), "FTP Ativo");
  EXPECT_EQ(s.records.logFilePath, logFile);
  EXPECT_FALSE(platform::FileExists(logFile)) << "each session's log starts empty";
  ASSERT_EQ(principal->InstalledModules().size(), 3u);
  EXPECT_EQ(principal->InstalledModules()[0].NOMEARQUIVO, "efin.EXE");
  EXPECT_EQ(principal->InstalledModules()[1].NOMEARQUIVO, "EEST.EXE");
  EXPECT_EQ(principal->InstalledModules()[2].NOMEARQUIVO, "bin.v2\\EADM.EXE");
  EXPECT_EQ(form.RdGrpModotAtualizacao.ItemIndex(), 1);

  principal->FormShow();
  EXPECT_EQ(form.ActivePage(), &form.TbShtInicio);
  EXPECT_EQ(s.database.recordedMainVersion, "3.16.48");
  EXPECT_EQ(Panel(1), "BD Korva: 3.16.48");
  EXPECT_TRUE(s.baselineReached);
  EXPECT_EQ(s.database.nextVersion, "3.16.49");
  EXPECT_TRUE(s.database.usersVersionAvailable);
  EXPECT_EQ(Panel(2), "BD Usuário: 1.4.2");
  EXPECT_TRUE(shell.messages.empty());

  principal->FormClose();
  EXPECT_FALSE(principal->SQLConnectionKORVA().IsOpen());
  EXPECT_FALSE(principal->SQLConnectionUSUARIO().IsOpen());
  principal->FormDestroy();
  EXPECT_TRUE(shell.messages.empty()) << "no database access at exit when the mode is off";
}

TEST_F(StartUp, CartorioSiteShowsItsOwnPanelAndNeverReachesTheBaseline) {
  Build(SiteOptions{"CARTORIO", "GDB", {"--main-version=3.99.99", "--no-client-id"}});
  principal->FormCreate();
  ASSERT_EQ(shell.endRequests, 0);
  EXPECT_EQ(principal->Session().site.edition, versions::Edition::Cartorio);
  EXPECT_EQ(principal->Session().site.clientId, "");
  principal->FormShow();
  EXPECT_EQ(Panel(1), "Cartorio: 3.99.99");
  EXPECT_FALSE(principal->Session().baselineReached);
  EXPECT_EQ(principal->Session().database.nextVersion, "3.100.00");
  EXPECT_EQ(Panel(2), "BD Usuário: 1.4.2");
}

TEST_F(StartUp, TheBaselineVersionItselfIsNotPastTheBaseline) {
  Build(SiteOptions{"EMPRESA", "FDB", {"--main-version=3.16.47"}});
  principal->FormCreate();
  principal->FormShow();
  EXPECT_FALSE(principal->Session().baselineReached);
  EXPECT_EQ(principal->Session().database.nextVersion, "3.16.48");
}

TEST_F(StartUp, AnUnreachableUsersDatabaseEndsTheProgramAndKeepsTheOldLog) {
  Build(SiteOptions{});
  std::filesystem::remove(site.usersFile);
  const std::string logFile = platform::JoinPath(site.folder, "LogUpdate.txt");
  testing::WriteBytes(logFile, "earlier session\r\n");

  principal->FormCreate();
  ExpectMessages(shell.messages, {kDatabaseUnavailable});
  EXPECT_EQ(shell.endRequests, 1);
  EXPECT_EQ(testing::ReadBytes(logFile), "earlier session\r\n");
}

TEST_F(StartUp, ABadProxyPortEndsTheProgramWithTheDatabaseMessage) {
  Build(SiteOptions{});
  testing::WriteBytes(site.folder + "/KORVA.INI",
                      "[UPDATE]\r\nPROXY_HOST=proxy\r\nPROXY_PORTA=80a\r\nTIPO_FTP=1\r\n");
  principal->FormCreate();
  ExpectMessages(shell.messages, {kDatabaseUnavailable});
  EXPECT_EQ(shell.endRequests, 1);
}

TEST_F(StartUp, SettingsReachTheTransferSession) {
  Build(SiteOptions{});
  testing::WriteBytes(site.folder + "/KORVA.INI",
                      "[UPDATE]\r\nTIPO_FTP=7\r\nPROXY_HOST=proxy\r\nPROXY_PORTA=8080\r\n"
                      "SERVIDOR_FTP=127.0.0.1:2121\r\n");
  principal->FormCreate();
  ASSERT_TRUE(shell.messages.empty());
  EXPECT_TRUE(principal->IdFTPKorva().Passive());
  EXPECT_EQ(principal->IdFTPKorva().Host(), "127.0.0.1");
  EXPECT_EQ(principal->IdFTPKorva().Port(), 2121);
  EXPECT_EQ(principal->IdFTPKorva().Proxy().port, 8080);
  EXPECT_EQ(Panel(3), "FTP Passivo");

  // Saving "Ativo" switches the session back; the server override stays.
  form.RdGrpMetodoFTP.SetItemIndex(0);
  EXPECT_TRUE(principal->IdFTPKorva().Passive()) << "changing the selector alone changes nothing";
  principal->BtBtnGravaConfigClick();
  EXPECT_FALSE(principal->IdFTPKorva().Passive());
  EXPECT_EQ(Panel(3), "FTP Ativo");
  EXPECT_NE(testing::ReadBytes(site.folder + "/KORVA.INI").find("SERVIDOR_FTP=127.0.0.1:2121"),
            std::string::npos);
}

TEST_F(StartUp, ProtectedModeOnAtStartIsShownAndSwitchedOffAtExit) {
  Build(SiteOptions{"EMPRESA", "FDB", {"--protected=S"}});
  principal->FormCreate();
  ExpectMessages(shell.messages, {kAtivado});
  EXPECT_EQ(form.RdGrpModotAtualizacao.ItemIndex(), 0);
  principal->FormShow();

  // Closing the window closes both connections; the exit reopens the users
  // database to record the mode as off.
  principal->FormClose();
  principal->FormDestroy();
  ExpectMessages(shell.messages, {kAtivado, kDesativado});
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD"), "N");
}

TEST_F(StartUp, SwitchingProtectedModeFromTheSelectorWritesAndTellsEachTime) {
  Build(SiteOptions{"EMPRESA", "FDB", {"--protected=N"}});
  principal->FormCreate();
  principal->FormShow();
  ASSERT_TRUE(shell.messages.empty());

  // The window changes the selection inside Dispatch, as a click does.
  principal->Dispatch([&] { form.RdGrpModotAtualizacao.SetItemIndex(0); });
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD"), "S");
  principal->Dispatch([&] { form.RdGrpModotAtualizacao.SetItemIndex(1); });
  EXPECT_EQ(IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD"), "N");
  ExpectMessages(shell.messages, {kAtivado, kDesativado});
  EXPECT_EQ(principal->Session().transactions.transactionCounter, 2u);
}

TEST_F(StartUp, AMissingVendorLibraryStopsTheStartWithItsText) {
  Build(SiteOptions{});
  std::filesystem::remove(site.folder + "/KorvaLib.dll");
  try {
    principal->FormCreate();
    FAIL() << "start-up went on without the vendor library";
  } catch (const KorvaError& e) {
    EXPECT_STREQ(e.what(), "KorvaLib.Dll não disponível.");
  }
}

}  // namespace
}  // namespace korva
