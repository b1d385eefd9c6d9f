#include "dbupdate/write_protocol.h"

namespace korva::dbupdate {

db::TransactionDesc CurrentTransaction(const TransactionState& transactions) {
  return db::TransactionDesc{transactions.transactionCounter, db::IsolationLevel::ReadCommitted};
}

void BeginWrite(db::Connection& connection, TransactionState& transactions) {
  if (connection.InTransaction()) return;
  ++transactions.transactionCounter;
  connection.StartTransaction(CurrentTransaction(transactions));
}

void RollbackQuietly(db::Connection& connection, const TransactionState& transactions) {
  try {
    connection.Rollback(CurrentTransaction(transactions));
  } catch (const std::exception&) {
    // The server refused to end it; the connection has forgotten it already.
  }
}

void RunWriteTransaction(db::Connection& connection, TransactionState& transactions,
                         const std::function<void()>& writes) {
  try {
    BeginWrite(connection, transactions);
    writes();
    connection.Commit(CurrentTransaction(transactions));
  } catch (...) {
    RollbackQuietly(connection, transactions);
    throw;
  }
}

}  // namespace korva::dbupdate
