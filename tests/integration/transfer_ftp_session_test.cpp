// The transfer session against real FTP servers (pyftpdlib, vsftpd and
// Twisted's), in active and in passive mode: the exact dialogue each server saw,
// the events, the bytes on both sides, the abort, and the failures that keep
// the dialogue in step. Its waits: a connection that is never accepted, and a server of our
// own that keeps silent for a counted number of the client's idle slices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "support/error_text.h"
#include "support/ftp_event_log.h"
#include "support/ftp_scripted_server.h"
#include "support/ftp_server.h"
#include "support/loopback_socket.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace korva {
namespace {

using ::testing::ElementsAre;
using namespace testing;  // the test support
using transfer::FtpSession;

constexpr const char* kCatalogue = "versao_e_modulos_empresa_2012.ini";
constexpr std::int64_t kCatalogueSize = 20000;

class FtpSessionTest : public ::testing::TestWithParam<std::tuple<FtpServerKind, bool>> {
 protected:
  FtpSessionTest() : server_(std::get<0>(GetParam())), session_("127.0.0.1", server_.Port()) {
    session_.SetPassive(std::get<1>(GetParam()));
    session_.SetEvents(&log_);
    session_.SetWaitHook([this] { ++waitSlices_; });
    server_.MakeDir("/httpdocs/empresa_2012");
    server_.MakeDir("/httpdocs/versao_cliente");
    server_.PutPatternFile(std::string("/httpdocs/empresa_2012/") + kCatalogue, kCatalogueSize);
  }
  ~FtpSessionTest() override { session_.CloseSession(); }

  std::string DataCommand() const { return session_.Passive() ? "PASV" : "PORT 127,0,0,1,"; }
  // The commands the server saw, with the variable part of PORT cut off.
  std::vector<std::string> Seen() const { return server_.CommandsWithoutPortAddress(); }

