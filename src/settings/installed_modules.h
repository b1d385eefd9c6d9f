#pragma once
// What start-up reads from the users database once: the client's tax number
// and the modules installed at the site.
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace korva::settings {

struct InstalledModule {
  std::string NOMESISTEMA;  // the module's display name
  std::string NOMEARQUIVO;  // its executable file name
  bool operator==(const InstalledModule&) const = default;
};

using InstalledModules = std::vector<InstalledModule>;

// The rows of MODULO in the order the server returns them.
InstalledModules ReadInstalledModules(db::Connection& users);

// name trimmed, its extension (from the last "." after the last "\" or ":")
// replaced by ".EXE"; a name without one gets ".EXE" appended.
std::string ModuleExecutableName(std::string_view nomeExecutavel);

// The module package of an executable: its name with the extension replaced
// by ".zip", all in lower case ("efin.zip" for "EFIN.EXE").
std::string PackageNameOf(std::string_view executable);

// CNPJ_CPF of the first row of EMPRESA_LIC, trimmed; empty for an empty table.
std::string ReadClientId(db::Connection& users);

}  // namespace korva::settings
