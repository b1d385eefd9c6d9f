#include "transfer/progress_display.h"

#include <cstdio>

namespace korva::transfer {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 24LL * 60 * 60 * 1000;

}  // namespace

std::string FormatRate(double kilobytesPerSecond, char decimalSeparator) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f KB/s", kilobytesPerSecond);
  std::string result(text);
  if (const auto dot = result.find('.'); dot != std::string::npos) result[dot] = decimalSeparator;
  return result;
}

ProgressDisplay::ProgressDisplay(ProgressControls controls, TransferState& state, Shell& shell,
                                 const platform::Clock& clock, platform::LocaleFormats locale)
    : controls_(controls),
      state_(state),
      shell_(shell),
      clock_(clock),
      locale_(std::move(locale)) {}

std::uint64_t ProgressDisplay::Revisions() const {
  return controls_.STxtKBPS.Revision() + controls_.STxtDownModulo.Revision() +
         controls_.GaugeDownload.Revision() + controls_.GgDownModulo.Revision();
}

void ProgressDisplay::RepaintSince(std::uint64_t revisionsBefore) {
  if (Revisions() != revisionsBefore) shell_.Repaint();
}

void ProgressDisplay::ShowText(const std::string& text) {
  controls_.STxtKBPS.SetText(text);
  controls_.STxtDownModulo.SetText(text);
}

void ProgressDisplay::IdFTPKorvaStatus(const std::string& text) {
  const auto before = Revisions();
  ShowText(text);
  RepaintSince(before);
}

void ProgressDisplay::IdFTPKorvaWorkBegin(TransferDirection, std::int64_t announcedTotal) {
  const auto before = Revisions();
  state_.transferAbortRequested = false;
  state_.transferStartTime = clock_.Now();
  // A download announces nothing; its caller told us what to expect.
  const std::int64_t maximum = announcedTotal > 0 ? announcedTotal : state_.expectedTransferSize;
  controls_.GaugeDownload.SetMaxValue(maximum);
  controls_.GgDownModulo.SetMaxValue(maximum);
  rate_ = 0;
  RepaintSince(before);
}

bool ProgressDisplay::IdFTPKorvaWork(TransferDirection, std::int64_t bytesSoFar) {
  const auto before = Revisions();
  // Only the time-of-day part of the elapsed time counts.
  std::int64_t elapsedMs = 0;
  if (state_.transferStartTime) {
    elapsedMs = platform::MillisecondsBetween(*state_.transferStartTime, clock_.Now());
  }
  const double elapsedSeconds =
      elapsedMs > 0 ? static_cast<double>(elapsedMs % kMillisecondsPerDay) / 1000.0 : 0.0;
  if (elapsedSeconds > 0) rate_ = static_cast<double>(bytesSoFar) / 1024.0 / elapsedSeconds;
  ShowText(FormatRate(rate_, locale_.decimalSeparator));

  // The session acts on the answer as soon as this event returns.
  const bool goOn = !state_.transferAbortRequested;

  controls_.GaugeDownload.SetProgress(bytesSoFar);
  std::string title = std::to_string(controls_.GaugeDownload.Percent()) + "% KORVA Update";
  if (shell_.ApplicationTitle() != title) shell_.SetApplicationTitle(title);
  controls_.GgDownModulo.SetProgress(controls_.GaugeDownload.Progress());
  state_.transferAbortRequested = false;
  RepaintSince(before);
  return goOn;
}

bool ProgressDisplay::OnTransferIdle(TransferDirection) {
  if (!state_.transferAbortRequested) return true;
  state_.transferAbortRequested = false;
  return false;
}

void ProgressDisplay::IdFTPKorvaWorkEnd(TransferDirection) {
  const auto before = Revisions();
  ShowText("Transf. completada");
  state_.expectedTransferSize = 0;
  rate_ = 0;
  RepaintSince(before);
}

}  // namespace korva::transfer
