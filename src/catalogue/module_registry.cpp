#include "catalogue/module_registry.h"

#include "text/cp1252.h"
#include "text/strings.h"

namespace korva::catalogue {
namespace {

// The one fixed-width version column: its values come padded with blanks.
constexpr std::string_view kPaddedColumn = "VERSAO_PRD";

}  // namespace

ModuleLookup LookupByLabel(versions::Edition edition, std::string_view label,
                           std::string_view executable, const dbupdate::VersionRow& mainRow) {
  for (const RegisteredModule& module : versions::TableOf(edition).modules) {
    if (label != module.label) continue;
    std::string installed = mainRow.Value(module.versionColumn);
    if (module.versionColumn == kPaddedColumn) installed = text::Trim(installed);
    return ModuleLookup{module.executable, std::move(installed)};
  }
  return ModuleLookup{std::string(executable), std::string()};
}

std::optional<std::string> LookupByPackage(versions::Edition edition, std::string_view package) {
  const std::string wanted = text::Upper1252(package);
  for (const RegisteredModule& module : versions::TableOf(edition).modules) {
    if (wanted == module.package) return std::string(module.versionColumn);
  }
  return std::nullopt;
}

}  // namespace korva::catalogue
