// The transfer session of the Windows build, over Winsock, against real FTP
// servers (pyftpdlib and Twisted's) that the Linux side started for this
// test (ftp_servers.sh, a CTest fixture): log-in, sizes, downloads and
// uploads in active and in passive mode, the bytes compared on both sides and
// the dialogue as the server logged it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace korva {
namespace {

using ::testing::Contains;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using transfer::FtpSession;

// The fixture's folder, handed over by CTest.
std::string ServersFolder() {
  const char* folder = std::getenv("KORVA_FTP_SERVERS");
  return folder ? folder : "";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Binary bytes that a text-mode transfer or a text-mode file would change:
// every byte value, CR LF, lone LF and CR, and the old end-of-file mark.
std::string BinaryBytes(std::size_t size, unsigned seed) {
  std::string bytes;
  bytes.reserve(size);
  std::uint32_t x = seed * 2654435761u + 1;
  while (bytes.size() < size) {
    x = x * 1103515245u + 12345u;
    bytes += static_cast<char>(x >> 24);
    if (bytes.size() % 97 == 0) bytes += "\r\n\n\r\x1A";
  }
  bytes.resize(size);
  return bytes;
}

class WindowsFtp : public ::testing::TestWithParam<std::tuple<std::string, bool>> {
 protected:
  void SetUp() override {
    if (ServersFolder().empty()) GTEST_SKIP() << "KORVA_FTP_SERVERS: run through CTest";
    server_ = ServersFolder() + "/" + std::get<0>(GetParam());
    const std::string portText = ReadBytes(server_ + "/port");
    port_ = static_cast<std::uint16_t>(std::stoi(portText));
    // Names of their own: both modes share one server and its folders.
    remoteDir_ = std::string("/httpdocs/") + (std::get<1>(GetParam()) ? "passive" : "active");
    std::filesystem::create_directories(server_ + "/root" + remoteDir_);
  }

  std::string ServerFile(const std::string& name) const {
    return server_ + "/root" + remoteDir_ + "/" + name;
  }
  std::vector<std::string> Commands() const { return Lines(ReadBytes(server_ + "/commands.log")); }

  std::string server_;
  std::uint16_t port_ = 0;
  std::string remoteDir_;
  TempDir local_;
};

TEST_P(WindowsFtp, DownloadGivesTheServersBytesAndReplacesALongerFile) {
  const std::string bytes = BinaryBytes(3 * 1024 * 1024 + 17, 1);
  WriteBytes(ServerFile("EFIN.ZIP"), bytes);
  const std::string local = local_.File("EFIN.ZIP");
  WriteBytes(local, std::string(bytes.size() + 5000, 'x'));

  FtpSession session("127.0.0.1", port_);
  session.SetPassive(std::get<1>(GetParam()));
  session.OpenSession();
  ASSERT_TRUE(session.IsConnected());
  session.ChangeRemoteDir(remoteDir_);
  EXPECT_EQ(session.RemoteFileSize("EFIN.ZIP"), static_cast<std::int32_t>(bytes.size()));
  EXPECT_EQ(session.RemoteFileSize("absent.zip"), -1);
  session.FetchFile("EFIN.ZIP", local);
  session.CloseSession();

  EXPECT_TRUE(ReadBytes(local) == bytes) << "the downloaded bytes differ";
  const std::vector<std::string> seen = Commands();
  EXPECT_THAT(seen, Contains("USER korva"));
  EXPECT_THAT(seen, Contains("PASS ******"));
  EXPECT_THAT(seen, Contains("TYPE I"));
  EXPECT_THAT(seen, Contains("RETR EFIN.ZIP"));
  if (std::get<1>(GetParam())) {
    EXPECT_THAT(seen, Contains("PASV"));
  } else {
    EXPECT_THAT(seen, Contains(::testing::StartsWith("PORT 127,0,0,1,")));
  }
}

TEST_P(WindowsFtp, UploadReplacesTheServersFileWithTheLocalBytes) {
  const std::string bytes = BinaryBytes(700 * 1024 + 3, 2);
  const std::string local = local_.File("versao_cliente.ini");
  WriteBytes(local, bytes);
  WriteBytes(ServerFile("versao_cliente.ini"), std::string(bytes.size() * 2, 'o'));

  FtpSession session("127.0.0.1", port_);
  session.SetPassive(std::get<1>(GetParam()));
  session.OpenSession();
  session.ChangeRemoteDir(remoteDir_);
  session.SendFile(local, "versao_cliente.ini");
  session.CloseSession();

  EXPECT_TRUE(ReadBytes(ServerFile("versao_cliente.ini")) == bytes) << "the uploaded bytes differ";
  EXPECT_THAT(Commands(), Contains("STOR versao_cliente.ini"));
}

TEST_P(WindowsFtp, RefusedDirectoryLeavesTheSessionUsable) {
  FtpSession session("127.0.0.1", port_);
  session.SetPassive(std::get<1>(GetParam()));
  session.OpenSession();
  EXPECT_THROW(session.ChangeRemoteDir("/httpdocs/missing"), std::exception);
  EXPECT_EQ(session.LastReply().code, 550);
  EXPECT_TRUE(session.IsConnected());
  WriteBytes(ServerFile("small.ini"), "[S]\r\nA=1\r\n");
  session.ChangeRemoteDir(remoteDir_);
  EXPECT_EQ(session.RemoteFileSize("small.ini"), 10);
  session.CloseSession();
  EXPECT_FALSE(session.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Servers, WindowsFtp,
                         ::testing::Combine(::testing::Values("pyftpdlib", "twisted"),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::get<0>(info.param) +
                                  (std::get<1>(info.param) ? "_passive" : "_active");
                         });

}  // namespace
}  // namespace korva
