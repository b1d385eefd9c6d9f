#pragma once
// The modules each edition knows: under which label the installed-modules
// list names a module, which column of the main database's version table
// records its version, its executable and its package.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dbupdate/version_row.h"

namespace korva::catalogue {

struct RegisteredModule {
  const char* label;
  const char* versionColumn;
  const char* executable;
  const char* package;  // upper case, as the installation compares it
};

// The edition's table: EMPRESA's for "EMPRESA", CARTORIO's for anything else.
std::span<const RegisteredModule> ModuleRegistry(std::string_view edition);

// A row of the installed-modules list as the catalogue check examines it.
struct ModuleLookup {
  std::string executable;
  std::string installedVersion;
};

// The registry row whose label is exactly `label` (case counts) gives the
// executable and the installed version from the main version row; a label
// the registry does not know keeps `executable` and has no installed version.
ModuleLookup LookupByLabel(std::string_view edition, std::string_view label,
                           std::string_view executable, const dbupdate::VersionRow& mainRow);

// The version column in which installing `package` is recorded; none for a
// package the edition does not know (another edition's included).
std::optional<std::string> LookupByPackage(std::string_view edition, std::string_view package);

}  // namespace korva::catalogue
