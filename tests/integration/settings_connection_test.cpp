// Both connections resolved from a real installation folder and attached to
// the real server, and the start-up reads of the users database.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "settings/installed_modules.h"
#include "support/error_text.h"
#include "support/firebird_fixture.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva {
namespace {

using testing::BuildSite;
using testing::ErrorOf;
using testing::Site;
using testing::SiteOptions;
using testing::SiteSession;
using testing::TempDir;

// A site built in a scratch folder, its connections resolved from its files
// and both opened unless the test opens them itself.
struct OpenedSite {
  explicit OpenedSite(const SiteOptions& options = {}, bool open = true)
      : site(BuildSite(dir.Path(), options)), s(site.folder) {
    if (open) {
      s.main.Open();
      s.users.Open();
    }
  }
  TempDir dir;
  Site site;
  SiteSession s;
};

std::string AttachedFile(db::Connection& connection) {
  return connection.Query("SELECT MON$DATABASE_NAME FROM MON$DATABASE").rows.at(0).values[0];
}

TEST(SettingsConnection, EmpresaSiteOpensBothDatabases) {
  OpenedSite o;
  auto& [dir, site, s] = o;
  EXPECT_EQ(s.session.site.edition, versions::Edition::Empresa);
  EXPECT_EQ(s.form.StatusBar.PanelText(0), "Servidor: LOCALHOST/3050");
  EXPECT_EQ(s.session.site.applicationFolder, site.applicationFolder);
  EXPECT_EQ(AttachedFile(s.main), site.mainFile);
  EXPECT_EQ(AttachedFile(s.users), site.usersFile);
  EXPECT_EQ(s.main.Query("SELECT CURRENT_USER FROM RDB$DATABASE").rows.at(0).values[0], "KORVA");
}

TEST(SettingsConnection, CartorioSiteThroughTheAccentedSectionWithEveryExtensionRule) {
  for (const char* extension : {"FDB", "NONE", "EMPTY"}) {
    OpenedSite o(SiteOptions{"CARTORIO", extension});
    auto& [dir, site, s] = o;
    EXPECT_EQ(s.session.site.edition, versions::Edition::Cartorio);
    EXPECT_EQ(AttachedFile(s.main), site.mainFile);
    EXPECT_EQ(AttachedFile(s.users), site.usersFile) << extension;
    const std::string expectedName = std::string(extension) == "NONE"    ? "USUARIO.GDB"
                                     : std::string(extension) == "EMPTY" ? "USUARIO."
                                                                         : "USUARIO.FDB";
    EXPECT_EQ(std::filesystem::path(site.usersFile).filename(), expectedName);
  }
}

TEST(SettingsConnection, CartorioWithoutEmpresaSectionStillOpensTheUsersDatabase) {
  OpenedSite o(SiteOptions{"CARTORIO", "FDB", {"--no-empresa-section"}});
  auto& [dir, site, s] = o;
  EXPECT_EQ(s.users.Params().size(), 3u);
  EXPECT_EQ(AttachedFile(s.users), site.usersFile);
}

TEST(SettingsConnection, CredentialsWrittenInTheSectionAreTheOnesUsed) {
  OpenedSite o(SiteOptions{"EMPRESA", "FDB", {"--param=User_Name=KORVA", "--param=Password=x"}},
               false);
  SiteSession& s = o.s;
  const std::string failure = ErrorOf<KorvaError>([&] { s.main.Open(); });
  EXPECT_NE(failure.find("Your user name and password are not defined"), std::string::npos)
      << failure;
  EXPECT_FALSE(s.main.IsOpen());
}

TEST(SettingsConnection, StartUpReadsClientIdAndModulesInServerOrder) {
  OpenedSite o(SiteOptions{"EMPRESA",
                           "FDB",
                           {"--module=  Vendas=EVEN", "--module=FIN=efin.bpl",
                            "--module=ADM=MOD.V2\\EADM", "--module=Ação=x.y.EXE"}});
  auto& [dir, site, s] = o;
  EXPECT_EQ(settings::ReadClientId(s.users), "12.345.678/0001-90");
  const settings::InstalledModules expected = {{"Vendas", "EVEN.EXE"},
                                               {"FIN", "efin.EXE"},
                                               {"ADM", "MOD.V2\\EADM.EXE"},
                                               {"Ação", "x.y.EXE"}};
  EXPECT_EQ(settings::ReadInstalledModules(s.users), expected);
  // The same order as the server gives its own client for the same query.
  std::istringstream isqlRows(testing::Isql(
      site.usersDatabase, "SET HEADING OFF;\nSELECT NOMEMODULO, NOMEEXECUTAVEL FROM MODULO;"));
  std::vector<std::string> isqlOrder;
  for (std::string line; std::getline(isqlRows, line);)
    if (!text::Trim(line).empty()) isqlOrder.push_back(text::Trim(line).substr(0, 4));
  EXPECT_EQ(isqlOrder, (std::vector<std::string>{"Vend", "FIN ", "ADM ", "Ação"}));
}

TEST(SettingsConnection, EmptyLicenceTableGivesAnEmptyClientId) {
  OpenedSite o(SiteOptions{"CARTORIO", "FDB", {"--no-client-id"}});
  auto& [dir, site, s] = o;
  EXPECT_EQ(settings::ReadClientId(s.users), "");
  testing::Isql(site.usersDatabase,
                "INSERT INTO EMPRESA_LIC VALUES ('\t98.765.432/0001-10\r');\nCOMMIT;");
  EXPECT_EQ(settings::ReadClientId(s.users), "98.765.432/0001-10");
}

TEST(SettingsConnection, UnreachableUsersDatabaseFailsWithTheClientsWording) {
  OpenedSite o({}, false);
  auto& [dir, site, s] = o;
  std::filesystem::remove(site.usersFile);
  s.main.Open();
  const std::string failure = ErrorOf<KorvaError>([&] { s.users.Open(); });
  EXPECT_NE(failure.find("I/O error during \"open\" operation for file \"" + site.usersFile + "\""),
            std::string::npos)
      << failure;
  EXPECT_FALSE(s.users.IsOpen());
  EXPECT_TRUE(s.main.IsOpen());
}

TEST(SettingsConnection, ReopeningResolvesFromTheFileAgain) {
  OpenedSite o({}, false);
  auto& [dir, site, s] = o;
  s.main.Open();
  s.main.Close();
  std::filesystem::remove(dir.File("dbxconnections.ini"));
  EXPECT_EQ(ErrorOf<KorvaError>([&] { s.main.Open(); }),
            "Driver/Connection Registry File '" + dir.File("dbxconnections.ini") + "' not found");
  EXPECT_EQ(s.session.site.edition, versions::Edition::Cartorio);
  EXPECT_EQ(s.form.StatusBar.PanelText(0), "Servidor: ");
  EXPECT_FALSE(s.main.IsOpen());
}

}  // namespace
}  // namespace korva
