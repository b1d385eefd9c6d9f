#pragma once
// VERSAOBD, the one-row table in which each database records what has been
// applied to it, and VersionRow, the in-memory copy of that row that the rest
// of the program reads. A value goes back one column at a time (GravaVersao)
// inside the caller's transaction.
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "versions/edition.h"

namespace korva::dbupdate {

inline constexpr const char* kVersionQueryEmpresa =
    "SELECT CODVERSAO, VERSAOBANCO, VERSAO_FIN, VERSAO_EST, VERSAO_ADM, VERSAO_FCX, VERSAO_SAC, "
    "VERSAO_VEI, VERSAO_SER, VERSAO_VAU, VERSAO_PRD, VERSAO_NFE, VERSAO_SIN, VERSAO_SPD, "
    "VERSAO_VEN FROM VERSAOBD";
inline constexpr const char* kVersionQueryCartorio =
    "SELECT CODVERSAO, VERSAOBANCO, VERSAO_NAS, VERSAO_CAS, VERSAO_OBT, VERSAO_TAB, VERSAO_FIR, "
    "VERSAO_ADM, VERSAO_CXA, VERSAO_LVE, VERSAO_GSN, VERSAO_MSN FROM VERSAOBD";
inline constexpr const char* kVersionQueryUsers =
    "SELECT CODVERSAO, VERSAOBANCO, EM_ATUALIZACAO FROM VERSAOBD";

// The main database's query: each edition's version table has its own columns.
const char* MainVersionQuery(versions::Edition edition);

class VersionRow {
 public:
  VersionRow(db::Connection& connection, std::string query);
  VersionRow(const VersionRow&) = delete;
  VersionRow& operator=(const VersionRow&) = delete;

  db::Connection& Connection() const { return connection_; }
  const std::string& QueryText() const { return query_; }

  // Open means read on the connection's current attachment: closing or
  // reopening the connection closes the copy too.
  bool IsOpen() const;
  // Reads the row when it is not open.
  void Open();
  // Discards the copy, pending changes included, and reads the row again
  // (opening the connection when it is closed). Errors reach the caller.
  void Refresh();
  void Close() { open_ = false; }

  // The first row the query returned; false for an empty table.
  bool HasRow() const { return hasRow_; }
  // The column's value as text; null (and an empty table) read as "". Fails
  // for a closed copy or a column the query does not select.
  std::string Value(std::string_view column) const;
  void SetValue(std::string_view column, std::string value);
  // CODVERSAO as read by the last refresh.
  const std::string& Key() const { return key_; }
  // The column's name as the query selects it; fails for an unknown column.
  const std::string& ColumnName(std::string_view column) const;

 private:
  std::size_t IndexOf(std::string_view column) const;
  void RequireOpen() const;

  db::Connection& connection_;
  std::string query_;
  bool open_ = false;
  std::uint64_t generation_ = 0;
  bool hasRow_ = false;
  std::vector<std::string> columns_;
  std::vector<std::string> values_;
  std::string key_;
};

// Records value in column: the in-memory row takes it and the database gets
// exactly one statement in the transaction open on the row's connection,
//   UPDATE VERSAOBD SET <column> = ? WHERE CODVERSAO = ?
// with the value and the key as read. Nothing is committed here. Fails when
// no transaction is open, when the column is not one of the row's, and when
// the statement changed no row (the row is gone or its key changed), so that
// the caller's rollback keeps the database and its record in step.
void GravaVersao(VersionRow& row, std::string_view column, std::string_view value);

}  // namespace korva::dbupdate
