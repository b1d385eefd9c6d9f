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

ProgressDisplay::ProgressDisplay(form::FormModel& form, SessionState& session, Shell& shell,
                                 const platform::Clock& clock, platform::LocaleFormats locale,
                                 FtpSession& ftp)
    : form_(form),
      session_(session),
      shell_(shell),
      clock_(clock),
      locale_(std::move(locale)),
      ftp_(ftp) {}

std::uint64_t ProgressDisplay::Revisions() const {
  return form_.STxtKBPS.Revision() + form_.STxtDownModulo.Revision() +
         form_.GaugeDownload.Revision() + form_.GgDownModulo.Revision();
}

void ProgressDisplay::RepaintSince(std::uint64_t revisionsBefore) {
  if (Revisions() != revisionsBefore) shell_.Repaint();
}

void ProgressDisplay::ShowText(const std::string& text) {
  form_.STxtKBPS.SetText(text);
  form_.STxtDownModulo.SetText(text);
}

void ProgressDisplay::IdFTPKorvaStatus(const std::string& text) {
  const auto before = Revisions();
  ShowText(text);
  RepaintSince(before);
}

void ProgressDisplay::IdFTPKorvaWorkBegin(TransferDirection, std::int64_t announcedTotal) {
  const auto before = Revisions();
  session_.transferAbortRequested = false;
  session_.transferStartTime = clock_.Now();
  // A download announces nothing; its caller told us what to expect.
  const std::int64_t maximum = announcedTotal > 0 ? announcedTotal : session_.expectedTransferSize;
  form_.GaugeDownload.SetMaxValue(maximum);
  form_.GgDownModulo.SetMaxValue(maximum);
  rate_ = 0;
  RepaintSince(before);
}

void ProgressDisplay::IdFTPKorvaWork(TransferDirection, std::int64_t bytesSoFar) {
  const auto before = Revisions();
  // Only the time-of-day part of the elapsed time counts.
  std::int64_t elapsedMs = 0;
  if (session_.transferStartTime) {
    elapsedMs = platform::MillisecondsBetween(*session_.transferStartTime, clock_.Now());
  }
  const double elapsedSeconds =
      elapsedMs > 0 ? static_cast<double>(elapsedMs % kMillisecondsPerDay) / 1000.0 : 0.0;
  if (elapsedSeconds > 0) rate_ = static_cast<double>(bytesSoFar) / 1024.0 / elapsedSeconds;
  ShowText(FormatRate(rate_, locale_.decimalSeparator));

  if (session_.transferAbortRequested) ftp_.AbortTransfer();

  form_.GaugeDownload.SetProgress(bytesSoFar);
  std::string title = std::to_string(form_.GaugeDownload.Percent()) + "% KORVA Update";
  if (shell_.ApplicationTitle() != title) shell_.SetApplicationTitle(title);
  form_.GgDownModulo.SetProgress(form_.GaugeDownload.Progress());
  session_.transferAbortRequested = false;
  RepaintSince(before);
}

void ProgressDisplay::IdFTPKorvaWorkEnd(TransferDirection) {
  const auto before = Revisions();
  ShowText("Transf. completada");
  session_.expectedTransferSize = 0;
  rate_ = 0;
  RepaintSince(before);
}

}  // namespace korva::transfer
