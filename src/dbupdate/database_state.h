#pragma once
// What the program knows about the two databases between operations: the
// versions read when the window was shown and stepped by the script packages,
// and what the database updates must undo at exit.
#include <cstdint>
#include <string>

namespace korva::dbupdate {

struct DatabaseState {
  std::string recordedMainVersion;
  // The version after a recorded one: the script section applied next.
  std::string nextVersion;
  bool usersVersionAvailable = false;
  // A database update closed the companion backup program; start it at exit.
  bool restartBackupOnExit = false;
};

// The one transaction descriptor of the program: every explicit transaction,
// on either connection, is numbered by it.
struct TransactionState {
  std::uint32_t transactionCounter = 0;
};

}  // namespace korva::dbupdate
