// The file-change watch speaks to the reading thread through a signal, and a
// signal interrupts whatever that thread is waiting in. With the signal
// fired at the thread every few hundred microseconds, and the downloaded
// file itself landing in a watched folder, a database loop on the real
// Firebird server and downloads from a real FTP server must still finish
// with exactly the right results.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/file_change_watch.h"
#include "settings/profile_cache.h"
#include "settings/profile_file.h"
#include "support/ftp_event_log.h"
#include "support/ftp_server.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace korva {
namespace {

using namespace std::chrono_literals;
using settings::ProfileFile;
using testing::FtpEventLog;
using testing::FtpServer;
using testing::FtpServerKind;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Fires the watch's signal at one thread until it goes.
class SignalStorm {
 public:
  SignalStorm(pid_t target, int signal)
      : thread_([this, target, signal] {
          while (!stop_.load()) {
            if (::tgkill(::getpid(), target, signal) == 0) sent_.fetch_add(1);
            std::this_thread::sleep_for(300us);
          }
        }) {}
  ~SignalStorm() {
    stop_.store(true);
    thread_.join();
  }
  SignalStorm(const SignalStorm&) = delete;
  SignalStorm& operator=(const SignalStorm&) = delete;
  std::uint64_t Sent() const { return sent_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> sent_{0};
  std::thread thread_;
};

class UnderChangeSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(profilePath_, "[UPDATE]\r\nTIPO_FTP=1\r\n");
    // The first read starts the watch and puts its handler in place.
    ASSERT_EQ(profile_.ReadInteger("UPDATE", "TIPO_FTP", 0), 1);
    signal_ = platform::FileChangeSignal();
    ASSERT_NE(signal_, 0) << "the watch did not start here";
  }

  // Between two steps the program reads its settings: that arms the watch
  // again, so the next change in the folder raises a real signal as well.
  void ReadSettings() { ASSERT_EQ(profile_.ReadInteger("UPDATE", "TIPO_FTP", 0), 1); }

  // Once the storm is over the kept copy is used again without a look: the
  // client library left our signal alone.
  bool ReadsFromTheCopyAgain() {
    for (int attempt = 0; attempt < 50; ++attempt) {
      const auto before = settings::profile::Counters().vouchedByWatch;
      ReadSettings();
      if (settings::profile::Counters().vouchedByWatch > before) return true;
    }
    return false;
  }

  TempDir folder_;
  std::string profilePath_ = folder_.File("KORVA.INI");
  ProfileFile profile_{profilePath_};
  int signal_ = 0;
};

TEST_F(UnderChangeSignals, DatabaseWorkFinishesUnderASignalStorm) {
  TempDir siteDir;
  const testing::Site site = testing::BuildSite(siteDir.Path());
  testing::SiteSession s(site.folder);
  s.main.Open();
  s.main.ExecuteDirect("CREATE TABLE SINAIS (N INTEGER NOT NULL)");

  const auto looksBefore = settings::profile::Counters().looked;
  {
    SignalStorm storm(::gettid(), signal_);
    std::int64_t sum = 0;
    for (int i = 1; i <= 300; ++i) {
      // Attaching again now and then: connecting is where a restarted call
      // goes wrong if anything does.
      if (i % 50 == 0) {
        s.main.Close();
        s.main.Open();
      }
      db::TransactionDesc t{static_cast<std::uint32_t>(i), db::IsolationLevel::ReadCommitted};
      s.main.StartTransaction(t);
      s.main.Execute("INSERT INTO SINAIS (N) VALUES (?)", {std::to_string(i)});
      s.main.Commit(t);
      sum += i;
      const db::QueryResult r = s.main.Query("SELECT COUNT(*), SUM(N) FROM SINAIS");
      ASSERT_EQ(r.rows.at(0).values.at(0), std::to_string(i));
      ASSERT_EQ(r.rows.at(0).values.at(1), std::to_string(sum));
      WriteBytes(folder_.File("LogUpdate.txt"), "passo " + std::to_string(i) + "\r\n");
      ReadSettings();
    }
    EXPECT_GT(storm.Sent(), 100u);
  }
  // The reads had to look at the disk: the signals reached the watch.
  EXPECT_GT(settings::profile::Counters().looked - looksBefore, 100u);
  s.main.Close();
  EXPECT_TRUE(ReadsFromTheCopyAgain());
}

TEST_F(UnderChangeSignals, DownloadsIntoAWatchedFolderFinishUnderASignalStorm) {
  constexpr std::int64_t kSize = 6 << 20;
  // Slow enough that the storm and the download's own writes overlap the
  // waits of both connections for a good while.
  FtpServer server(FtpServerKind::Pyftpdlib, {"rate=8388608", "delay=CWD:0.3"});
  server.MakeDir("/pacotes");
  server.PutPatternFile("/pacotes/grande.zip", kSize);
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    transfer::FtpSession session("127.0.0.1", server.Port());
    session.SetPassive(passive);
    FtpEventLog log;
    int progressReads = 0;
    log.onProgress = [&](std::int64_t) {
      ReadSettings();
      ++progressReads;
    };
    session.SetEvents(&log);
    // The window's input is processed once per idle slice of 125 ms or
    // more, not at every interrupted wait.
    int idleSlices = 0;
    session.SetWaitHook([&] { ++idleSlices; });
    const std::string local = folder_.File("grande.zip");
    {
      SignalStorm storm(::gettid(), signal_);
      const auto start = std::chrono::steady_clock::now();
      session.OpenSession();
      session.ChangeRemoteDir("/pacotes");
      session.FetchFile("grande.zip", local);
      session.CloseSession();
      const auto elapsed = std::chrono::steady_clock::now() - start;
      EXPECT_GT(storm.Sent(), 100u);
      EXPECT_LE(idleSlices, elapsed / 125ms + 1);
    }
    EXPECT_GT(progressReads, 100);
    const std::string bytes = ReadBytes(local);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSize));
    EXPECT_TRUE(bytes == PatternBytes(0, kSize)) << "the downloaded bytes differ";
    EXPECT_TRUE(ReadsFromTheCopyAgain());
  }
}

}  // namespace
}  // namespace korva
