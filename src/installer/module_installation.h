#pragma once
// The module installation that ends an update run: every pending module's
// package fetched (or taken from the application folder in local mode), put
// into effect, its build checked against the catalogue, its version recorded,
// passed on to the branch servers, and the client version report sent back.
#include <string>

#include "catalogue/run_data.h"
#include "dbupdate/database_state.h"
#include "dbupdate/version_row.h"
#include "delivery/update_source.h"
#include "form/controls.h"
#include "form/shell.h"
#include "installer/branch_distribution.h"
#include "installer/zip/zip_reader.h"
#include "records/client_version_report.h"
#include "records/update_log.h"
#include "settings/site_state.h"
#include "transfer/transfer_state.h"

namespace korva::installer {

// The log page's module transfer panel and the button the run disables.
struct ModuleControls {
  form::TextControl& PnlDownModulo;
  form::TextControl& LblGravando;
  form::StepIndicator& TBtnConect;
  form::StepIndicator& TBtnFazDownModulo;
  form::StepIndicator& TbtnDesconect;
  form::Gauge& GgDownModulo;
  form::TextControl& BtBtnAbortar;
  BranchControls branches;
};

struct InstallContext {
  ModuleControls controls;
  Shell& shell;
  // Where the packages come from; with the maker's key, a package is put
  // into effect only when it is the one its catalogue section pins.
  delivery::UpdateSource& source;
  transfer::TransferState& transfer;  // the operator's abort of the run
  records::UpdateLog& log;
  records::ClientVersionReport& report;
  ZipReader& reader;
  const catalogue::RunData& run;
  const settings::SiteState& site;
  dbupdate::VersionRow& mainRow;  // the edition's
  dbupdate::TransactionState& transactions;
  bool& runSucceeded;
};

// The package of a module's executable: "efin.zip" for "EFIN.EXE".
std::string PackageName(const std::string& executable);

// Installs every slot that holds an executable and leaves the outcome in
// runSucceeded. Closes the main window itself after an aborted run or a
// failed last module, returns at once after a failed version record, and on
// any other failure closes the session and ends the program.
void AtualizaModulos(const InstallContext& context);

}  // namespace korva::installer
