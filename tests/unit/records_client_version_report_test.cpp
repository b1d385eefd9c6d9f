// The client version file, byte for byte: one section per component, named
// by the component up to its first "." and upper-cased.
#include <gtest/gtest.h>

#include <utility>

#include "app/session_state.h"
#include "records/client_version_report.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace korva::records {
namespace {

using platform::LocalDateTime;
using testing::ReadBytes;

class FixedClock : public platform::Clock {
 public:
  LocalDateTime Now() const override { return now; }
  LocalDateTime now{2024, 3, 1, 9, 5, 7, 250};
};

class ClientVersionReportTest : public ::testing::Test {
 protected:
  ClientVersionReportTest() {
    session_.site.clientId = "12345678000199";
    session_.records.clientVersionFilePath = dir_.File("12345678000199.ini");
  }
  ClientVersionReport Report(platform::LocaleFormats locale = {}) {
    return ClientVersionReport(session_.site, session_.records, ftp_, clock_, std::move(locale));
  }

  testing::TempDir dir_;
  SessionState session_;
  FixedClock clock_;
  transfer::FtpSession ftp_{"127.0.0.1", 21};
};

TEST(ClientVersionSection, NameUpToTheFirstDotWithAToZUpperCased) {
  // Only a-z change: accented letters keep their case.
  const std::pair<const char*, const char*> cases[] = {{"EFIN.EXE", "EFIN"},
                                                       {"efin.zip", "EFIN"},
                                                       {"BDUSUARIO", "BDUSUARIO"},
                                                       {"a.b.c", "A"},
                                                       {"ação.exe", "AçãO"}};
  for (const auto& [name, section] : cases) EXPECT_EQ(ClientVersionSection(name), section) << name;
}

TEST_F(ClientVersionReportTest, SecondWriteOfAModuleReplacesItsSection) {
  auto report = Report();
  report.RegistraVersaoCliente("EFIN.EXE", "3.2.1");
  clock_.now = LocalDateTime{2024, 3, 2, 14, 30, 0, 0};
  report.RegistraVersaoCliente("efin.zip", "3.2.2");
  EXPECT_EQ(ReadBytes(session_.records.clientVersionFilePath),
            "[EFIN]\r\nversao=3.2.2\r\ndata=02/03/2024\r\nhora=14:30:00\r\n");
}

TEST_F(ClientVersionReportTest, SectionsInWriteOrderAndAnEmptyVersion) {
  platform::LocaleFormats dotted;
  dotted.dateSeparator = '.';
  auto report = Report(dotted);
  report.RegistraVersaoCliente("BDUSUARIO", "");
  report.RegistraVersaoCliente("BDKORVA", "3.16.47");
  const std::string bytes = ReadBytes(session_.records.clientVersionFilePath);
  EXPECT_EQ(bytes.find("[BDUSUARIO]\r\nversao=\r\ndata=01.03.2024\r\nhora=09:05:07\r\n"), 0u)
      << bytes;
  EXPECT_NE(bytes.find("[BDKORVA]\r\nversao=3.16.47\r\ndata=01.03.2024\r\nhora=09:05:07\r\n"),
            std::string::npos)
      << bytes;
}

TEST_F(ClientVersionReportTest, RefusedWriteFailsWithTheProfileFilesMessage) {
  session_.records.clientVersionFilePath = dir_.File("missing-folder/12345678000199.ini");
  auto report = Report();
  try {
    report.RegistraVersaoCliente("EFIN.EXE", "3.2.1");
    FAIL() << "no failure";
  } catch (const KorvaError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(
                  "Unable to write to " + session_.records.clientVersionFilePath, 0),
              0u)
        << e.what();
  }
}

}  // namespace
}  // namespace korva::records
