#pragma once
// The session-wide values the main window holds for the whole run, grouped
// by the subsystem that owns them; lower code receives only its group.
#include <memory>

#include "catalogue/run_data.h"
#include "dbupdate/database_state.h"
#include "records/record_files.h"
#include "settings/profile_file.h"
#include "settings/site_state.h"
#include "transfer/transfer_state.h"

namespace korva::form {
class TextControl;
}

namespace korva {

struct SessionState {
  SessionState() = default;
  SessionState(const SessionState&) = delete;
  SessionState& operator=(const SessionState&) = delete;

  settings::SiteState site;                 // edition, clientId, applicationFolder
  dbupdate::DatabaseState database;         // recordedMainVersion, nextVersion, ...
  dbupdate::TransactionState transactions;  // transactionCounter
  catalogue::RunData run;                   // pending flags, targets, PendingModules
  transfer::TransferState transfer;         // abort flags, start time, expected size
  records::RecordFiles records;             // logFilePath, clientVersionFilePath

  bool baselineReached = false;
  bool runSucceeded = false;
  // The catalogue or script package open during one operation.
  std::unique_ptr<settings::ProfileFile> currentProfileFile;
  form::TextControl* pageBeforeConfig = nullptr;
};

}  // namespace korva
