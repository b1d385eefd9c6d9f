#pragma once
// What the session's dialogue and its transfer machinery share; not for
// anyone outside the session.
#include <chrono>
#include <exception>
#include <optional>
#include <string_view>

#include "transfer/ftp_session.h"

namespace korva::transfer {

inline constexpr std::chrono::milliseconds kConnectSlice{125};
inline constexpr std::chrono::milliseconds kWaitSlice{250};

// Names travel inside command lines; a line break would start another command.
void CheckArgument(std::string_view argument);

// Marks the session busy for one operation. Input is processed inside the
// operation's waits; whatever a click starts then must not reach into the
// dialogue half-way, so it fails here instead.
class FtpSession::OperationScope {
 public:
  explicit OperationScope(FtpSession& session) : session_(session) {
    if (session.busy_) throw KorvaError("The FTP session is busy with another operation.");
    session.busy_ = true;
  }
  ~OperationScope() { session_.busy_ = false; }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

 private:
  FtpSession& session_;
};

struct FtpSession::Transfer {
  TransferDirection direction;
  bool abortSent = false;
  // Whether the data connection was made (active mode: accepted).
  bool connected = false;
  // The transfer command's final reply, once it has come; a server may send
  // it before the data has all arrived.
  std::optional<FtpReply> final;
  // The control connection failed meanwhile: what has already come on the
  // data connection is still taken, then the transfer fails with this.
  std::exception_ptr controlLost;
  std::chrono::steady_clock::time_point nextControlLook{};
};

}  // namespace korva::transfer
