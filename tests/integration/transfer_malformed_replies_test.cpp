// The transfer session against a server of our own that misbehaves in ways
// the real ones cannot: split and endless replies, impossible PASV numbers, a
// peer that goes away half-way. Each case ends in a clear error (or the right
// result), promptly, with the dialogue either in step or closed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>

#include "support/error_text.h"
#include "support/ftp_event_log.h"
#include "support/ftp_scripted_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace korva {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using namespace testing;  // the test support
using transfer::FtpSession;

using namespace std::chrono_literals;

// The idle limit of these tests, and the most idle slices of 250 ms that fit
// into it (one more for a slice that began before the silence did).
constexpr auto kIdleLimit = 1s;
constexpr int kMostSlicesOfSilence = 5;

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
  // A caller that goes on anyway gets the server's last words, then no more.
  EXPECT_EQ(ErrorOf([&] { c.session.ChangeRemoteDir("/httpdocs"); }), "Timeout.");
  EXPECT_EQ(ErrorOf([&] { c.session.ChangeRemoteDir("/httpdocs"); }), "Not connected.");
}

TEST(FtpMalformedReplies, SessionTheServerClosedWithoutAWordIsNotConnected) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Vanish();
  });
  Client c(server);
  c.session.OpenSession();
  server.Join();
  EXPECT_FALSE(c.session.IsConnected());
  const std::string local = c.local.File("keep.ini");
  WriteBytes(local, "keep me");
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("a.ini", local); }), "Not connected.");
  EXPECT_EQ(ErrorOf([&] { c.session.RemoteFileSize("a.ini"); }), "Not connected.");
  EXPECT_EQ(ReadBytes(local), "keep me");
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
  // What arrived is not left to be taken for the whole file.
  EXPECT_FALSE(std::filesystem::exists(local));
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

TEST(FtpMalformedReplies, GreetingThatFirstSaysWhenItWillBeReady) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.Send("120-Busy.\r\n120 Ready in a moment.\r\n");
    peer.SendInClientWait("");
    peer.LogIn();
  });
  Client c(server);
  c.session.OpenSession();
  EXPECT_EQ(c.session.LastReply().code, 215);
  EXPECT_EQ(server.Failure(), "");
  EXPECT_THAT(server.Commands(), ElementsAre("USER korva", "PASS K7p3R#", "TYPE I", "SYST"));
}

// A server that goes silent at one point of the dialogue and stays so: the
// operation fails at the idle limit, never before, and the session is closed.
TEST(FtpMalformedReplies, SilenceEndsAtTheIdleLimitWithTheSessionClosed) {
  enum class Operation { Open, ChangeDir, Fetch };
  const struct {
    const char* name;
    bool passive;
    Operation operation;
    std::function<void(ScriptedPeer&)> untilSilent;
    const char* error;
  } cases[] = {
      {"no greeting", true, Operation::Open, [](ScriptedPeer&) {},
       "The FTP server did not answer for 1 second."},
      {"120 and no 220", true, Operation::Open,
       [](ScriptedPeer& peer) { peer.Send("120 Ready in a moment.\r\n"); },
       "The FTP server did not answer for 1 second."},
      {"multi-line reply stops after two lines", true, Operation::ChangeDir,
       [](ScriptedPeer& peer) {
         peer.LogIn();
         peer.Expect("CWD");
         peer.Send("250-Directory\r\n250-changed\r\n");
       },
       "The FTP server did not answer for 1 second."},
      {"150 and a silent data connection", true, Operation::Fetch,
       [](ScriptedPeer& peer) {
         peer.LogIn();
         peer.StartPassiveDownload();
       },
       "The FTP server sent no data for 1 second."},
      {"data stops half-way", true, Operation::Fetch,
       [](ScriptedPeer& peer) {
         peer.LogIn();
         peer.StartPassiveDownload();
         peer.SendData(std::string(3000, 'd'));
       },
       "The FTP server sent no data for 1 second."},
      {"150 and no data connection", false, Operation::Fetch,
       [](ScriptedPeer& peer) {
         peer.LogIn();
         peer.Expect("PORT");
         peer.Send("200 Ok.\r\n");
         peer.Expect("RETR");
         peer.Send("150 Opening data connection.\r\n");
       },
       "The FTP server did not open the data connection within 1 second."},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    std::atomic<bool> silent = false;
    ScriptedFtpServer server([&](ScriptedPeer& peer) {
      t.untilSilent(peer);
      silent = true;
      peer.ReadCommand();  // until the client hangs up
    });
    Client c(server, t.passive);
    c.session.SetIdleTimeLimit(kIdleLimit);
    int silentSlices = 0;
    c.session.SetWaitHook([&] { silentSlices += silent ? 1 : 0; });
    if (t.operation != Operation::Open) c.session.OpenSession();

    const auto start = std::chrono::steady_clock::now();
    const std::string error = ErrorOf([&] {
      switch (t.operation) {
        case Operation::Open:
          return c.session.OpenSession();
        case Operation::ChangeDir:
          return c.session.ChangeRemoteDir("/httpdocs");
        case Operation::Fetch:
          return c.session.FetchFile("efin.zip", c.local.File("efin.zip"));
      }
    });
    EXPECT_EQ(error, t.error);
    EXPECT_GE(std::chrono::steady_clock::now() - start, kIdleLimit);
    EXPECT_LE(silentSlices, kMostSlicesOfSilence);
    EXPECT_FALSE(c.session.IsConnected());
    EXPECT_EQ(ErrorOf([&] { c.session.ChangeRemoteDir("/httpdocs"); }), "Not connected.");
    EXPECT_EQ(server.Failure(), "");
  }
}

