#include "dbupdate/write_protocol.h"

#include "app/session_state.h"

namespace korva::dbupdate {

db::TransactionDesc CurrentTransaction(const SessionState& session) {
  return db::TransactionDesc{session.transactionCounter, db::IsolationLevel::ReadCommitted};
}

void BeginWrite(db::Connection& connection, SessionState& session) {
  if (connection.InTransaction()) return;
  ++session.transactionCounter;
  connection.StartTransaction(CurrentTransaction(session));
}

void RollbackQuietly(db::Connection& connection, const SessionState& session) {
  try {
    connection.Rollback(CurrentTransaction(session));
  } catch (const std::exception&) {
    // The server refused to end it; the connection has forgotten it already.
  }
}

void RunWriteTransaction(db::Connection& connection, SessionState& session,
                         const std::function<void()>& writes) {
  try {
    BeginWrite(connection, session);
    writes();
    connection.Commit(CurrentTransaction(session));
  } catch (...) {
    RollbackQuietly(connection, session);
    throw;
  }
}

}  // namespace korva::dbupdate
