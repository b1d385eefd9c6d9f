#pragma once
// The main window's side of the transfer session's events: the rate and the
// status texts in STxtKBPS and STxtDownModulo, both gauges, the percentage in
// the application title, and the one place where "&Abortar" reaches a running
// transfer.
#include <cstdint>
#include <string>

#include "form/controls.h"
#include "form/shell.h"
#include "platform/clock.h"
#include "transfer/ftp_session.h"
#include "transfer/transfer_state.h"

namespace korva::transfer {

// "0.00 KB/s" with the locale's decimal separator.
std::string FormatRate(double kilobytesPerSecond, char decimalSeparator);

// The four controls that show a transfer: the first page's pair and the log
// page's pair always show the same.
struct ProgressControls {
  form::TextControl& STxtKBPS;
  form::TextControl& STxtDownModulo;
  form::Gauge& GaugeDownload;
  form::Gauge& GgDownModulo;
};

class ProgressDisplay final : public FtpEvents {
 public:
  ProgressDisplay(ProgressControls controls, TransferState& state, Shell& shell,
                  const platform::Clock& clock, platform::LocaleFormats locale);

  void IdFTPKorvaStatus(const std::string& text);
  // Fails with "Value must be between 1 and 2147483647" when the maximum
  // would be negative (a download of unknown size, expectedTransferSize -1).
  void IdFTPKorvaWorkBegin(TransferDirection direction, std::int64_t announcedTotal);
  // Returns false when the operator asked for the transfer to be aborted:
  // the session then aborts it.
  bool IdFTPKorvaWork(TransferDirection direction, std::int64_t bytesSoFar);
  void IdFTPKorvaWorkEnd(TransferDirection direction);

  // Kilobytes per second; 0 between transfers.
  double CurrentRate() const { return rate_; }

  void OnStatus(const std::string& text) override { IdFTPKorvaStatus(text); }
  void OnTransferBegin(TransferDirection direction, std::int64_t total) override {
    IdFTPKorvaWorkBegin(direction, total);
  }
  bool OnProgress(TransferDirection direction, std::int64_t bytesSoFar) override {
    return IdFTPKorvaWork(direction, bytesSoFar);
  }
  void OnTransferEnd(TransferDirection direction) override { IdFTPKorvaWorkEnd(direction); }
  // A wait of the transfer ended idle: an "&Abortar" clicked meanwhile is
  // carried out and forgotten as the next progress event would do.
  bool OnTransferIdle(TransferDirection direction) override;

 private:
  void ShowText(const std::string& text);
  std::uint64_t Revisions() const;
  // The run never returns to the event loop during a transfer, so what
  // changed is painted at once.
  void RepaintSince(std::uint64_t revisionsBefore);

  ProgressControls controls_;
  TransferState& state_;
  Shell& shell_;
  const platform::Clock& clock_;
  platform::LocaleFormats locale_;
  double rate_ = 0;
};

}  // namespace korva::transfer
