#include "catalogue/catalogue_check.h"

#include <algorithm>
#include <exception>

#include "catalogue/catalogue_freshness.h"
#include "catalogue/module_registry.h"
#include "dbupdate/protected_mode.h"
#include "platform/files.h"
#include "platform/relative_names.h"
#include "records/client_version_report.h"
#include "records/pending_branch_copies.h"
#include "settings/big_ini_file.h"
#include "settings/held_profile_file.h"
#include "settings/installed_modules.h"
#include "settings/settings_file.h"
#include "text/cp1252.h"
#include "text/strings.h"
#include "trust/trust.h"
#include "vendor/vendor_library.h"
#include "versions/edition.h"
#include "versions/version_rules.h"

namespace korva::catalogue {
namespace {

using Image = form::StepIndicator::Image;

constexpr const char* kLatestKey = "\xDAltimaVers\xE3o";  // ÚltimaVersão
constexpr std::uint16_t kMaxPruningPasses = 30;

const versions::EditionTable& EditionOf(const CheckContext& c) {
  return versions::TableOf(c.site.edition);
}

// The check runs without returning to the event loop: every change of the
// panel is painted at once.
void Show(const CheckContext& c, form::StepIndicator& indicator, Image image) {
  indicator.SetImage(image);
  c.shell.Repaint();
}

void EndWith(const CheckContext& c, const char* caption, const std::string& text) {
  c.shell.ShowMessage(Message{caption, text, MsgIcon::Warning, kOk, kOk});
  c.shell.EndProgram();
}

void CloseQuietly(delivery::UpdateSource& source) {
  try {
    if (source.IsConnected()) source.Disconnect();
  } catch (const std::exception&) {
    // The connection is gone either way; the failure being reported matters.
  }
}

// The catalogue refused by the maker's key or as stale: the refusal was
// logged; it is told and the program ends.
void Refuse(const CheckContext& c, const std::string& text) {
  CloseQuietly(c.source);
  EndWith(c, "KORVA - Atualizações", text);
}

std::string RefusalText(const delivery::Refusal& refusal, const std::string& name) {
  using Cause = delivery::Refusal::Cause;
  if (refusal.cause == Cause::TooLarge) {
    return "O arquivo de atualização " + name + " é " + refusal.reason + ".";
  }
  return "A assinatura do arquivo de atualização " + name +
         (refusal.cause == Cause::SignatureMissing ? " não foi encontrada." : " não confere.");
}

// The catalogue and the client's version file; a refusal of the catalogue
// (too large, or its signature) stops here.
std::optional<delivery::Refusal> FetchFiles(const CheckContext& c, const std::string& catalogue) {
  delivery::UpdateSource& source = c.source;
  const delivery::FetchOutcome got =
      source.Fetch(delivery::FileKind::Catalogue, catalogue, c.run.catalogueFilePath);
  if (got.refusal) return got.refusal;
  source.EnterFolder(records::kClientVersionDirectory);
  // A client without a file on the server keeps its local one, if any.
  if (c.report.Usable()) source.FetchIfPresent(c.site.clientId + ".ini", c.clientVersionFilePath);
  return std::nullopt;
}

// With the maker's key: the catalogue's SERIE and VALIDADE. A kept SERIE that
// is not one counts as none. True when the catalogue may be used.
bool Fresh(const CheckContext& c, const settings::ProfileFile& catalogue, const std::string& name,
           std::string& keptSerie) {
  keptSerie = settings::ReadKeptSerie(c.settingsFolder, c.site.edition);
  if (!keptSerie.empty() && !trust::IsSerie(keptSerie)) {
    c.log.LogWriteFile(std::string(EditionOf(c).keptSerieKey) +
                       " inválida em KORVA.INI: tomada como ausente");
    keptSerie.clear();
  }
  const auto stale = CheckFreshness(catalogue, EditionOf(c).name, name, keptSerie, c.clock.Now());
  if (!stale) return true;
  c.log.LogRefusal(name, stale->reason);
  Refuse(c, stale->message);
  return false;
}

// Every check passed: the catalogue's SERIE becomes the one to beat. A file
// that cannot take it leaves the check going on.
void KeepSerie(const CheckContext& c, const settings::ProfileFile& catalogue,
               const std::string& keptSerie) {
  const std::string serie = SerieOf(catalogue, EditionOf(c).name);
  if (!Raises(serie, keptSerie)) return;
  try {
    settings::KeepSerie(c.settingsFolder, c.site.edition, serie);
  } catch (const std::exception& e) {
    try {
      c.log.LogWriteFile("Não foi possível gravar " + std::string(EditionOf(c).keptSerieKey) +
                         " em KORVA.INI: " + e.what());
    } catch (const std::exception&) {
      // A disk too full for the SERIE may be too full for its line as well.
    }
  }
}

// The pending-update list as the check builds it, node by node: a failure
// half-way leaves the nodes added so far on screen.
class PendingList {
 public:
  explicit PendingList(const CheckContext& context) : c_(context) {}

