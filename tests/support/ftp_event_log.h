#pragma once
// Records the transfer session's events as short texts, in order:
// "status Connected.", "begin download 0", "progress download 8192",
// "end download". A test may hook its own action into a progress event or
// an idle slice of a transfer.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transfer/ftp_session.h"

namespace korva::testing {

class FtpEventLog : public transfer::FtpEvents {
 public:
  void OnStatus(const std::string& text) override { events.push_back("status " + text); }
  void OnTransferBegin(transfer::TransferDirection d, std::int64_t total) override {
    events.push_back("begin " + Name(d) + " " + std::to_string(total));
    if (onBegin) onBegin();
  }
  bool OnProgress(transfer::TransferDirection, std::int64_t bytes) override {
    progress.push_back(bytes);
    if (onProgress) onProgress(bytes);
    return true;
  }
  void OnTransferEnd(transfer::TransferDirection d) override { events.push_back("end " + Name(d)); }
  bool OnTransferIdle(transfer::TransferDirection) override {
    ++idleSlices;
    return !onIdle || onIdle();
  }

  // Only the status texts, in order.
  std::vector<std::string> Statuses() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (e.rfind("status ", 0) == 0) out.push_back(e.substr(7));
    }
    return out;
  }
  void Clear() {
    events.clear();
    progress.clear();
    idleSlices = 0;
  }

  std::vector<std::string> events;  // statuses, begin and end
  std::vector<std::int64_t> progress;
  std::function<void()> onBegin;
  std::function<void(std::int64_t)> onProgress;
  // The transfer's waits that ended idle; onIdle's false answer aborts.
  int idleSlices = 0;
  std::function<bool()> onIdle;

 private:
  static std::string Name(transfer::TransferDirection d) {
    return d == transfer::TransferDirection::Download ? "download" : "upload";
  }
};

}  // namespace korva::testing