  FtpServer server_;
  FtpSession session_;
  FtpEventLog log_;
  TempDir local_;
  int waitSlices_ = 0;
};

TEST_P(FtpSessionTest, LogsInWithPassAndClosesWithoutQuit) {
  session_.OpenSession();
  EXPECT_TRUE(session_.IsConnected());
  EXPECT_THAT(log_.Statuses(),
              ElementsAre("Connecting to 127.0.0.1.", "Connected.", "Connection established"));

  log_.Clear();
  session_.CloseSession();
  EXPECT_FALSE(session_.IsConnected());
  EXPECT_THAT(log_.Statuses(), ElementsAre("Disconnecting.", "Disconnected."));

  // Closing a closed session only reports; the server never saw QUIT.
  log_.Clear();
  session_.CloseSession();
  EXPECT_THAT(log_.Statuses(), ElementsAre("Disconnecting.", "Disconnected."));
  EXPECT_THAT(Seen(), ElementsAre("USER korva", "PASS ******", "TYPE I", "SYST"));
}

TEST_P(FtpSessionTest, ChangeRemoteDirRefusalCarriesTheServersText) {
  session_.OpenSession();
  session_.ChangeRemoteDir("/httpdocs/versao_cliente");

  const std::string error = ErrorOf([&] { session_.ChangeRemoteDir("/httpdocs/missing"); });
  EXPECT_EQ(session_.LastReply().code, 550);
  EXPECT_EQ(error, session_.LastReply().Text());
  EXPECT_FALSE(error.empty());

  // The refusal leaves the dialogue in step.
  EXPECT_TRUE(session_.IsConnected());
  session_.ChangeRemoteDir("/httpdocs/empresa_2012");
  EXPECT_EQ(session_.RemoteFileSize(kCatalogue), kCatalogueSize);
}

TEST_P(FtpSessionTest, RemoteFileSizeOrMinusOne) {
  session_.OpenSession();
  session_.ChangeRemoteDir("/httpdocs/empresa_2012");
  EXPECT_EQ(session_.RemoteFileSize(kCatalogue), kCatalogueSize);
  EXPECT_EQ(session_.LastReply().code, 213);
  EXPECT_EQ(session_.RemoteFileSize("absent.ini"), -1);
  EXPECT_EQ(session_.LastReply().code, 550);
}

TEST_P(FtpSessionTest, CatalogueDownloadReplacesALongerFileWithTheExactDialogue) {
  const std::string local = local_.File("catalogue.ini");
  WriteBytes(local, std::string(3 * kCatalogueSize, 'x'));

  session_.OpenSession();
  session_.ChangeRemoteDir("/httpdocs/empresa_2012");
  ASSERT_EQ(session_.RemoteFileSize(kCatalogue), kCatalogueSize);
  log_.Clear();
  session_.FetchFile(kCatalogue, local);

  EXPECT_EQ(ReadBytes(local), PatternBytes(0, kCatalogueSize));
  EXPECT_THAT(Seen(), ElementsAre("USER korva", "PASS ******", "TYPE I", "SYST",
                                  "CWD /httpdocs/empresa_2012", std::string("SIZE ") + kCatalogue,
                                  DataCommand(), std::string("RETR ") + kCatalogue));
  EXPECT_THAT(log_.events, ElementsAre("status Starting FTP transfer", "begin download 0",
                                       "end download", "status Transfer complete"));
  ASSERT_FALSE(log_.progress.empty());
  std::int64_t before = 0;
  for (std::int64_t p : log_.progress) {
    EXPECT_GT(p, before);
    EXPECT_LE(p - before, 8192);
    before = p;
  }
  EXPECT_EQ(log_.progress.back(), kCatalogueSize);
}

TEST_P(FtpSessionTest, UploadReplacesTheServersFileInPiecesOf1024) {
  server_.PutFile("/httpdocs/versao_cliente/12345678000199.ini", std::string(9000, 'o'));
  const std::string local = local_.File("12345678000199.ini");
  WriteBytes(local, PatternBytes(0, 5000));

  session_.OpenSession();
  session_.ChangeRemoteDir("/httpdocs/versao_cliente");
  server_.ForgetCommands();
  session_.SendFile(local, "12345678000199.ini");

  EXPECT_EQ(server_.GetFile("/httpdocs/versao_cliente/12345678000199.ini"), PatternBytes(0, 5000));
  EXPECT_THAT(Seen(), ElementsAre(DataCommand(), "STOR 12345678000199.ini"));
  EXPECT_THAT(log_.progress, ElementsAre(1024, 2048, 3072, 4096, 5000));
  EXPECT_THAT(log_.Statuses(), ::testing::Contains("Transfer complete"));
  EXPECT_THAT(log_.events, ::testing::Contains("begin upload 5000"));
  // The local file is left as it was.
  EXPECT_EQ(ReadBytes(local), PatternBytes(0, 5000));
}

TEST_P(FtpSessionTest, AbortCutsALargeDownloadShortAndClosesTheSession) {
  constexpr std::int64_t kLarge = 48LL << 20;
  server_.PutPatternFile("/httpdocs/empresa_2012/efin.zip", kLarge);
  const std::string local = local_.File("efin.zip");
  int pieces = 0;
  log_.onProgress = [&](std::int64_t) {
    if (++pieces == 2) session_.AbortTransfer();
  };

  session_.OpenSession();
  session_.ChangeRemoteDir("/httpdocs/empresa_2012");
  server_.ForgetCommands();
  log_.Clear();
  session_.FetchFile("efin.zip", local);  // returns normally

  EXPECT_EQ(pieces, 2);
  const std::string got = ReadBytes(local);
  EXPECT_LT(static_cast<std::int64_t>(got.size()), kLarge);
  EXPECT_EQ(got, PatternBytes(0, got.size()));
  EXPECT_THAT(log_.events,
              ElementsAre("status Starting FTP transfer", "begin download 0", "end download",
                          "status Transfer complete", "status Transfer aborted"));
  EXPECT_THAT(Seen(), ElementsAre(DataCommand(), "RETR efin.zip", "ABOR"));

  // The session is closed after an abort, so that no late reply can reach
  // the next command; its next user opens a new one.
  EXPECT_FALSE(session_.IsConnected());
  session_.OpenSession();
  session_.ChangeRemoteDir("/httpdocs/empresa_2012");
  EXPECT_EQ(session_.RemoteFileSize(kCatalogue), kCatalogueSize);
  EXPECT_EQ(session_.LastReply().code, 213);
}

TEST_P(FtpSessionTest, MissingRemoteFileFailsWithTheServersText) {
  session_.OpenSession();
  session_.ChangeRemoteDir("/httpdocs/empresa_2012");
  const std::string error =
      ErrorOf([&] { session_.FetchFile("absent.zip", local_.File("absent.zip")); });
  EXPECT_EQ(error, session_.LastReply().Text());
  EXPECT_EQ(session_.LastReply().code, 550);
  EXPECT_EQ(session_.RemoteFileSize(kCatalogue), kCatalogueSize);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpSessionTest,
                         ::testing::Combine(::testing::Values(FtpServerKind::Pyftpdlib,
                                                              FtpServerKind::Vsftpd,
                                                              FtpServerKind::Twisted),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return testing::FtpServerName(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_passive" : "_active");
                         });

TEST(FtpSessionLogin, ServerThatAnswers230ToUserGetsNoPass) {
  FtpServer server(FtpServerKind::Pyftpdlib, {"user-230"});
  FtpSession session("127.0.0.1", server.Port());
  session.OpenSession();
  EXPECT_TRUE(session.IsConnected());
  EXPECT_THAT(server.Commands(), ElementsAre("USER korva", "TYPE I", "SYST"));
}

TEST(FtpSessionLogin, RefusedPasswordFailsWithTheServersTextAndClosesTheSession) {
  FtpServer server(FtpServerKind::Pyftpdlib, {"password=other"});
  FtpSession session("127.0.0.1", server.Port());
  FtpEventLog log;
  session.SetEvents(&log);
  EXPECT_EQ(ErrorOf([&] { session.OpenSession(); }), "Authentication failed.");
  EXPECT_FALSE(session.IsConnected());
  EXPECT_THAT(log.Statuses(), ElementsAre("Connecting to 127.0.0.1.", "Connected.",
                                          "Disconnecting.", "Disconnected."));
  EXPECT_THAT(server.Commands(), ElementsAre("USER korva", "PASS ******"));
}

TEST(FtpSessionConnect, RefusedConnectionCarriesTheSystemsWording) {
  // A port bound by us and kept, but not listening: nothing can listen there
  // while we hold it, so the connection is refused.
  const LoopbackSocket closed;
  FtpSession session("127.0.0.1", closed.Port());
  FtpEventLog log;
  session.SetEvents(&log);
  EXPECT_EQ(ErrorOf([&] { session.OpenSession(); }), "Socket Error # 111\r\nConnection refused.");
  EXPECT_FALSE(session.IsConnected());
  EXPECT_THAT(log.Statuses(),
              ElementsAre("Connecting to 127.0.0.1.", "Disconnecting.", "Disconnected."));
}

TEST(FtpSessionConnect, HostNameIsResolvedFirst) {
  FtpServer server(FtpServerKind::Pyftpdlib);
  FtpSession session("localhost", server.Port());
  FtpEventLog log;
  session.SetEvents(&log);
  session.OpenSession();
  EXPECT_THAT(log.Statuses(),
              ElementsAre("Resolving hostname localhost.", "Connecting to 127.0.0.1.", "Connected.",
                          "Connection established"));
}

TEST(FtpSessionConnect, ConnectGivesUpAtItsTimeLimitAndKeepsTheWindowAlive) {
  // A listener that never accepts, its queue already full: the next
  // connection attempt gets no answer at all.
  LoopbackSocket listener;
  listener.Listen(0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) fillers.push_back(listener.ConnectWithoutWaiting());

  FtpSession session("127.0.0.1", listener.Port());
  session.SetConnectTimeLimit(std::chrono::milliseconds(1000));
  int slices = 0;
  session.SetWaitHook([&] { ++slices; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { session.OpenSession(); }), "Connect timed out.");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(session.IsConnected());
  // The limit is a time, so only time shows it is kept: never early, and
  // nowhere near the two minutes of the default limit. The upper bound is
  // that generous because a loaded machine may wake the process seconds late.
  EXPECT_GE(took, std::chrono::milliseconds(1000));
  EXPECT_LT(took, std::chrono::seconds(30));
  // Each slice of pending input lasts its whole 125 ms, so 1000 ms hold at
  // most eight; slices of 250 ms would give at most three. At least four
  // leaves a loaded machine up to 125 ms of lateness on every slice.
  EXPECT_GE(slices, 4);
  EXPECT_LE(slices, 8);
  for (int c : fillers) ::close(c);
}

TEST(FtpSessionWaits, SilentServerKeepsTheWindowAliveAndReentryFailsCleanly) {
  // The server keeps silent over CWD for exactly four of the client's idle
  // slices, then answers.
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.HoldClientWaits();
    peer.LogIn();
    peer.Expect("CWD");
    for (int slice = 0; slice < 3; ++slice) peer.SendInClientWait("");
    peer.SendInClientWait("250 Directory changed.\r\n");
    peer.ReadCommand();  // connected until the client hangs up
  });
  FtpSession session("127.0.0.1", server.Port());
  session.OpenSession();
  int slices = 0;
  std::vector<std::string> reentryErrors;
  session.SetWaitHook([&, serverHook = server.ClientWaitHook()] {
    ++slices;
    // A click handled inside the wait must not reach into the dialogue.
    reentryErrors.push_back(ErrorOf([&] { session.RemoteFileSize("x"); }));
    reentryErrors.push_back(ErrorOf([&] { session.CloseSession(); }));
    serverHook();
  });
  session.ChangeRemoteDir("/httpdocs");

  // One slice of input for each slice of silence, not one more.
  EXPECT_EQ(slices, 4);
  EXPECT_EQ(reentryErrors.size(), 8u);
  for (const auto& e : reentryErrors) {
    EXPECT_EQ(e, "The FTP session is busy with another operation.");
  }
  EXPECT_TRUE(session.IsConnected());
  EXPECT_EQ(session.LastReply().code, 250);
  session.CloseSession();
  EXPECT_EQ(server.Failure(), "");
  EXPECT_THAT(server.Commands(),
              ElementsAre("USER korva", "PASS K7p3R#", "TYPE I", "SYST", "CWD /httpdocs"));
}

}  // namespace
}  // namespace korva