  void Add(const std::string& text) {
    auto nodes = c_.controls.TVAtualizacoes.Nodes();
    nodes.push_back({text, {}});
    c_.controls.TVAtualizacoes.SetNodes(std::move(nodes));
    any_ = true;
  }
  bool Any() const { return any_; }

  // Slot n, counted from 1. A module past the last slot cannot be installed
  // by this run: it is named to the operator instead of being dropped.
  bool Take(std::size_t n, const PendingModule& module, const std::string& label) {
    if (n == 0 || n > c_.run.PendingModules.size()) {
      overflow_.push_back(label);
      return false;
    }
    c_.run.PendingModules[n - 1] = module;
    return true;
  }
  const std::vector<std::string>& Overflow() const { return overflow_; }

  // A module the check looked at: its label, and whether it is pending.
  struct Examined {
    std::string label;
    PendingModule module;
    bool pending;
  };
  void Note(const std::string& label, const PendingModule& module, bool pending) {
    examined_.push_back({label, module, pending});
  }
  const Examined* Find(const std::string& package) const {
    for (const Examined& e : examined_) {
      if (text::SameText1252(settings::PackageNameOf(e.module.executable), package)) return &e;
    }
    return nullptr;
  }

 private:
  const CheckContext& c_;
  bool any_ = false;
  std::vector<std::string> overflow_;
  std::vector<Examined> examined_;
};

// One row of the installed-modules list (or the EMPRESA VEI row).
void CheckModule(const CheckContext& c, const settings::ProfileFile& catalogue, PendingList& list,
                 std::size_t slot, const std::string& label, const std::string& executable,
                 const std::string& installedVersion) {
  // A name from the database that could lead out of the application folder
  // is never fetched, deleted nor extracted.
  if (!platform::StaysBelowFolder(executable)) {
    c.log.LogRefusal(executable, "nome inválido");
    return;
  }
  const std::string latest = catalogue.ReadString(executable, kLatestKey, "");
  const bool present =
      platform::FileExists(platform::JoinPath(c.site.applicationFolder, executable));
  // A module the catalogue does not name and that is in place is none of
  // the check's business.
  if (latest.empty() && present) return;
  const PendingModule module{executable, latest, catalogue.ReadString(executable, "SHA256", ""),
                             catalogue.ReadString(executable, "TAMANHO", "")};
  bool pending = false;
  if (!present) {
    pending = true;
    if (list.Take(slot, module, label)) list.Add("MÓDULO " + label + " - Reinstalação");
  } else if (vendor::ExisteAtualizacao(latest, installedVersion)) {
    pending = true;
    if (list.Take(slot, module, label)) {
      list.Add("MÓDULO " + label + " - Atualizar para versão " + latest);
    }
  }
  list.Note(label, module, pending);
  c.report.RegistraVersaoCliente(executable, latest);
}

bool BranchConfigured(const CheckContext& c, const std::string& folder) {
  for (const form::TextControl* field : c.controls.branchFolders) {
    if (text::SameText1252(text::Trim(field->Text()), folder)) return true;
  }
  return false;
}

// The copies earlier runs owe single branches, after the module nodes.
void OfferDueBranchCopies(const CheckContext& c, PendingList& list) {
  records::PendingBranchCopies pending(c.pendingBranchesFilePath);
  for (const records::PendingBranchCopy& owed : pending.Read()) {
    if (!BranchConfigured(c, owed.folder)) {
      pending.Drop(owed.folder);
      c.log.LogWriteFile("Cópia pendente de " + owed.package + " para " + owed.folder +
                         " descartada: filial não configurada");
      continue;
    }
    // A module pending anyway goes to every branch with its own slot.
    const PendingList::Examined* module = list.Find(owed.package);
    if (!module || module->pending) continue;
    list.Add("FILIAL " + owed.folder + " - MÓDULO " + module->label + " - Cópia pendente");
    c.run.dueBranchCopies.push_back({owed.folder, module->module.executable, owed.package,
                                     owed.version, module->module.sha256, module->module.size});
  }
}

void TellOverflow(const CheckContext& c, const std::vector<std::string>& labels) {
  if (labels.empty()) return;
  std::string text =
      "Esta instalação tem mais módulos do que o KORVA Update atualiza de uma vez.\r"
      "Os módulos abaixo não serão atualizados:\r";
  for (const std::string& label : labels) text += "MÓDULO " + label + "\r";
  text += "Entre em contato com o suporte da VESTRAMON.";
  c.shell.ShowMessage(Message{"KORVA - Atualizações", text, MsgIcon::Warning, kOk, kOk});
}

}  // namespace

bool BuscaCatalogo(const CheckContext& c, bool baselineReached) {
  const CheckControls& panel = c.controls;
  const std::string catalogue = EditionOf(c).catalogueFile;
  try {
    c.source.Connect();
    Show(c, panel.TBtnConectando, Image::Done);
    Show(c, panel.TBtnVerificando, Image::Transfer);
    c.source.EnterFolder(EditionOf(c).remoteDirectory);
    if (EditionOf(c).catalogueGate && !baselineReached) {
      c.shell.ShowMessage(Message{"KORVA",
                                  "Esta versão do KORVA Update deve ser utilizada\r"
                                  "somente por clientes que já estão utilizando o PAF-ECF 2012.",
                                  MsgIcon::Warning, kOk, kOk});
      CloseQuietly(c.source);
      c.shell.EndProgram();
      return false;
    }
    if (const auto refusal = FetchFiles(c, catalogue)) {
      Refuse(c, RefusalText(*refusal, catalogue));
      return false;
    }
    Show(c, panel.TBtnVerificando, Image::Done);
    Show(c, panel.TBtnDesconectando, Image::Disconnect);
    c.source.Disconnect();
  } catch (const std::exception& e) {
    CloseQuietly(c.source);
    EndWith(c, "KORVA",
            std::string("Servidor de atualizações não disponível no momento.\r"
                        "Verifique sua conexão com a internet ou tente mais tarde.\r\r"
                        "Mensagem recebida:\r") +
                e.what());
    return false;
  }
  Show(c, panel.TBtnDesconectando, Image::Done);
  panel.STxtKBPS.SetText("Verificação concluída.");
  c.shell.Repaint();
  return true;
}

void RemoveSecoesAntigas(const std::string& scriptFilePath, std::string_view recordedMainVersion,
                         std::uint16_t& pruningPasses) {
  bool erased = true;
  while (erased) {
    ++pruningPasses;
    erased = false;
    settings::TBigIniFile script(scriptFilePath);
    const std::vector<std::string> sections = script.ReadSections();
    // The first section of the file is never examined.
    for (std::size_t i = 1; i < sections.size(); ++i) {
      if (versions::SecaoAntiga(sections[i], recordedMainVersion)) {
        script.EraseSection(sections[i]);
        erased = true;
      }
    }
    script.Release();
    if (pruningPasses >= kMaxPruningPasses) break;
  }
}

namespace {

// The catalogue as delivered, refused or checked; false when the check ends
// here.
bool AcceptCatalogue(const CheckContext& c, const settings::ProfileFile& catalogue,
                     const std::string& name, bool checked) {
  std::string keptSerie;
  if (checked && !Fresh(c, catalogue, name, keptSerie)) return false;
  // Case counts: only the maker's own catalogue says exactly this.
  if (catalogue.ReadString(EditionOf(c).name, "ID", "") != "KORVA") {
    CloseQuietly(c.source);
    EndWith(c, "KORVA - Atualizações", EditionOf(c).invalidCatalogueText);
    return false;
  }
  if (checked) KeepSerie(c, catalogue, keptSerie);
  return true;
}

// The users database first. One without a version table yet stands at the
// first version the maker ever shipped.
void CheckUsersDatabase(const CheckContext& c, const settings::ProfileFile& catalogue,
                        PendingList& list) {
  RunData& run = c.run;
  run.latestUsersVersion = catalogue.ReadString(versions::kUsersSection, kLatestKey, "");
  std::string usersVersion = EditionOf(c).usersBaseline;
  if (dbupdate::AbreVersaoBancoUsuario(c.usersRow)) {
    c.usersRow.Refresh();
    usersVersion = c.usersRow.Value("VERSAOBANCO");
  }
  c.report.RegistraVersaoCliente(versions::kUsersReportKey, usersVersion);
  if (vendor::ExisteAtualizacao(run.latestUsersVersion, usersVersion)) {
    run.usersUpdatePending = true;
    list.Add("BANCO DE DADOS USUÁRIOS - Atualizar para versão " + run.latestUsersVersion);
  }
}

void CheckMainDatabase(const CheckContext& c, const settings::ProfileFile& catalogue,
                       PendingList& list) {
  RunData& run = c.run;
  const versions::EditionTable& edition = EditionOf(c);
  run.latestMainVersion = catalogue.ReadString(edition.mainSection, kLatestKey, "");
  const std::string mainVersion = c.mainRow.Value("VERSAOBANCO");
  c.report.RegistraVersaoCliente(edition.mainReportKey, mainVersion);
  if (vendor::ExisteAtualizacao(run.latestMainVersion, mainVersion)) {
    run.mainUpdatePending = true;
    list.Add(edition.mainPendingText + run.latestMainVersion);
  }
}

void CheckModules(const CheckContext& c, const settings::ProfileFile& catalogue,
                  PendingList& list) {
  const versions::EditionTable& edition = EditionOf(c);
  const char* const offered = edition.alwaysOffered;
  bool offeredListed = false;
  for (std::size_t n = 1; n <= c.modules.size(); ++n) {
    const settings::InstalledModule& row = c.modules[n - 1];
    const ModuleLookup found =
        LookupByLabel(c.site.edition, row.NOMESISTEMA, row.NOMEARQUIVO, c.mainRow);
    offeredListed = offeredListed || (offered && row.NOMESISTEMA == offered);
    CheckModule(c, catalogue, list, n, row.NOMESISTEMA, found.executable, found.installedVersion);
  }
  if (!offered || offeredListed) return;
  const ModuleLookup found = LookupByLabel(c.site.edition, offered, "", c.mainRow);
  CheckModule(c, catalogue, list, c.modules.size() + 1, offered, found.executable,
              found.installedVersion);
}

}  // namespace

bool ListaAtualizacoes(const CheckContext& c) {
  const std::string name(platform::FileNameOf(c.run.catalogueFilePath));
  delivery::ProfileDelivery delivered =
      c.source.OpenProfile(delivery::FileKind::Catalogue, c.run.catalogueFilePath);
  if (delivered.refusal) {
    Refuse(c, RefusalText(*delivered.refusal, name));
    return false;
  }
  const settings::HeldProfileFile open(c.currentProfileFile, std::move(delivered.file));
  const settings::ProfileFile& catalogue = open.File();
  // No catalogue at all is rejected as any unreadable one is.
  const bool checked = c.source.Keyed() && !delivered.missing;
  if (!AcceptCatalogue(c, catalogue, name, checked)) return false;
  c.controls.TVAtualizacoes.Clear();
  c.log.LogClear();
  c.run.dueBranchCopies.clear();
  PendingList list(c);
  CheckUsersDatabase(c, catalogue, list);
  CheckMainDatabase(c, catalogue, list);
  CheckModules(c, catalogue, list);
  OfferDueBranchCopies(c, list);
  const bool pending = list.Any();
  if (!pending) list.Add("Nenhuma atualização disponível no momento.");
  for (form::TextControl* button : c.controls.buttons) button->SetEnabled(pending);
  c.shell.Repaint();
  TellOverflow(c, list.Overflow());
  return true;
}

}  // namespace korva::catalogue
