// The transfer progress display on the form model, with a clock the test
// moves: rate text, both gauges, the title, and what gets repainted.
#include <gtest/gtest.h>

#include "app/session_state.h"
#include "form/form_model.h"
#include "support/scripted_shell.h"
#include "transfer/progress_display.h"

namespace korva::transfer {
namespace {

using platform::LocalDateTime;

class FakeClock : public platform::Clock {
 public:
  LocalDateTime Now() const override { return now; }
  void Advance(int milliseconds) {
    now.millisecond += milliseconds;
    now.second += now.millisecond / 1000;
    now.millisecond %= 1000;
    now.minute += now.second / 60;
    now.second %= 60;
    now.hour += now.minute / 60;
    now.minute %= 60;
    now.day += now.hour / 24;
    now.hour %= 24;
  }
  LocalDateTime now{2024, 3, 1, 10, 0, 0, 0};
};

constexpr auto kDown = TransferDirection::Download;

class ProgressDisplayTest : public ::testing::Test {
 protected:
  ProgressDisplayTest() { shell_.applicationTitle = "KORVA Update"; }

  ProgressControls Controls() {
    return {form_.STxtKBPS, form_.STxtDownModulo, form_.GaugeDownload, form_.GgDownModulo};
  }
  // A download of `expected` bytes begins; `bytes` have come `afterMs` later.
  void Download(std::int64_t expected, int afterMs, std::int64_t bytes) {
    session_.transfer.expectedTransferSize = expected;
    display_.IdFTPKorvaWorkBegin(kDown, 0);
    clock_.Advance(afterMs);
    display_.IdFTPKorvaWork(kDown, bytes);
  }
  // Both gauges and the title at this percentage.
  void ExpectPercent(int percent) {
    EXPECT_EQ(form_.GaugeDownload.Percent(), percent);
    EXPECT_EQ(form_.GgDownModulo.Percent(), percent);
    EXPECT_EQ(shell_.applicationTitle, std::to_string(percent) + "% KORVA Update");
  }
  platform::LocaleFormats Comma() {
    platform::LocaleFormats l;
    l.decimalSeparator = ',';
    return l;
  }

