// The transfer session against a server of our own that misbehaves in ways
// the real ones cannot: split and endless replies, impossible PASV numbers, a
// peer that goes away half-way. Each case ends in a clear error (or the right
// result), promptly, with the dialogue either in step or closed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/error_text.h"
#include "support/ftp_event_log.h"
#include "support/ftp_scripted_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace korva {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FtpEventLog;
using testing::ReadBytes;
using testing::ScriptedFtpServer;
using testing::ScriptedPeer;
using testing::TempDir;
using testing::WriteBytes;
using transfer::FtpSession;

using testing::ErrorOf;

struct Client {
  explicit Client(const ScriptedFtpServer& server, bool passive = true)
      : session("127.0.0.1", server.Port()) {
    session.SetPassive(passive);
    session.SetEvents(&log);
    session.SetWaitHook(server.ClientWaitHook());
  }
  FtpSession session;
  FtpEventLog log;
  TempDir local;
};

TEST(FtpMalformedReplies, RepliesSplitAcrossReadsAndMultiLineReplies) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    // Each piece is all the client finds at one look.
    peer.SendInClientWait("22");
    peer.SendInClientWait("0-Welcome\r\n220-to the");
    peer.SendInClientWait(" server\r\n220 Ready\r\n");
    peer.Expect("USER");
    peer.SendInClientWait("331 Pass");
    peer.SendInClientWait("word please\r\n");
    peer.Expect("PASS");
    peer.Send("230-Logged in.\r\n230-\r\n 230 still inside\r\n230 Done.\r\n");
    peer.Expect("TYPE I");
    peer.Send("200 Binary.\r\n");
    peer.Expect("SYST");
    peer.Send("215 UNIX Type: L8\r\n");
    peer.Expect("CWD");
    peer.Send("550-No such\r\n550-directory\r\n550 here.\r\n");
    peer.Expect("CWD");
    peer.Send("250 Ok.\r\n");
  });
  Client c(server);
  c.session.OpenSession();
  EXPECT_EQ(c.session.LastReply().code, 215);

  EXPECT_EQ(ErrorOf([&] { c.session.ChangeRemoteDir("/missing"); }),
            "No such\r\ndirectory\r\nhere.");
  EXPECT_THAT(c.session.LastReply().lines, ElementsAre("No such", "directory", "here."));
  c.session.ChangeRemoteDir("/httpdocs");
  EXPECT_EQ(c.session.LastReply().code, 250);
  EXPECT_EQ(server.Failure(), "");
  EXPECT_THAT(server.Commands(), ElementsAre("USER korva", "PASS K7p3R#", "TYPE I", "SYST",
                                             "CWD /missing", "CWD /httpdocs"));
}

TEST(FtpMalformedReplies, PasvNumberAbove255IsAnErrorNotAWrap) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Expect("PASV");
    peer.Send("227 Entering Passive Mode (127,0,0,1,300,1).\r\n");
    peer.Expect("CWD");
    peer.Send("250 Ok.\r\n");
  });
  Client c(server);
  c.session.OpenSession();
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("x.zip", c.local.File("x.zip")); }),
            "Invalid reply to PASV: Entering Passive Mode (127,0,0,1,300,1).");
  // PASV got its reply: the next command gets its own.
  c.session.ChangeRemoteDir("/httpdocs");
  EXPECT_EQ(c.session.LastReply().code, 250);
  EXPECT_EQ(server.Failure(), "");
}

TEST(FtpMalformedReplies, EndlessReplyStopsAt64KiB) {
  for (const bool oneLine : {false, true}) {
    SCOPED_TRACE(oneLine ? "one endless line" : "endless multi-line reply");
    ScriptedFtpServer server([oneLine](ScriptedPeer& peer) {
      peer.Send("220-");
      const std::string chunk =
          oneLine ? std::string(1000, 'a') : "220-" + std::string(60, 'b') + "\r\n";
      // Far more than the limit; the client hangs up long before the end.
      for (int i = 0; i < 20000; ++i) peer.Send(chunk);
    });
    Client c(server);
    EXPECT_EQ(ErrorOf([&] { c.session.OpenSession(); }),
              "The FTP server's reply is longer than 65536 bytes.");
    EXPECT_FALSE(c.session.IsConnected());
    EXPECT_THAT(c.log.Statuses(), ElementsAre("Connecting to 127.0.0.1.", "Connected.",
                                              "Disconnecting.", "Disconnected."));
  }
}

TEST(FtpMalformedReplies, ServerGoneInTheMiddleOfAReply) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.Send("220-Hello\r\n220-wor");
    peer.Vanish();
  });
  Client c(server);
  EXPECT_EQ(ErrorOf([&] { c.session.OpenSession(); }), "The FTP server closed the connection.");
  EXPECT_FALSE(c.session.IsConnected());
}

TEST(FtpMalformedReplies, SessionTheServerTimedOutIsNoLongerConnected) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Send("421 Timeout.\r\n");
    peer.Vanish();
  });
  Client c(server);
  c.session.OpenSession();
  server.Join();
  EXPECT_FALSE(c.session.IsConnected());
  // A caller that goes on anyway gets the server's last words.
  EXPECT_EQ(ErrorOf([&] { c.session.ChangeRemoteDir("/httpdocs"); }), "Timeout.");
}

TEST(FtpMalformedReplies, GarbageInsteadOfAReplyClosesTheSession) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Expect("CWD");
    peer.Send("hello there\r\n");
    peer.ReadCommand();
  });
  Client c(server);
  c.session.OpenSession();
  EXPECT_EQ(ErrorOf([&] { c.session.ChangeRemoteDir("/httpdocs"); }),
            "Invalid reply from the FTP server: hello there");
  EXPECT_FALSE(c.session.IsConnected());
  EXPECT_EQ(ErrorOf([&] { c.session.ChangeRemoteDir("/httpdocs"); }), "Not connected.");
}

