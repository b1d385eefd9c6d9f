#pragma once
// What the update-run tests share: the offer each edition's site is made,
// the log lines of a recorded module, and a site with a branch folder on
// which a run is clicked through.
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/firebird_fixture.h"
#include "support/update_site.h"

namespace korva::testing {

extern const Message kSuccess;

struct Module {
  std::string executable, installed, target;
};

// What each edition's site has and is offered in the complete run.
struct Offer {
  std::vector<std::string> siteArguments;
  std::string catalogue;
  std::vector<std::pair<std::string, std::string>> packages;  // script packages
  std::vector<Module> modules;                                // updated or reinstalled
  std::string usersVersion, mainVersion;
  std::vector<std::pair<std::string, std::string>> columns;  // VERSAOBD of the main database
};

Offer OfferFor(const std::string& edition);

// The lines of LogUpdate.txt for one module recorded in that mode.
std::vector<std::string> RecordedModuleLog(const std::string& package, const std::string& folder,
                                           bool internet);

// LogUpdate.txt's lines, without their CR LF.
std::vector<std::string> LinesOf(const std::string& bytes);

// A site whose KORVA.INI names a branch folder, and the way to click through
// a run on it.
class RunSite {
 public:
  RunSite(const std::string& edition, std::optional<FtpServerKind> server, bool local,
          std::vector<std::string> siteArguments, std::vector<std::string> scenarios = {})
      : s(SiteOptions{edition, "FDB", WithBranch(branches, siteArguments)}, server,
          std::move(scenarios)) {
    if (local) s.UseLocalMode();
  }
  std::string Branch(const std::string& name = "") const {
    return name.empty() ? branches.File("filial1") : branches.File("filial1") + "/" + name;
  }

  // The check, "Iniciar &Atualizações", "Sim" and "&Continuar".
  void ClickThrough() {
    s.principal->BtBtnNovasAtualizacoesClick();
    s.principal->BtbtnIniciarAtualizacaoClick();
    if (s.form.ActivePage() != &s.form.TbShtBackup) return;
    s.form.RGBackup.SetItemIndex(0);
    s.principal->BtBtnContinuarClick();
  }
  std::string Column(const std::string& column) const {
    return IsqlValue(s.site.mainDatabase, "SELECT " + column + " FROM VERSAOBD");
  }

  TempDir branches;
  UpdateSite s;

 private:
  static std::vector<std::string> WithBranch(const TempDir& dir,
                                             std::vector<std::string> arguments) {
    std::filesystem::create_directories(dir.File("filial1"));
    arguments.push_back("--branch=" + dir.File("filial1"));
    return arguments;
  }
};

}  // namespace korva::testing
