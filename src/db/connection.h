#pragma once
// A Firebird database connection as the program uses it: opened from a list of
// name=value parameters that a before-connect hook builds afresh at every
// opening, at most one explicit transaction at a time, statements sent as raw
// text, rows fetched as text values.
//
// Parameters honoured (names compare without regard to case, the first
// occurrence of a name counts, lines without "=" are carried along):
//   Database                  [server[/port]:]path to attach
//   User_Name, Password       credentials (isc_dpb_user_name, isc_dpb_password)
//   SQLDialect                1..3; anything else means 3
//   RoleName                  isc_dpb_sql_role_name, none when empty
//   ServerCharSet             isc_dpb_lc_ctype, none when empty
//   WaitOnLocks               "True": isc_tpb_wait, otherwise isc_tpb_nowait
//   Interbase TransIsolation  isolation of the implicit transactions that
//                             wrap statements run outside an explicit one:
//                             "RepeatableRead" is a snapshot (concurrency),
//                             "ReadCommited" and "DirtyRead" are read
//                             committed (Firebird never shows uncommitted
//                             rows). Explicit transactions take the
//                             isolation of their descriptor.
//   CommitRetain              "True": committing an explicit transaction uses
//                             commit-retaining, so its context stays open in
//                             the server until the next start or close ends it
//   Trim Char                 "True": trailing blanks of CHAR values are
//                             removed when fetched
// Others (BlobSize, LocaleCode, DriverName, ...) have no effect: large values
// are always fetched whole.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korva::db {

using ParameterList = std::vector<std::string>;

// The value of the first "name=..." line whose name matches (case-insensitive,
// Windows-1252 accents included); empty when there is none.
std::string ParameterValue(const ParameterList& params, std::string_view name);
bool HasParameter(const ParameterList& params, std::string_view name);

enum class IsolationLevel { ReadCommitted, RepeatableRead };

// Describes one explicit transaction: the caller's counter value and the
// isolation it asks for. Commit and rollback are given the same descriptor.
struct TransactionDesc {
  std::uint32_t transactionId = 0;
  IsolationLevel isolationLevel = IsolationLevel::ReadCommitted;
};

// One fetched row: a text per column, null read as the empty text.
struct Row {
  std::vector<std::string> values;
  std::vector<bool> nulls;
};

struct QueryResult {
  std::vector<std::string> columns;  // field names (aliases), as the server reports them
  std::vector<Row> rows;
  // Index of a column by name (case-insensitive); nullopt when absent.
  std::optional<std::size_t> ColumnIndex(std::string_view name) const;
};

// A statement parameter: nullopt sends NULL.
using SqlValue = std::optional<std::string>;

class Connection {
 public:
  using BeforeConnect = std::function<ParameterList()>;
  using StatementObserver = std::function<void(std::string_view sql)>;
  using CommitObserver = std::function<void()>;

  explicit Connection(std::string name);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& Name() const { return name_; }

  // Runs on every opening; its result replaces the parameter list. A failure
  // in it makes the opening fail with the same error.
  void SetBeforeConnect(BeforeConnect hook) { beforeConnect_ = std::move(hook); }
  // Lets tests and tracing see every statement text sent to the server.
  void SetStatementObserver(StatementObserver observer) { observer_ = std::move(observer); }
  // The same for every commit of an explicit transaction, before it is sent.
  void SetCommitObserver(CommitObserver observer) { commitObserver_ = std::move(observer); }

  // The parameters of the last opening (or those set by hand).
  const ParameterList& Params() const { return params_; }
  void SetParams(ParameterList params) { params_ = std::move(params); }
  std::string Param(std::string_view name) const { return ParameterValue(params_, name); }

  // Opening an open connection does nothing. Errors carry the client's wording.
  void Open();
  // Rolls back an open transaction and detaches; never fails.
  void Close();
  bool IsOpen() const;
  // Changes at every successful opening, so holders of server-side state can
  // tell that what they read belongs to an earlier attachment.
  std::uint64_t Generation() const { return generation_; }

  // Explicit transaction. Starting opens the connection first if it is closed;
  // starting while one is open fails.
  void StartTransaction(const TransactionDesc& desc);
  void Commit(const TransactionDesc& desc);
  // Rolling back without an open transaction does nothing.
  void Rollback(const TransactionDesc& desc);
  bool InTransaction() const;

  // Statement text sent as it stands (no parameter parsing). Inside the open
  // transaction, otherwise in an implicit one committed at once.
  void ExecuteDirect(std::string_view sql);
  // A statement that returns rows; every row fetched, values as text.
  QueryResult Query(std::string_view sql);
  // A statement with "?" parameters, values sent as text (the server converts
  // them to the parameters' types). Returns the number of rows it changed.
  std::uint64_t Execute(std::string_view sql, const std::vector<SqlValue>& params);

 private:
  struct Impl;
  template <typename Work>
  auto InTransactionScope(Work&& work);
  void Notify(std::string_view sql) const;

  std::string name_;
  BeforeConnect beforeConnect_;
  StatementObserver observer_;
  CommitObserver commitObserver_;
  ParameterList params_;
  std::uint64_t generation_ = 0;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korva::db
