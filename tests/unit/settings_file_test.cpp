// KORVA.INI: what load puts on the configuration page and hands to the
// transfer session, and the exact bytes a save leaves in the file.
#include <gtest/gtest.h>

#include <filesystem>

#include "settings/settings_file.h"
#include "support/principal_fixture.h"
#include "support/temp_dir.h"
#include "text/error.h"

namespace korva {
namespace {

using settings::LoadedSettings;
using settings::ProxySettings;
using settings::UpdateServerAddress;

class SettingsFile : public testing::PrincipalFixture {
 protected:
  std::string Path() const { return dir.File("KORVA.INI"); }
  void Write(const std::string& bytes) { testing::WriteBytes(Path(), bytes); }
  LoadedSettings Load() { return principal.LoadSettings(); }
  // Whether transfers are passive after the save.
  bool Save() {
    principal.BtBtnGravaConfigClick();
    return principal.IdFTPKorva().Passive();
  }
  std::string Panel3() const { return form.StatusBar.PanelText(3); }
  // A save with this transfer mode selected: whether transfers are passive
  // after it, and the file's bytes.
  void ExpectSave(int transferMode, bool passive, const std::string& bytes) {
    form.RdGrpMetodoFTP.SetItemIndex(transferMode);
    EXPECT_EQ(Save(), passive);
    EXPECT_EQ(testing::ReadBytes(Path()), bytes);
  }
};

TEST_F(SettingsFile, MissingFileGivesEmptyFieldsActiveTransfersAndCreatesNothing) {
  form.RdGrpMetodoFTP.SetItemIndex(1);
  const LoadedSettings loaded = Load();
  EXPECT_FALSE(loaded.passive);
  EXPECT_FALSE(loaded.proxy);
  EXPECT_FALSE(loaded.updateServer);
  EXPECT_EQ(form.RdGrpMetodoFTP.ItemIndex(), 0);
  EXPECT_EQ(Panel3(), "FTP Ativo");
  EXPECT_EQ(form.SrvRemoto1.Text(), "");
  EXPECT_EQ(form.EdtProxy_Senha.Text(), "");
  EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST_F(SettingsFile, LoadFillsTheFieldsAndHandsOverTheProxy) {
  Write(
      "[UPDATE]\r\nFILIAL1=\\\\filial1\\korva\r\nFILIAL2=F:\\Atualização\r\nFILIAL3=\r\n"
      "PROXY_HOST=proxy.local\r\nPROXY_PORTA=8080\r\nPROXY_USUARIO=joão\r\nPROXY_SENHA=s3nha\r\n"
      "TIPO_FTP=1\r\n");
  const LoadedSettings loaded = Load();
  EXPECT_EQ(form.SrvRemoto1.Text(), "\\\\filial1\\korva");
  EXPECT_EQ(form.SrvRemoto2.Text(), "F:\\Atualização");
  EXPECT_EQ(form.SrvRemoto3.Text(), "");
  EXPECT_EQ(form.EdtProxy_Usuario.Text(), "joão");
  EXPECT_TRUE(loaded.passive);
  EXPECT_EQ(form.RdGrpMetodoFTP.ItemIndex(), 1);
  EXPECT_EQ(Panel3(), "FTP Passivo");
  EXPECT_EQ(loaded.proxy, (ProxySettings{"proxy.local", 8080, "joão", "s3nha"}));
}

TEST_F(SettingsFile, TransferModeIsClampedToTheSelector) {
  struct Case {
    const char* stored;
    int index;
    bool passive;
  };
  for (const Case& c :
       {Case{"0", 0, false}, Case{"1", 1, true}, Case{"7", 1, true}, Case{"-5", -1, false},
        Case{"-1", -1, false}, Case{"abc", 0, false}, Case{"0x1", 1, true}, Case{"", 0, false}}) {
    Write(std::string("[UPDATE]\r\nTIPO_FTP=") + c.stored + "\r\n");
    const LoadedSettings loaded = Load();
    EXPECT_EQ(form.RdGrpMetodoFTP.ItemIndex(), c.index) << c.stored;
    EXPECT_EQ(loaded.passive, c.passive) << c.stored;
    EXPECT_EQ(Panel3(), c.passive ? "FTP Passivo" : "FTP Ativo") << c.stored;
  }
  // Nothing selected is saved as -1.
  Write("[UPDATE]\r\nTIPO_FTP=-5\r\n");
  Load();
  EXPECT_FALSE(Save());
  EXPECT_NE(testing::ReadBytes(Path()).find("TIPO_FTP=-1\r\n"), std::string::npos);
}

TEST_F(SettingsFile, ProxyNeedsHostAndPortAndAWholeNumber) {
  Write("[UPDATE]\r\nPROXY_HOST=proxy\r\nPROXY_PORTA=\r\n");
  EXPECT_FALSE(Load().proxy);
  Write("[UPDATE]\r\nPROXY_HOST=\r\nPROXY_PORTA=80a\r\n");
  EXPECT_FALSE(Load().proxy);
  Write("[UPDATE]\r\nPROXY_HOST=proxy\r\nPROXY_PORTA=80a\r\n");
  try {
    Load();
    FAIL() << "no failure";
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'80a' is not a valid integer value");
  }
}

TEST_F(SettingsFile, UpdateServerOverride) {
  Write("[UPDATE]\r\nSERVIDOR_FTP=127.0.0.1:2121\r\n");
  EXPECT_EQ(Load().updateServer, (UpdateServerAddress{"127.0.0.1", 2121}));
  Write("[update]\r\nservidor_ftp=  ftp.local  \r\n");
  EXPECT_EQ(Load().updateServer, (UpdateServerAddress{"ftp.local", 21}));
  Write("[UPDATE]\r\nSERVIDOR_FTP=\r\n");
  EXPECT_FALSE(Load().updateServer);
  for (const char* bad : {"host:", "host:0", "host:65536", "host:21a", ":21", "host:-1", "a b:21",
                          "host:1:2", "host:99999999999"}) {
    Write(std::string("[UPDATE]\r\nSERVIDOR_FTP=") + bad + "\r\n");
    try {
      Load();
      ADD_FAILURE() << bad << " accepted";
    } catch (const KorvaError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Invalid SERVIDOR_FTP '") + bad + "' in " +
                                           Path() +
                                           ": expected host or host:port with a port from 1 "
                                           "to 65535");
    }
  }
}

TEST_F(SettingsFile, SaveWritesTrimmedValuesInOrderAndKeepsTheFields) {
  form.SrvRemoto1.SetText("  \\\\filial\\korva  ");
  form.SrvRemoto3.SetText("F:\\Cópia");
  form.EdtProxy_Host.SetText(" proxy ");
  form.EdtProxy_Porta.SetText("3128 ");
  form.EdtProxy_Senha.SetText("\tsegredo");
  ExpectSave(1, true,
             "[UPDATE]\r\nFILIAL1=\\\\filial\\korva\r\nFILIAL2=\r\nFILIAL3=F:\\Cópia\r\n"
             "PROXY_HOST=proxy\r\nPROXY_PORTA=3128\r\nPROXY_USUARIO=\r\nPROXY_SENHA=segredo\r\n"
             "TIPO_FTP=1\r\n");
  EXPECT_EQ(form.SrvRemoto1.Text(), "  \\\\filial\\korva  ");
  EXPECT_EQ(form.EdtProxy_Senha.Text(), "\tsegredo");
  EXPECT_EQ(Panel3(), "FTP Passivo");
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0],
            (Message{"KORVA", "Dados gravados com sucesso", MsgIcon::Information, kOk}));
}