// The operator's abort comes while the server keeps silent: it acts in the
// idle slice it was seen in, as a progress event would have.
TEST(FtpMalformedReplies, AbortInAStalledDownloadActsInTheSliceItIsSeenIn) {
  const struct {
    const char* name;
    bool passive;
    std::size_t bytesBeforeStall;
  } cases[] = {
      {"silent data connection", true, 0},
      {"data stops half-way", true, 5000},
      {"no data connection", false, 0},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    ScriptedFtpServer server([&](ScriptedPeer& peer) {
      peer.LogIn();
      if (t.passive) {
        peer.StartPassiveDownload();
        peer.SendData(std::string(t.bytesBeforeStall, 'd'));
      } else {
        peer.Expect("PORT");
        peer.Send("200 Ok.\r\n");
        peer.Expect("RETR");
        peer.Send("150 Opening data connection.\r\n");
      }
      peer.Expect("ABOR");
      peer.CloseData();
      peer.Send("426 Transfer aborted.\r\n226 ABOR successful.\r\n");
      EXPECT_TRUE(peer.ClientHangsUp());
    });
    Client c(server, t.passive);
    c.session.OpenSession();
    c.log.Clear();
    int slicesAfterAbort = 0;
    bool aborted = false;
    c.log.onIdle = [&] {
      // "&Abortar" once what the server sends before it stalls is in.
      slicesAfterAbort += aborted ? 1 : 0;
      if (c.session.LastTransfer().bytes < static_cast<std::int64_t>(t.bytesBeforeStall)) {
        return true;
      }
      aborted = true;
      return false;
    };
    const std::string local = c.local.File("efin.zip");
    c.session.FetchFile("efin.zip", local);  // returns normally

    EXPECT_TRUE(aborted);
    EXPECT_EQ(slicesAfterAbort, 0);
    EXPECT_TRUE(c.session.LastTransfer().aborted);
    EXPECT_EQ(c.session.LastTransfer().bytes, static_cast<std::int64_t>(t.bytesBeforeStall));
    EXPECT_EQ(ReadBytes(local), std::string(t.bytesBeforeStall, 'd'));
    EXPECT_THAT(c.log.Statuses(),
                ElementsAre("Starting FTP transfer", "Transfer complete", "Transfer aborted"));
    // The next user of the session opens a new one.
    EXPECT_FALSE(c.session.IsConnected());
    EXPECT_EQ(server.Failure(), "");
  }
}

