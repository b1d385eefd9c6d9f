#pragma once
// The catalogue check behind "&Procurar por novas atualizações": the
// edition's catalogue fetched from the update server (or taken from the
// updater's folder in local mode), the old sections pruned from the local
// script file, and every database and installed module compared with the
// catalogue's latest version, filling the pending-update list, the run data
// and the client version report.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "catalogue/run_data.h"
#include "dbupdate/version_row.h"
#include "delivery/update_source.h"
#include "form/controls.h"
#include "form/shell.h"
#include "platform/clock.h"
#include "records/client_version_report.h"
#include "records/update_log.h"
#include "settings/installed_modules.h"
#include "settings/profile_file.h"
#include "settings/site_state.h"

namespace korva::catalogue {

// The first page's transfer panel and the controls the result goes to.
struct CheckControls {
  form::StepIndicator& TBtnConectando;
  form::StepIndicator& TBtnVerificando;
  form::StepIndicator& TBtnDesconectando;
  form::TextControl& STxtKBPS;
  form::TreeView& TVAtualizacoes;
  // "Iniciar &Atualizações", "&Imprimir" and "&Gravar".
  std::array<form::TextControl*, 3> buttons;
  // The configuration page's branch folders (SrvRemoto1..3), as they stand.
  std::array<const form::TextControl*, 3> branchFolders;
};

// Everything one check reads and writes.
struct CheckContext {
  CheckControls controls;
  Shell& shell;
  // The catalogue and the client's version file come from here; with the
  // maker's key the catalogue is used only as the maker signed it.
  delivery::UpdateSource& source;
  records::UpdateLog& log;
  records::ClientVersionReport& report;
  const settings::SiteState& site;
  const settings::InstalledModules& modules;
  dbupdate::VersionRow& usersRow;
  // As read when the window was shown; not read again.
  const dbupdate::VersionRow& mainRow;
  RunData& run;
  const std::string& clientVersionFilePath;
  // "FiliaisPendentes.ini": the branch copies earlier runs owe.
  const std::string& pendingBranchesFilePath;
  // The catalogue while the check reads it.
  std::unique_ptr<settings::ProfileFile>& currentProfileFile;
  // Where "KORVA.INI" keeps the catalogue's SERIE, and today's date for its
  // VALIDADE (both used with the maker's key only).
  const std::string& settingsFolder;
  const platform::Clock& clock;
};

// Internet mode: connects, changes to the edition's folder, passes the
// EMPRESA baseline gate, fetches the catalogue and the client's version file
// (when the server has one) and disconnects. On a failure, or at the gate,
// the operator is told why and the program is ended: the result is then
// false and the caller stops.
bool BuscaCatalogo(const CheckContext& context, bool baselineReached);

// Erases from the local script file every section but the first that is
// older than the recorded main version, and again while something was erased,
// up to 30 passes in the program run. The file is written back only when
// something was erased; a failed write reaches the caller.
void RemoveSecoesAntigas(const std::string& scriptFilePath, std::string_view recordedMainVersion,
                         std::uint16_t& pruningPasses);

// Reads the catalogue and fills the list, the run data and the client
// version report. A catalogue that is missing, not the maker's or older than
// the last one this site accepted ends the program after its message (the
// result is then false). A module whose executable name would lead out of the
// application folder is left out, with its log line. A branch copy that an
// earlier run owes is offered as a node of its own, unless its module is
// pending anyway; one whose branch folder is configured no more is dropped. A failure of the
// vendor library or of a file write reaches the caller; the nodes added so
// far stay.
bool ListaAtualizacoes(const CheckContext& context);

}  // namespace korva::catalogue
