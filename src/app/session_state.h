#pragma once
// The session-wide values the main window holds for the whole run.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "settings/profile_file.h"

namespace korva::form {
class TextControl;
}

namespace korva {

struct SessionState {
  SessionState() = default;
  SessionState(const SessionState&) = delete;
  SessionState& operator=(const SessionState&) = delete;

  std::string edition;  // "EMPRESA" or "CARTORIO"
  std::string clientId;
  std::string applicationFolder;
  std::string recordedMainVersion;
  std::string nextVersion;
  bool baselineReached = false;
  bool usersVersionAvailable = false;
  std::string scriptFilePath;
  std::string catalogueFilePath;
  std::string latestUsersVersion;
  std::string latestMainVersion;
  // The catalogue or script package open during one operation.
  std::unique_ptr<settings::ProfileFile> currentProfileFile;
  bool runSucceeded = false;
  bool transferAbortRequested = false;
  bool runAbortRequested = false;
  bool mainUpdatePending = false;
  bool usersUpdatePending = false;
  bool restartBackupOnExit = false;
  std::optional<platform::LocalDateTime> transferStartTime;
  std::int32_t expectedTransferSize = 0;
  std::uint32_t transactionCounter = 0;
  form::TextControl* pageBeforeConfig = nullptr;
  std::uint16_t pruningPasses = 0;
  std::string logFilePath;
  std::string clientVersionFilePath;
};

}  // namespace korva
