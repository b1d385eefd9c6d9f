#pragma once
// The script package engine: takes one database from the version its
// VERSAOBD row records to the catalogue's target, one version at a time. Each
// version's package (fetched from the update server, or taken from the
// updater's folder in local mode) holds statement groups; each group runs in
// a transaction of its own, which also records the new version.
#include <memory>
#include <string>

#include "dbupdate/database_state.h"
#include "dbupdate/version_row.h"
#include "delivery/update_source.h"
#include "form/controls.h"
#include "form/shell.h"
#include "records/client_version_report.h"
#include "records/update_log.h"
#include "settings/profile_file.h"
#include "versions/edition.h"

namespace korva::dbupdate {

// The four steps: the users and the main database of each edition.
enum class Step {
  AtualizaBancoUsuarioEmpresa,
  AtualizaBancoEmpresa,
  AtualizaBancoUsuarioCartorio,
  AtualizaBancoCartorio,
};

// What one step needs of the program, for the database it updates.
struct ScriptContext {
  VersionRow& row;  // the database's version row; its connection runs the statements
  const std::string& target;
  DatabaseState& database;
  TransactionState& transactions;
  // Where the packages come from: the update server in internet mode, the
  // updater's folder in local mode; with the maker's key, only as signed.
  delivery::UpdateSource& source;
  records::UpdateLog& log;
  records::ClientVersionReport& report;
  Shell& shell;
  form::TextControl& abortButton;  // BtBtnAbortar
  bool& runSucceeded;
  std::unique_ptr<settings::ProfileFile>& currentProfileFile;
  const std::string& folder;  // the updater's own folder
};

// The package of a version for a step: "script_usuario_3_1_12.ini".
std::string PackageName(Step step, const std::string& version);
// The folder of the step's packages on the update server.
const char* RemoteDirectory(Step step);
// The steps of an edition's users and main database.
Step UsersStep(versions::Edition edition);
Step MainStep(versions::Edition edition);

// True when the database reached the target; false, after the step's failure
// message, when a statement group failed (it was rolled back; the groups
// before it stay committed with their version recorded) or a package arrived
// cut short or was refused by the maker's key. Any other
// failure (transfer, file, version) reaches the caller; a package is never
// executed when it comes before its first group.
bool AplicaPacotesScript(Step step, const ScriptContext& context);

}  // namespace korva::dbupdate
