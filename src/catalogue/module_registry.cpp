#include "catalogue/module_registry.h"

#include "text/cp1252.h"
#include "text/strings.h"

namespace korva::catalogue {
namespace {

constexpr RegisteredModule kEmpresa[] = {
    {"ADM", "VERSAO_ADM", "EADM.EXE", "EADM.ZIP"}, {"FIN", "VERSAO_FIN", "EFIN.EXE", "EFIN.ZIP"},
    {"EST", "VERSAO_EST", "EEST.EXE", "EEST.ZIP"}, {"FCX", "VERSAO_FCX", "EFCX.EXE", "EFCX.ZIP"},
    {"VAU", "VERSAO_VAU", "EVAU.EXE", "EVAU.ZIP"}, {"SER", "VERSAO_SER", "ESER.EXE", "ESER.ZIP"},
    {"VEI", "VERSAO_VEI", "EVEI.EXE", "EVEI.ZIP"}, {"NFE", "VERSAO_NFE", "ENFE.EXE", "ENFE.ZIP"},
    {"SIN", "VERSAO_SIN", "ESIN.EXE", "ESIN.ZIP"}, {"SPD", "VERSAO_SPD", "ESPD.EXE", "ESPD.ZIP"},
    {"VEN", "VERSAO_VEN", "EVEN.EXE", "EVEN.ZIP"}, {"PRD", "VERSAO_PRD", "EPRD.EXE", "EPRD.ZIP"},
};

// The CARTORIO version table has no column of its own for FIN: FIN and CXA
// share VERSAO_CXA.
constexpr RegisteredModule kCartorio[] = {
    {"ADM", "VERSAO_ADM", "CADM.EXE", "CADM.ZIP"}, {"FIN", "VERSAO_CXA", "CFIN.EXE", "CFIN.ZIP"},
    {"FIR", "VERSAO_FIR", "CFIR.EXE", "CFIR.ZIP"}, {"NAS", "VERSAO_NAS", "CNAS.EXE", "CNAS.ZIP"},
    {"CAS", "VERSAO_CAS", "CCAS.EXE", "CCAS.ZIP"}, {"OBT", "VERSAO_OBT", "COBT.EXE", "COBT.ZIP"},
    {"TAB", "VERSAO_TAB", "CTAB.EXE", "CTAB.ZIP"}, {"LVE", "VERSAO_LVE", "CLVE.EXE", "CLVE.ZIP"},
    {"CXA", "VERSAO_CXA", "CCXA.EXE", "CCXA.ZIP"}, {"GSN", "VERSAO_GSN", "CGSN.EXE", "CGSN.ZIP"},
    {"MSN", "VERSAO_MSN", "CMSN.EXE", "CMSN.ZIP"},
};

// The one fixed-width version column: its values come padded with blanks.
constexpr std::string_view kPaddedColumn = "VERSAO_PRD";

}  // namespace

std::span<const RegisteredModule> ModuleRegistry(std::string_view edition) {
  if (edition == "EMPRESA") return kEmpresa;
  return kCartorio;
}

ModuleLookup LookupByLabel(std::string_view edition, std::string_view label,
                           std::string_view executable, const dbupdate::VersionRow& mainRow) {
  for (const RegisteredModule& module : ModuleRegistry(edition)) {
    if (label != module.label) continue;
    std::string installed = mainRow.Value(module.versionColumn);
    if (module.versionColumn == kPaddedColumn) installed = text::Trim(installed);
    return ModuleLookup{module.executable, std::move(installed)};
  }
  return ModuleLookup{std::string(executable), std::string()};
}

std::optional<std::string> LookupByPackage(std::string_view edition, std::string_view package) {
  const std::string wanted = text::Upper1252(package);
  for (const RegisteredModule& module : ModuleRegistry(edition)) {
    if (wanted == module.package) return std::string(module.versionColumn);
  }
  return std::nullopt;
}

}  // namespace korva::catalogue
