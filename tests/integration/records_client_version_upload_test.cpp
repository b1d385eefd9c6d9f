// UploadVersaoCliente against real servers: the file lands in
// /httpdocs/versao_cliente as clientId + ".ini", and the session is opened
// and closed only when the upload found it closed, also when it fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/session_state.h"
#include "records/client_version_report.h"
#include "support/error_text.h"
#include "support/ftp_event_log.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace korva::records {
namespace {

using ::testing::ElementsAre;
using testing::FtpServer;
using testing::FtpServerKind;

using testing::ErrorOf;

class ClientVersionUploadTest : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  ClientVersionUploadTest() : server_(GetParam()), ftp_("127.0.0.1", server_.Port()) {
    server_.MakeDir("/httpdocs/versao_cliente");
    ftp_.SetPassive(GetParam() == FtpServerKind::Vsftpd);
    ftp_.SetEvents(&log_);
    session_.site.clientId = "12345678000199";
    session_.records.clientVersionFilePath = dir_.File("12345678000199.ini");
    report_.RegistraVersaoCliente("EFIN.EXE", "3.2.1");
  }
  std::string DataCommand() const { return ftp_.Passive() ? "PASV" : "PORT 127,0,0,1,"; }
  std::vector<std::string> Seen() const { return server_.CommandsWithoutPortAddress(); }

  FtpServer server_;
  transfer::FtpSession ftp_;
  testing::FtpEventLog log_;
  testing::TempDir dir_;
  SessionState session_;
  platform::SystemClock clock_;
  ClientVersionReport report_{session_.site, session_.records, ftp_, clock_,
                              platform::LocaleFormats{}};
};

TEST_P(ClientVersionUploadTest, ClosedSessionIsOpenedForTheUploadAndClosedAgain) {
  server_.PutFile("/httpdocs/versao_cliente/12345678000199.ini", std::string(4000, 'o'));
  report_.UploadVersaoCliente();

  EXPECT_EQ(server_.GetFile("/httpdocs/versao_cliente/12345678000199.ini"),
            testing::ReadBytes(session_.records.clientVersionFilePath));
  EXPECT_FALSE(ftp_.IsConnected());
  EXPECT_THAT(Seen(), ElementsAre("USER korva", "PASS ******", "TYPE I", "SYST",
                                  "CWD /httpdocs/versao_cliente", DataCommand(),
                                  "STOR 12345678000199.ini"));
  EXPECT_EQ(log_.Statuses().back(), "Disconnected.");
}

TEST_P(ClientVersionUploadTest, OpenSessionIsUsedWithoutASecondLogInAndStaysOpen) {
  ftp_.OpenSession();
  ftp_.ChangeRemoteDir("/httpdocs");
  server_.ForgetCommands();
  report_.UploadVersaoCliente();

  EXPECT_TRUE(ftp_.IsConnected());
  EXPECT_THAT(Seen(), ElementsAre("CWD /httpdocs/versao_cliente", DataCommand(),
                                  "STOR 12345678000199.ini"));
  EXPECT_EQ(server_.GetFile("/httpdocs/versao_cliente/12345678000199.ini"),
            testing::ReadBytes(session_.records.clientVersionFilePath));
}

TEST_P(ClientVersionUploadTest, MissingLocalFileFailsAndLeavesTheSessionAsItFoundIt) {
  session_.records.clientVersionFilePath = dir_.File("absent.ini");
  EXPECT_EQ(ErrorOf([&] { report_.UploadVersaoCliente(); }), "File not found");
  EXPECT_FALSE(ftp_.IsConnected());

  ftp_.OpenSession();
  EXPECT_EQ(ErrorOf([&] { report_.UploadVersaoCliente(); }), "File not found");
  EXPECT_TRUE(ftp_.IsConnected());
  EXPECT_FALSE(
      std::filesystem::exists(server_.Path("/httpdocs/versao_cliente/12345678000199.ini")));
}

TEST_P(ClientVersionUploadTest, RefusedDirectoryFailsWithTheServersTextAndClosesItsSession) {
  std::filesystem::remove_all(server_.Path("/httpdocs/versao_cliente"));
  const std::string error = ErrorOf([&] { report_.UploadVersaoCliente(); });
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error, ftp_.LastReply().Text());
  EXPECT_EQ(ftp_.LastReply().code, 550);
  EXPECT_FALSE(ftp_.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Servers, ClientVersionUploadTest,
                         ::testing::Values(FtpServerKind::Pyftpdlib, FtpServerKind::Vsftpd),
                         [](const auto& info) { return testing::FtpServerName(info.param); });

TEST(ClientVersionUpload, NoServerFailsWithTheNetworkMessage) {
  testing::TempDir dir;
  SessionState session;
  session.site.clientId = "1";
  session.records.clientVersionFilePath = dir.File("1.ini");
  testing::WriteBytes(session.records.clientVersionFilePath, "[A]\r\n");
  // Port 1 on the loopback: nothing listens there.
  transfer::FtpSession ftp("127.0.0.1", 1);
  platform::SystemClock clock;
  ClientVersionReport report(session.site, session.records, ftp, clock, platform::LocaleFormats{});
  EXPECT_EQ(ErrorOf([&] { report.UploadVersaoCliente(); }),
            "Socket Error # 111\r\nConnection refused.");
  EXPECT_FALSE(ftp.IsConnected());
}

}  // namespace
}  // namespace korva::records
