#pragma once
// How every database write of the updater is framed: one transaction
// descriptor for the whole program (transactionCounter, read
// committed), a transaction started only when none is open on the
// connection, commit at the end, rollback on any failure.
#include <functional>

#include "db/connection.h"
#include "dbupdate/database_state.h"

namespace korva::dbupdate {

// The descriptor of the current (or last) transaction.
db::TransactionDesc CurrentTransaction(const TransactionState& transactions);

// Uses the transaction open on the connection, or increments the counter and
// starts one (opening the connection first when it is closed).
void BeginWrite(db::Connection& connection, TransactionState& transactions);

// BeginWrite, writes, commit. When any of them fails the transaction is
// rolled back and the failure goes on to the caller (a failing rollback does
// not hide it).
void RunWriteTransaction(db::Connection& connection, TransactionState& transactions,
                         const std::function<void()>& writes);

// Rolls back what is open on the connection; a failure to do so is dropped.
void RollbackQuietly(db::Connection& connection, const TransactionState& transactions);

}  // namespace korva::dbupdate