// Whatever the server says after ABOR, preliminary replies included, is read
// to its end: the abort ends with "Transfer aborted" and the session is
// closed, so nothing is left for the next command. A transfer that had ended
// before ABOR arrived may or may not get an answer of its own; the first
// other reply after NOOP tells.
TEST(FtpMalformedReplies, EverythingAfterAborIsReadToTheEnd) {
  const struct {
    const char* answer;
    bool noop;
  } cases[] = {
      {"426 Transfer aborted.\r\n226 ABOR successful.\r\n", false},
      {"426 Transfer aborted.\r\n150 Data connection closed.\r\n226 ABOR successful.\r\n", false},
      {"150 Data connection closed.\r\n226 Transfer complete.\r\n", true},
      {"226 Transfer complete.\r\n225 No transfer to ABOR.\r\n", true},
      {"225 ABOR successful; data channel closed.\r\n", true},
      // A server that does not know ABOR, whichever way the race went.
      {"426 Transfer aborted.\r\n502 Command 'ABOR' not implemented.\r\n", false},
      {"226 Transfer complete.\r\n502 Command 'ABOR' not implemented.\r\n", true},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.answer);
    ScriptedFtpServer server([&](ScriptedPeer& peer) {
      peer.LogIn();
      peer.StartPassiveDownload();
      peer.SendData(std::string(5000, 'd'));
      peer.Expect("ABOR");
      peer.CloseData();
      peer.Send(t.answer);
      if (peer.ReadCommand() == "NOOP") {
        try {
          peer.Send("200 NOOP ok.\r\n");
        } catch (const std::exception&) {
          // Gone already: the answer it took for the last was ABOR's 502.
        }
      }
    });
    Client c(server);
    c.log.onProgress = [&](std::int64_t) { c.session.AbortTransfer(); };
    c.session.OpenSession();
    c.log.Clear();
    c.session.FetchFile("efin.zip", c.local.File("efin.zip"));  // returns normally

    EXPECT_TRUE(c.session.LastTransfer().aborted);
    EXPECT_EQ(c.log.Statuses().back(), "Transfer aborted");
    EXPECT_FALSE(c.session.IsConnected());
    std::vector<std::string> expected = {"USER korva", "PASS K7p3R#",   "TYPE I", "SYST",
                                         "PASV",       "RETR efin.zip", "ABOR"};
    if (t.noop) expected.push_back("NOOP");
    EXPECT_EQ(server.Commands(), expected);
  }
}

// "&Abortar" takes effect within about 3 s whatever the server does: after
// ABOR it has 8 wait slices to answer, then the session is closed. A server
// that answers NOOP at once ends the wait at once, whatever it answers.
TEST(FtpMalformedReplies, AfterAborTheServerHasEightWaitSlices) {
  enum class After { Silent, Only426, NoopUnanswered, NoopRefused };
  const struct {
    const char* name;
    After after;
    bool dataEnded;  // the whole file had come before ABOR
    int slices;      // the wait slices after ABOR; -1: fewer than the grace
    std::vector<std::string> lastCommands;
  } cases[] = {
      {"silent after ABOR", After::Silent, false, 8, {"RETR efin.zip", "ABOR"}},
      {"426 and no answer to ABOR", After::Only426, false, 8, {"RETR efin.zip", "ABOR"}},
      {"226, NOOP never answered",
       After::NoopUnanswered,
       true,
       8,
       {"RETR efin.zip", "ABOR", "NOOP"}},
      {"226, NOOP answered with 502",
       After::NoopRefused,
       true,
       -1,
       {"RETR efin.zip", "ABOR", "NOOP"}},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    ScriptedFtpServer server([&](ScriptedPeer& peer) {
      peer.LogIn();
      peer.StartPassiveDownload();
      peer.SendData(std::string(5000, 'd'));
      if (t.dataEnded) {
        peer.CloseData();
        peer.Send("226 Transfer complete.\r\n");
      }
      peer.Expect("ABOR");
      if (t.after == After::Only426) peer.Send("426 Transfer aborted.\r\n");
      if (t.dataEnded) peer.Expect("NOOP");
      if (t.after == After::NoopRefused) peer.Send("502 Command not implemented.\r\n");
      EXPECT_TRUE(peer.ClientHangsUp());
    });
    Client c(server);
    bool aborted = false;
    int slicesAfterAbort = 0;
    c.session.SetWaitHook([&, hook = server.ClientWaitHook()] {
      hook();
      slicesAfterAbort += aborted ? 1 : 0;
    });
    c.log.onProgress = [&](std::int64_t) {
      aborted = true;
      c.session.AbortTransfer();
    };
    c.session.OpenSession();
    c.log.Clear();
    const std::string local = c.local.File("efin.zip");
    c.session.FetchFile("efin.zip", local);  // returns normally

    if (t.slices >= 0) {
      EXPECT_EQ(slicesAfterAbort, t.slices);
    } else {
      EXPECT_LT(slicesAfterAbort, 8);
    }
    EXPECT_TRUE(c.session.LastTransfer().aborted);
    EXPECT_EQ(ReadBytes(local).substr(0, 1), "d");
    EXPECT_EQ(c.log.Statuses().back(), "Transfer aborted");
    EXPECT_FALSE(c.session.IsConnected());
    const auto commands = server.Commands();
    EXPECT_EQ(std::vector<std::string>(commands.end() - t.lastCommands.size(), commands.end()),
              t.lastCommands);
    EXPECT_EQ(server.Failure(), "");
  }
}

