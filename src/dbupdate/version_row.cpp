#include "dbupdate/version_row.h"

#include "text/cp1252.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::dbupdate {

const char* MainVersionQuery(versions::Edition edition) {
  return edition == versions::Edition::Empresa ? kVersionQueryEmpresa : kVersionQueryCartorio;
}

VersionRow::VersionRow(db::Connection& connection, std::string query)
    : connection_(connection), query_(std::move(query)) {}

bool VersionRow::IsOpen() const {
  return open_ && connection_.IsOpen() && generation_ == connection_.Generation();
}

void VersionRow::Open() {
  if (!IsOpen()) Refresh();
}

void VersionRow::Refresh() {
  open_ = false;
  connection_.Open();
  db::QueryResult result = connection_.Query(query_);
  const auto key = result.ColumnIndex("CODVERSAO");
  columns_ = std::move(result.columns);
  hasRow_ = !result.rows.empty();
  values_ =
      hasRow_ ? std::move(result.rows.front().values) : std::vector<std::string>(columns_.size());
  key_ = key ? values_[*key] : std::string();
  generation_ = connection_.Generation();
  open_ = true;
}

void VersionRow::RequireOpen() const {
  if (!IsOpen()) throw KorvaError("The version row of " + connection_.Name() + " is not open");
}

std::size_t VersionRow::IndexOf(std::string_view column) const {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (text::SameText1252(columns_[i], column)) return i;
  throw KorvaError(text::Format("Field '%s' not found", {std::string(column)}));
}

std::string VersionRow::Value(std::string_view column) const {
  RequireOpen();
  return values_[IndexOf(column)];
}

void VersionRow::SetValue(std::string_view column, std::string value) {
  RequireOpen();
  values_[IndexOf(column)] = std::move(value);
}

const std::string& VersionRow::ColumnName(std::string_view column) const {
  return columns_[IndexOf(column)];
}

void GravaVersao(VersionRow& row, std::string_view column, std::string_view value) {
  db::Connection& connection = row.Connection();
  if (!connection.InTransaction())
    throw KorvaError("No transaction is open to record " + std::string(column) + " on " +
                     connection.Name());
  // The column name goes into the statement text: only the row's own columns
  // are accepted.
  const std::string name = row.ColumnName(column);
  row.SetValue(name, std::string(value));
  auto notRecorded = [&] {
    return KorvaError(text::Format("VERSAOBD has no row with CODVERSAO = %s: %s was not recorded",
                                   {row.Key(), name}));
  };
  if (!row.HasRow()) throw notRecorded();
  const std::uint64_t changed = connection.Execute(
      "UPDATE VERSAOBD SET " + name + " = ? WHERE CODVERSAO = ?", {std::string(value), row.Key()});
  if (changed == 0) throw notRecorded();
}

}  // namespace korva::dbupdate
