// The connection file: its own line loader, and how both connections resolve
// their parameters, the edition, the application folder and panel 0 from it.
#include <gtest/gtest.h>

#include <optional>

#include "settings/connection_file.h"
#include "settings/installed_modules.h"
#include "support/principal_fixture.h"
#include "support/temp_dir.h"
#include "text/error.h"

namespace korva {
namespace {

using settings::ConnectionSectionLines;
using Lines = std::vector<std::string>;

std::string WithLineEnds(const std::string& lfText, const std::string& end) {
  std::string out;
  for (char c : lfText) {
    if (c == '\n')
      out += end;
    else
      out += c;
  }
  return out;
}

TEST(ConnectionSectionLines, ReadsTheSectionTheWayTheConnectionLayerDoes) {
  const std::string file =
      "Database=before the first section\n"
      "[OUTRA]\n"
      "Database=other\n"
      "  [ empresa ]  \n"
      "  Database =  srv:/x/KORVA.FDB \n"
      "; a comment\n"
      "\n"
      "\t\n"
      "RoleName=\"quoted value\"\n"
      "a line without equals\n"
      "Key=a=b\n"
      "=no name\n"
      "ServerCharSet=\n"
      "[CARTÓRIO]\n"
      "Database=cartorio\n"
      "[EMPRESA]\n"
      "Database=second section of the name\n";
  const Lines expected = {"Database=srv:/x/KORVA.FDB",
                          "RoleName=\"quoted value\"",
                          "a line without equals",
                          "Key=a=b",
                          "=no name",
                          "ServerCharSet="};
  for (const char* end : {"\r\n", "\n", "\r"}) {
    const std::string bytes = WithLineEnds(file, end);
    EXPECT_EQ(ConnectionSectionLines(bytes, "EMPRESA"), expected) << "line end " << int(end[0]);
    EXPECT_EQ(ConnectionSectionLines(bytes, "cartório"), Lines{"Database=cartorio"});
    EXPECT_EQ(ConnectionSectionLines(bytes, "CARTORIO"), Lines{});
    EXPECT_EQ(ConnectionSectionLines(bytes, "NADA"), Lines{});
  }
  // A last line without a line end, and a lone "[" or "[]".
  EXPECT_EQ(ConnectionSectionLines("[A]\r\nx=1\r\n[\r\n[]\r\ny=2", "A"), (Lines{"x=1", "["}));
  EXPECT_EQ(ConnectionSectionLines("", "A"), Lines{});
}

TEST(ModuleExecutableName, ReplacesOrAddsTheExtension) {
  EXPECT_EQ(settings::ModuleExecutableName("EFIN.EXE            "), "EFIN.EXE");
  EXPECT_EQ(settings::ModuleExecutableName("  efin.bpl "), "efin.EXE");
  EXPECT_EQ(settings::ModuleExecutableName("EFIN"), "EFIN.EXE");
  EXPECT_EQ(settings::ModuleExecutableName("MOD.V2\\EFIN"), "MOD.V2\\EFIN.EXE");
  EXPECT_EQ(settings::ModuleExecutableName("C.D:EFIN"), "C.D:EFIN.EXE");
  EXPECT_EQ(settings::ModuleExecutableName("A.B\\C.D.EXE2"), "A.B\\C.D.EXE");
  EXPECT_EQ(settings::ModuleExecutableName("EFIN."), "EFIN.EXE");
  EXPECT_EQ(settings::ModuleExecutableName(""), ".EXE");
}

class Resolution : public testing::PrincipalFixture {
 protected:
  void Write(const std::string& lfText) {
    testing::WriteBytes(dir.File("dbxconnections.ini"), WithLineEnds(lfText, "\r\n"));
  }
  db::ParameterList Main() { return principal.SQLConnectionKORVABeforeConnect(); }
  db::ParameterList Users(const db::ParameterList& main) {
    principal.SQLConnectionKORVA().SetParams(main);
    return principal.SQLConnectionUSUARIOBeforeConnect();
  }
  std::string Panel0() const { return form.StatusBar.PanelText(0); }
  // The main connection's parameters, and what resolving them set.
  db::ParameterList ExpectMain(versions::Edition edition, const std::string& panel0,
                               std::optional<std::string> applicationFolder = std::nullopt) {
    const db::ParameterList main = Main();
    EXPECT_EQ(session.site.edition, edition);
    EXPECT_EQ(Panel0(), panel0);
    if (applicationFolder) {
      EXPECT_EQ(session.site.applicationFolder, *applicationFolder);
    }
    return main;
  }
};

TEST_F(Resolution, EmpresaWinsWhateverCartorioHolds) {
  Write(
      "[CARTÓRIO]\nDatabase=outro:/c/CARTORIO.FDB\n"
      "[EMPRESA]\nDatabase=srv1/3052:D:/KORVAGDB/EMPRESA/KORVA.FDB\nSQLDialect=3\n"
      "Extensão Banco=FDB\nServidor Aplicação=\\\\srv1\\korva\n");
  const db::ParameterList main =
      ExpectMain(versions::Edition::Empresa, "Servidor: SRV1/3052", "\\\\srv1\\korva");
  EXPECT_EQ(main,
            (db::ParameterList{"Database=srv1/3052:D:/KORVAGDB/EMPRESA/KORVA.FDB", "SQLDialect=3",
                               "Extensão Banco=FDB", "Servidor Aplicação=\\\\srv1\\korva",
                               "User_Name=KORVA", "Password=ravelund"}));
  EXPECT_EQ(Users(main),
            (db::ParameterList{"Database=srv1/3052:D:/KORVAGDB/EMPRESA/USUARIO.FDB", "SQLDialect=3",
                               "Extensão Banco=FDB", "Servidor Aplicação=\\\\srv1\\korva",
                               "User_Name=KORVA", "Password=ravelund"}));
}

TEST_F(Resolution, EmptyEmpresaDatabaseMeansCartorioWithUsersParametersFromEmpresa) {
  Write(
      "[EMPRESA]\nDatabase=\nRoleName=PAPEL\n"
      "[cartório]\nDatabase = D:\\KORVA\\CARTORIO.FDB\nServidor Aplicação=E:\\app\n"
      "extensão banco=GDB\n");
  const db::ParameterList main = ExpectMain(versions::Edition::Cartorio, "Servidor: D", "E:\\app");
  EXPECT_EQ(db::ParameterValue(main, "Database"), "D:\\KORVA\\CARTORIO.FDB");
  session.site.edition = versions::Edition::Empresa;
  EXPECT_EQ(Users(main), (db::ParameterList{"Database=D:\\KORVA\\USUARIO.GDB", "RoleName=PAPEL",
                                            "User_Name=KORVA", "Password=ravelund"}));
  EXPECT_EQ(session.site.edition, versions::Edition::Cartorio);
}

TEST_F(Resolution, CartorioWithoutEmpresaSectionGivesTheUsersConnectionThreeParameters) {
  Write("[CARTÓRIO]\nDatabase=srv:/k/CARTORIO.FDB\nExtensão Banco=FDB\nRoleName=X\n");
  EXPECT_EQ(Users(Main()), (db::ParameterList{"Database=srv:/k/USUARIO.FDB", "User_Name=KORVA",
                                              "Password=ravelund"}));
}

TEST_F(Resolution, CredentialsInTheSectionComeFirstAndWin) {
  Write("[EMPRESA]\nuser_name=SYSDBA\nDatabase=s:/k/KORVA.FDB\nPASSWORD=masterkey\n");
  const db::ParameterList main = Main();
  EXPECT_EQ(db::ParameterValue(main, "User_Name"), "SYSDBA");
  EXPECT_EQ(db::ParameterValue(main, "Password"), "masterkey");
  const db::ParameterList users = Users(main);
  EXPECT_EQ(db::ParameterValue(users, "User_Name"), "SYSDBA");
  EXPECT_EQ(db::ParameterValue(users, "password"), "masterkey");
}

TEST_F(Resolution, UsersDatabaseExtensionAndTheFixedCut) {
  // No key: GDB even beside an FDB main file.
  Write("[EMPRESA]\nDatabase=s:/k/KORVA.FDB\n");
  EXPECT_EQ(db::ParameterValue(Users(Main()), "Database"), "s:/k/USUARIO.GDB");
  // Present but empty: no extension at all.
  Write("[EMPRESA]\nDatabase=s:/k/KORVA.FDB\nExtensão Banco=\n");
  EXPECT_EQ(db::ParameterValue(Users(Main()), "Database"), "s:/k/USUARIO.");
  // The cut counts characters, not the file name: another name is cut wrong.
  Write("[EMPRESA]\nDatabase=s:/k/EMPRESA.FDB\nExtensão Banco=FDB\n");
  EXPECT_EQ(db::ParameterValue(Users(Main()), "Database"), "s:/k/EMUSUARIO.FDB");
  // Blanks around the main path do not count; a value shorter than the cut
  // leaves only the file name.
  EXPECT_EQ(db::ParameterValue(Users({"Database=  x.FDB  "}), "Database"), "USUARIO.FDB");
  EXPECT_EQ(db::ParameterValue(Users({}), "Database"), "USUARIO.FDB");
}

TEST_F(Resolution, MissingFileFailsAfterSettingEditionAndPanel) {
  session.site.edition = versions::Edition::Empresa;
  form.StatusBar.SetPanelText(0, "Servidor: OLD");
  const std::string path = dir.File("dbxconnections.ini");
  try {
    Main();
    FAIL() << "no failure";
  } catch (const KorvaError& e) {
    EXPECT_EQ(std::string(e.what()), "Driver/Connection Registry File '" + path + "' not found");
  }
  EXPECT_EQ(session.site.edition, versions::Edition::Cartorio);
  EXPECT_EQ(Panel0(), "Servidor: ");
  EXPECT_THROW(Users({}), KorvaError);
}

TEST_F(Resolution, NoDatabaseAnywhereStillGivesParameters) {
  Write("[EMPRESA]\nRoleName=R\n[CARTÓRIO]\nDatabase=\n");
  EXPECT_EQ(ExpectMain(versions::Edition::Cartorio, "Servidor: "),
            (db::ParameterList{"Database=", "User_Name=KORVA", "Password=ravelund"}));
}

TEST_F(Resolution, QuotesAreStrippedForTheEditionButKeptInTheParameters) {
  Write("[EMPRESA]\nDatabase=\"srv:/k/KORVA.FDB\"\n");
  const db::ParameterList main = Main();
  EXPECT_EQ(Panel0(), "Servidor: SRV");
  EXPECT_EQ(db::ParameterValue(main, "Database"), "\"srv:/k/KORVA.FDB\"");
}

}  // namespace
}  // namespace korva
