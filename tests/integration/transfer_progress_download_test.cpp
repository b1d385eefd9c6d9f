// Downloads with the progress display attached the way the main window wires
// it: the display handles the session's events, the session's idle slices
// process the window's pending input. Real servers, and one of our own that
// stalls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/session_state.h"
#include "form/form_model.h"
#include "support/ftp_scripted_server.h"
#include "support/ftp_server.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"
#include "transfer/progress_display.h"

namespace korva {
namespace {

using ::testing::Contains;
using namespace testing;  // the test support

class ProgressDownloadTest : public ::testing::Test {
 protected:
  void Attach(std::uint16_t port, bool passive) {
    ftp_ = std::make_unique<transfer::FtpSession>("127.0.0.1", port);
    ftp_->SetPassive(passive);
    display_ = std::make_unique<transfer::ProgressDisplay>(
        transfer::ProgressControls{form_.STxtKBPS, form_.STxtDownModulo, form_.GaugeDownload,
                                   form_.GgDownModulo},
        session_.transfer, shell_, clock_, platform::LocaleFormats{});
    ftp_->SetEvents(display_.get());
    ftp_->SetWaitHook([this] { shell_.ProcessPendingInput(); });
  }

  form::FormModel form_;
  SessionState session_;
  testing::ScriptedShell shell_;
  platform::SystemClock clock_;
  std::unique_ptr<transfer::FtpSession> ftp_;
  std::unique_ptr<transfer::ProgressDisplay> display_;
  TempDir local_;
};

TEST_F(ProgressDownloadTest, CompleteDownloadEndsFullWithTheLastStatus) {
  FtpServer server(FtpServerKind::Vsftpd);
  server.MakeDir("/httpdocs");
  server.PutPatternFile("/httpdocs/versao_e_modulos_cartorio.ini", 300000);
  Attach(server.Port(), true);

  ftp_->OpenSession();
  ftp_->ChangeRemoteDir("/httpdocs");
  session_.transfer.expectedTransferSize = ftp_->RemoteFileSize("versao_e_modulos_cartorio.ini");
  ftp_->FetchFile("versao_e_modulos_cartorio.ini", local_.File("cat.ini"));

  EXPECT_EQ(ReadBytes(local_.File("cat.ini")), PatternBytes(0, 300000));
  EXPECT_EQ(form_.GaugeDownload.Percent(), 100);
  EXPECT_EQ(form_.GgDownModulo.Percent(), 100);
  EXPECT_EQ(shell_.applicationTitle, "100% KORVA Update");
  EXPECT_EQ(form_.STxtKBPS.Text(), "Transfer complete");
  EXPECT_EQ(form_.STxtDownModulo.Text(), "Transfer complete");
  EXPECT_EQ(session_.transfer.expectedTransferSize, 0);
  EXPECT_GT(shell_.repaints, 0);
}

TEST_F(ProgressDownloadTest, UnknownSizeFailsBeforeAnyDataIsStored) {
  FtpServer server(FtpServerKind::Pyftpdlib);
  server.PutPatternFile("/efin.zip", 50000);
  Attach(server.Port(), false);
  const std::string local = local_.File("efin.zip");
  WriteBytes(local, "old package");

  ftp_->OpenSession();
  session_.transfer.expectedTransferSize = -1;
  try {
    ftp_->FetchFile("efin.zip", local);
    FAIL() << "no failure";
  } catch (const KorvaError& e) {
    EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
  }
  EXPECT_FALSE(std::filesystem::exists(local));
  // The session is still usable, its replies in step.
  EXPECT_EQ(ftp_->RemoteFileSize("efin.zip"), 50000);
}

TEST_F(ProgressDownloadTest, AbortarClickedDuringAWaitCutsTheDownloadShort) {
  // A slow server: the client waits between pieces, and the window's input
  // is processed there; the click sets the flags as BtBtnAbortar does.
  FtpServer server(FtpServerKind::Pyftpdlib, {"rate=32768"});
  constexpr std::int64_t kSize = 512 * 1024;
  server.PutPatternFile("/efin.zip", kSize);
  Attach(server.Port(), true);
  ftp_->OpenSession();
  session_.transfer.expectedTransferSize = ftp_->RemoteFileSize("efin.zip");
  server.ForgetCommands();
  shell_.onPendingInput = [this] {
    session_.transfer.transferAbortRequested = true;
    session_.transfer.runAbortRequested = true;
  };

  const std::string local = local_.File("efin.zip");
  ftp_->FetchFile("efin.zip", local);  // returns normally

  const std::string got = ReadBytes(local);
  EXPECT_LT(static_cast<std::int64_t>(got.size()), kSize);
  EXPECT_EQ(got, PatternBytes(0, got.size()));
  EXPECT_EQ(form_.STxtKBPS.Text(), "Transfer aborted");
  EXPECT_FALSE(session_.transfer.transferAbortRequested);
  EXPECT_TRUE(session_.transfer.runAbortRequested);
  EXPECT_GT(shell_.inputSlices, 0);
  EXPECT_THAT(server.Commands(), Contains("ABOR"));
  shell_.onPendingInput = nullptr;
  EXPECT_FALSE(ftp_->IsConnected());
  ftp_->OpenSession();
  EXPECT_EQ(ftp_->RemoteFileSize("efin.zip"), kSize);
}

TEST_F(ProgressDownloadTest, AbortarEndsADownloadWhoseServerStalledInTheSliceItIsClickedIn) {
  // A little data, then nothing: no progress event comes to carry the click.
  ScriptedFtpServer server([](ScriptedPeer& peer) {
    peer.LogIn();
    peer.StartPassiveDownload();
    peer.SendData(std::string(4000, 'd'));
    peer.Expect("ABOR");
    peer.CloseData();
    peer.Send("426 Transfer aborted.\r\n226 ABOR successful.\r\n");
  });
  Attach(server.Port(), true);
  ftp_->OpenSession();
  session_.transfer.expectedTransferSize = 8000;
  bool clicked = false;
  int slicesAfterClick = 0;
  shell_.onPendingInput = [&] {
    // The rate text shows while the transfer runs.
    const std::string& text = form_.STxtKBPS.Text();
    const bool running = text.size() > 4 && text.compare(text.size() - 4, 4, "KB/s") == 0;
    if (clicked) {
      slicesAfterClick += running ? 1 : 0;
    } else if (running && form_.GaugeDownload.Progress() == 4000) {
      clicked = true;  // as BtBtnAbortar does
      session_.transfer.transferAbortRequested = true;
      session_.transfer.runAbortRequested = true;
    }
  };

  const std::string local = local_.File("efin.zip");
  ftp_->FetchFile("efin.zip", local);  // returns normally

  EXPECT_TRUE(clicked);
  EXPECT_EQ(slicesAfterClick, 0);
  EXPECT_EQ(ReadBytes(local), std::string(4000, 'd'));
  EXPECT_TRUE(ftp_->LastTransfer().aborted);
  EXPECT_EQ(form_.STxtKBPS.Text(), "Transfer aborted");
  EXPECT_FALSE(session_.transfer.transferAbortRequested);
  EXPECT_TRUE(session_.transfer.runAbortRequested);
  EXPECT_EQ(server.Failure(), "");
}

}  // namespace
}  // namespace korva