TEST(FtpMalformedReplies, ServerGoneInTheMiddleOfTheData) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.StartPassiveDownload();
    peer.SendData(std::string(10000, 'd'));
    peer.Vanish();
  });
  Client c(server);
  c.session.OpenSession();
  const std::string local = c.local.File("efin.zip");
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("efin.zip", local); }),
            "The FTP server closed the connection.");
  EXPECT_FALSE(c.session.IsConnected());
  // What arrived stays in the file, which is closed.
  EXPECT_EQ(ReadBytes(local), std::string(10000, 'd'));
  EXPECT_THAT(c.log.events, Contains("end download"));
}

TEST(FtpMalformedReplies, ServerThatAbortsOnItsOwnFailsTheDownload) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.StartPassiveDownload();
    peer.SendData(std::string(5000, 'd'));
    peer.CloseData();
    peer.Send("426 Connection lost.\r\n");
    peer.Expect("CWD");
    peer.Send("250 Ok.\r\n");
  });
  Client c(server);
  c.session.OpenSession();
  c.log.Clear();
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("efin.zip", c.local.File("efin.zip")); }),
            "Connection lost.");
  EXPECT_THAT(c.log.Statuses(),
              ElementsAre("Starting FTP transfer", "Transfer complete", "Transfer aborted"));
  c.session.ChangeRemoteDir("/httpdocs");
  EXPECT_EQ(c.session.LastReply().code, 250);
  EXPECT_EQ(server.Failure(), "");
}

TEST(FtpMalformedReplies, ActiveServerThatAnswersInsteadOfConnecting) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Expect("PORT 127,0,0,1,");
    peer.Send("200 Ok.\r\n");
    peer.Expect("RETR");
    // The refusal comes while the client waits for the data connection.
    peer.SendInClientWait("150 Connecting.\r\n");
    peer.SendInClientWait("425 Can't open data connection.\r\n");
    peer.Expect("CWD");
    peer.Send("250 Ok.\r\n");
    peer.Expect("PORT 127,0,0,1,");
    peer.Send("200 Ok.\r\n");
    peer.Expect("RETR");
    peer.Send("150 Connecting.\r\n");
    peer.Vanish();
  });
  Client c(server, /*passive=*/false);
  c.session.OpenSession();
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("a.zip", c.local.File("a.zip")); }),
            "Can't open data connection.");
  c.session.ChangeRemoteDir("/httpdocs");
  EXPECT_EQ(c.session.LastReply().code, 250);
  // Gone while we wait for its data connection: no endless wait.
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("a.zip", c.local.File("a.zip")); }),
            "The FTP server closed the connection.");
  EXPECT_FALSE(c.session.IsConnected());
}

TEST(FtpMalformedReplies, SizeRepliesThatAreNotANumber) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    for (const char* reply : {"213 abc\r\n", "213 12345\r\n", "213-File size\r\n213 77\r\n",
                              "213 99999999999\r\n", "213  \t 4096 \r\n", "500 Unknown.\r\n"}) {
      peer.Expect("SIZE");
      peer.Send(reply);
    }
  });
  Client c(server);
  c.session.OpenSession();
  EXPECT_EQ(c.session.RemoteFileSize("a"), -1);
  EXPECT_EQ(c.session.RemoteFileSize("b"), 12345);
  EXPECT_EQ(c.session.RemoteFileSize("c"), -1);
  EXPECT_EQ(c.session.RemoteFileSize("d"), -1);
  EXPECT_EQ(c.session.RemoteFileSize("e"), 4096);
  EXPECT_EQ(c.session.RemoteFileSize("f"), -1);
  EXPECT_EQ(server.Failure(), "");
}

TEST(FtpMalformedReplies, LineBreakInANameNeverReachesTheServer) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Expect("CWD");
    peer.Send("250 Ok.\r\n");
  });
  Client c(server);
  c.session.OpenSession();
  const std::string local = c.local.File("keep.ini");
  WriteBytes(local, "keep me");
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("a.ini\r\nDELE b.ini", local); }),
            "Invalid character in FTP command argument: a.ini??DELE b.ini");
  EXPECT_EQ(ReadBytes(local), "keep me");
  c.session.ChangeRemoteDir("/httpdocs");
  EXPECT_THAT(server.Commands(),
              ElementsAre("USER korva", "PASS K7p3R#", "TYPE I", "SYST", "CWD /httpdocs"));
}

TEST(FtpMalformedReplies, AbortRequestDuringAnUploadLetsItFinish) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Expect("PASV");
    peer.Send(peer.OpenPassive());
    peer.Expect("STOR");
    peer.AcceptData();
    peer.Send("150 Ok to send.\r\n");
    const std::string got = peer.ReceiveAllData();
    peer.Send(got == std::string(3000, 'u') ? "226 Stored.\r\n" : "451 Wrong bytes.\r\n");
  });
  Client c(server);
  c.log.onProgress = [&](std::int64_t) { c.session.AbortTransfer(); };
  c.session.OpenSession();
  const std::string local = c.local.File("client.ini");
  WriteBytes(local, std::string(3000, 'u'));
  c.session.SendFile(local, "client.ini");
  EXPECT_EQ(c.session.LastReply().code, 226);
  EXPECT_THAT(server.Commands(), ElementsAre("USER korva", "PASS K7p3R#", "TYPE I", "SYST", "PASV",
                                             "STOR client.ini"));
}

}  // namespace
}  // namespace korva
