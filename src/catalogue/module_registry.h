#pragma once
// Looking a module up in its edition's registry (versions/edition.h): by the
// label the installed-modules list names it under, or by its package.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dbupdate/version_row.h"
#include "versions/edition.h"

namespace korva::catalogue {

using versions::RegisteredModule;

// A row of the installed-modules list as the catalogue check examines it.
struct ModuleLookup {
  std::string executable;
  std::string installedVersion;
};

// The registry row whose label is exactly `label` (case counts) gives the
// executable and the installed version from the main version row; a label
// the registry does not know keeps `executable` and has no installed version.
ModuleLookup LookupByLabel(versions::Edition edition, std::string_view label,
                           std::string_view executable, const dbupdate::VersionRow& mainRow);

// The version column in which installing `package` is recorded; none for a
// package the edition does not know (another edition's included).
std::optional<std::string> LookupByPackage(versions::Edition edition, std::string_view package);

}  // namespace korva::catalogue