TEST_F(SettingsFile, SaveKeepsOtherKeysAndNeverWritesTheServerOverride) {
  Write(
      "; site settings\r\n[UPDATE]\r\nSERVIDOR_FTP=127.0.0.1:2121\r\nTIPO_FTP=1\r\n"
      "[OUTRA]\r\nX=1\r\n");
  Load();
  ExpectSave(0, false,
             "; site settings\r\n[UPDATE]\r\nSERVIDOR_FTP=127.0.0.1:2121\r\nTIPO_FTP=0\r\n"
             "FILIAL1=\r\nFILIAL2=\r\nFILIAL3=\r\nPROXY_HOST=\r\nPROXY_PORTA=\r\n"
             "PROXY_USUARIO=\r\nPROXY_SENHA=\r\n[OUTRA]\r\nX=1\r\n");
  EXPECT_EQ(Panel3(), "FTP Ativo");
}

TEST_F(SettingsFile, RefusedWriteFailsBeforePanelAndMessage) {
  form.StatusBar.SetPanelText(3, "FTP Passivo");
  form.RdGrpMetodoFTP.SetItemIndex(0);
  // A folder where the file should be: the file system refuses, even to root.
  std::filesystem::create_directory(Path());
  try {
    Save();
    FAIL() << "no failure";
  } catch (const KorvaError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path());
  }
  EXPECT_EQ(Panel3(), "FTP Passivo");
  EXPECT_TRUE(shell.messages.empty());

  const std::string missing = dir.File("nao-existe");
  Principal elsewhere(form, shell, clock, missing);
  EXPECT_THROW(elsewhere.BtBtnGravaConfigClick(), KorvaError);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_TRUE(shell.messages.empty());
}

}  // namespace
}  // namespace korva