// What the server says on the control connection while the data connection
// keeps silent ends the transfer in the slice it arrives in.
TEST(FtpMalformedReplies, ControlConnectionNewsEndsAStalledTransfer) {
  const struct {
    const char* name;
    std::function<void(ScriptedPeer&)> act;
    const char* error;
    bool stillConnected;
  } cases[] = {
      {"control connection closed", [](ScriptedPeer& peer) { peer.CloseControl(); },
       "The FTP server closed the connection.", false},
      {"final reply early", [](ScriptedPeer& peer) { peer.Send("451 Local error.\r\n"); },
       "Local error.", true},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    ScriptedFtpServer server([&](ScriptedPeer& peer) {
      peer.LogIn();
      peer.StartPassiveDownload();
      peer.SendData(std::string(3000, 'd'));
      peer.ActInClientWait([&] { t.act(peer); });
      if (!t.stillConnected) {
        EXPECT_TRUE(peer.DataClosedByClient());
        return;
      }
      peer.Expect("CWD");
      peer.Send("250 Ok.\r\n");
    });
    Client c(server);
    c.session.OpenSession();
    c.log.Clear();
    const std::string local = c.local.File("efin.zip");
    EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("efin.zip", local); }), t.error);
    // The slice the script acted in is the last one.
    EXPECT_EQ(c.log.idleSlices, 1);
    EXPECT_FALSE(std::filesystem::exists(local));
    EXPECT_EQ(c.session.IsConnected(), t.stillConnected);
    if (t.stillConnected) {
      c.session.ChangeRemoteDir("/httpdocs");
      EXPECT_EQ(c.session.LastReply().code, 250);
    }
    EXPECT_EQ(server.Failure(), "");
  }
}

TEST(FtpMalformedReplies, ActiveRefusalThatCameWithThe150EndsTheWaitAtOnce) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Expect("PORT 127,0,0,1,");
    peer.Send("200 Ok.\r\n");
    peer.Expect("RETR");
    peer.Send("150 Connecting.\r\n425 Can't open data connection.\r\n");
    peer.Expect("CWD");
    peer.Send("250 Ok.\r\n");
  });
  Client c(server, /*passive=*/false);
  c.session.OpenSession();
  c.log.Clear();
  EXPECT_EQ(ErrorOf([&] { c.session.FetchFile("a.zip", c.local.File("a.zip")); }),
            "Can't open data connection.");
  EXPECT_EQ(c.log.idleSlices, 0);
  c.session.ChangeRemoteDir("/httpdocs");
  EXPECT_EQ(c.session.LastReply().code, 250);
  EXPECT_EQ(server.Failure(), "");
}

// The data connection goes to the server the session talks to, whatever
// address the PASV reply announces; the reply's port is used.
TEST(FtpMalformedReplies, PasvAddressOfAnotherHostIsNotFollowed) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.Expect("PASV");
    peer.Send(peer.OpenPassive("10,0,0,7"));
    peer.AcceptData();
    peer.Expect("RETR");
    peer.Send("150 Here it comes.\r\n");
    peer.SendData("catalogue");
    peer.CloseData();
    peer.Send("226 Done.\r\n");
  });
  Client c(server);
  c.session.OpenSession();
  const std::string local = c.local.File("catalogue.ini");
  c.session.FetchFile("catalogue.ini", local);
  EXPECT_EQ(ReadBytes(local), "catalogue");
  EXPECT_EQ(server.Failure(), "");
}

// In active mode a connection from anywhere but the server is closed unread,
// and the wait goes on for the server's own.
TEST(FtpMalformedReplies, ActiveDataConnectionFromAnotherHostIsTurnedAway) {
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    const std::string port = peer.Expect("PORT");
    peer.Send("200 Ok.\r\n");
    peer.Expect("RETR");
    peer.Send("150 Opening data connection.\r\n");
    peer.ConnectData(port, "127.0.0.2");
    peer.SendData("intruder");
    const bool turnedAway = peer.DataClosedByClient();
    peer.ConnectData(port);
    peer.SendData("catalogue");
    peer.CloseData();
    peer.Send(turnedAway ? "226 Done.\r\n" : "451 The intruder got in.\r\n");
  });
  Client c(server, /*passive=*/false);
  c.session.OpenSession();
  const std::string local = c.local.File("catalogue.ini");
  c.session.FetchFile("catalogue.ini", local);
  EXPECT_EQ(ReadBytes(local), "catalogue");
  EXPECT_EQ(server.Failure(), "");
}

}  // namespace
}  // namespace korva