  form::FormModel form_;
  SessionState session_;
  testing::ScriptedShell shell_;
  FakeClock clock_;
  ProgressDisplay display_{Controls(), session_.transfer, shell_, clock_, Comma()};
};

TEST_F(ProgressDisplayTest, ReportedSizeHalfWayAfter2_5Seconds) {
  session_.transfer.expectedTransferSize = 20480;
  session_.transfer.transferAbortRequested = true;  // a click between two transfers is forgotten
  display_.IdFTPKorvaWorkBegin(kDown, 0);
  EXPECT_FALSE(session_.transfer.transferAbortRequested);
  EXPECT_EQ(session_.transfer.transferStartTime, clock_.now);
  EXPECT_EQ(form_.GaugeDownload.MaxValue(), 20480);
  EXPECT_EQ(form_.GgDownModulo.MaxValue(), 20480);

  clock_.Advance(2500);
  display_.IdFTPKorvaWork(kDown, 10240);
  EXPECT_EQ(form_.STxtKBPS.Text(), "4,00 KB/s");
  EXPECT_EQ(form_.STxtDownModulo.Text(), "4,00 KB/s");
  EXPECT_EQ(shell_.applicationTitle, "50% KORVA Update");
  EXPECT_EQ(form_.GaugeDownload.Percent(), 50);
  EXPECT_EQ(form_.GgDownModulo.Progress(), 10240);

  display_.IdFTPKorvaWorkEnd(kDown);
  EXPECT_EQ(form_.STxtKBPS.Text(), "Transf. completada");
  EXPECT_EQ(form_.STxtDownModulo.Text(), "Transf. completada");
  EXPECT_EQ(session_.transfer.expectedTransferSize, 0);
  EXPECT_EQ(display_.CurrentRate(), 0);
  // Nothing restores the gauges or the title.
  EXPECT_EQ(form_.GaugeDownload.Percent(), 50);
  EXPECT_EQ(shell_.applicationTitle, "50% KORVA Update");
}

TEST_F(ProgressDisplayTest, UnknownSizeSetToOneShowsFullAtTheFirstPiece) {
  Download(1, 40, 8192);
  ExpectPercent(100);
  EXPECT_EQ(form_.STxtKBPS.Text(), "200,00 KB/s");
}

TEST_F(ProgressDisplayTest, FirstMillisecondKeepsTheRateAtZero) {
  session_.transfer.expectedTransferSize = 100000;
  display_.IdFTPKorvaWorkBegin(kDown, 0);
  display_.IdFTPKorvaWork(kDown, 8192);
  EXPECT_EQ(form_.STxtKBPS.Text(), "0,00 KB/s");
  EXPECT_EQ(display_.CurrentRate(), 0);

  ProgressDisplay dotted(Controls(), session_.transfer, shell_, clock_, platform::LocaleFormats{});
  dotted.IdFTPKorvaWorkBegin(kDown, 0);
  dotted.IdFTPKorvaWork(kDown, 8192);
  EXPECT_EQ(form_.STxtDownModulo.Text(), "0.00 KB/s");
}

TEST_F(ProgressDisplayTest, UploadTakesTheAnnouncedTotal) {
  session_.transfer.expectedTransferSize = 20480;
  display_.IdFTPKorvaWorkBegin(TransferDirection::Upload, 700);
  EXPECT_EQ(form_.GaugeDownload.MaxValue(), 700);
  EXPECT_EQ(form_.GgDownModulo.MaxValue(), 700);
  clock_.Advance(1000);
  display_.IdFTPKorvaWork(TransferDirection::Upload, 700);
  EXPECT_EQ(shell_.applicationTitle, "100% KORVA Update");
}

TEST_F(ProgressDisplayTest, NegativeExpectedSizeFailsTheBegin) {
  session_.transfer.expectedTransferSize = -1;
  try {
    display_.IdFTPKorvaWorkBegin(kDown, 0);
    FAIL() << "no failure";
  } catch (const KorvaError& e) {
    EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
  }
}

TEST_F(ProgressDisplayTest, ZeroExpectedSizeKeepsTheGaugesAtZero) {
  session_.transfer.expectedTransferSize = 0;
  display_.IdFTPKorvaWorkBegin(kDown, 0);
  for (std::int64_t bytes : {8192, 16384, 24576}) {
    clock_.Advance(100);
    display_.IdFTPKorvaWork(kDown, bytes);
    ExpectPercent(0);
    EXPECT_EQ(form_.GgDownModulo.Progress(), 0);
  }
}

TEST_F(ProgressDisplayTest, FileThatGrewOnTheServerStaysAtFull) {
  Download(1000, 100, 5000);
  ExpectPercent(100);
  EXPECT_EQ(form_.GaugeDownload.Progress(), 1000);
}

TEST_F(ProgressDisplayTest, RepaintsAndRedrawsOnlyWhatChanged) {
  Download(1 << 30, 1000, 1024);  // the percentage stays 0
  EXPECT_EQ(form_.STxtKBPS.Text(), "1,00 KB/s");
  const int repaints = shell_.repaints;
  const int titles = shell_.titleChanges;
  const auto gauge = form_.GaugeDownload.Revision();

  // Same rate, same percentage: nothing to draw.
  clock_.Advance(1000);
  display_.IdFTPKorvaWork(kDown, 2048);
  EXPECT_EQ(shell_.repaints, repaints);
  EXPECT_EQ(shell_.titleChanges, titles);
  EXPECT_EQ(form_.GaugeDownload.Revision(), gauge);

  // A new rate is painted at once; the gauge still is not.
  clock_.Advance(1000);
  display_.IdFTPKorvaWork(kDown, 6144);
  EXPECT_EQ(form_.STxtKBPS.Text(), "2,00 KB/s");
  EXPECT_EQ(shell_.repaints, repaints + 1);
  EXPECT_EQ(form_.GaugeDownload.Revision(), gauge);

  display_.IdFTPKorvaStatus("Transfer complete");
  EXPECT_EQ(form_.STxtDownModulo.Text(), "Transfer complete");
  EXPECT_EQ(shell_.repaints, repaints + 2);
}

TEST_F(ProgressDisplayTest, ElapsedTimeCrossesMidnightByItsTimeOfDay) {
  clock_.now = LocalDateTime{2024, 3, 1, 23, 59, 59, 0};
  Download(1 << 20, 2000, 4096);
  EXPECT_EQ(form_.STxtKBPS.Text(), "2,00 KB/s");
}

TEST_F(ProgressDisplayTest, AbortRequestIsClearedByTheNextPiece) {
  session_.transfer.expectedTransferSize = 1000;
  display_.IdFTPKorvaWorkBegin(kDown, 0);
  session_.transfer.transferAbortRequested = true;
  session_.transfer.runAbortRequested = true;
  EXPECT_FALSE(display_.IdFTPKorvaWork(kDown, 100));  // the session aborts
  EXPECT_TRUE(display_.IdFTPKorvaWork(kDown, 200));
  EXPECT_FALSE(session_.transfer.transferAbortRequested);
  EXPECT_TRUE(session_.transfer.runAbortRequested);  // the run's flag is not ours
}

TEST_F(ProgressDisplayTest, AbortRequestSeenInAnIdleWaitIsCarriedOutOnce) {
  session_.transfer.expectedTransferSize = 1000;
  display_.IdFTPKorvaWorkBegin(kDown, 0);
  EXPECT_TRUE(display_.OnTransferIdle(kDown));
  session_.transfer.transferAbortRequested = true;
  session_.transfer.runAbortRequested = true;
  EXPECT_FALSE(display_.OnTransferIdle(kDown));  // the session aborts
  EXPECT_TRUE(display_.OnTransferIdle(kDown));
  EXPECT_FALSE(session_.transfer.transferAbortRequested);
  EXPECT_TRUE(session_.transfer.runAbortRequested);
}

TEST(ProgressRate, PatternWithTwoDecimalsAndNoThousandsSeparator) {
  EXPECT_EQ(FormatRate(0, ','), "0,00 KB/s");
  EXPECT_EQ(FormatRate(4, ','), "4,00 KB/s");
  EXPECT_EQ(FormatRate(1234.567, ','), "1234,57 KB/s");
  EXPECT_EQ(FormatRate(0.004, '.'), "0.00 KB/s");
  EXPECT_EQ(FormatRate(99.999, '.'), "100.00 KB/s");
}

}  // namespace
}  // namespace korva::transfer
