#include "settings/installed_modules.h"

#include "text/strings.h"

namespace korva::settings {

std::string ModuleExecutableName(std::string_view nomeExecutavel) {
  std::string name = text::Trim(nomeExecutavel);
  const auto folderEnd = name.find_last_of("\\:");
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && (folderEnd == std::string::npos || dot > folderEnd))
    name.erase(dot);
  return name + ".EXE";
}

InstalledModules ReadInstalledModules(db::Connection& users) {
  const db::QueryResult result = users.Query("SELECT NOMEMODULO, NOMEEXECUTAVEL FROM MODULO");
  InstalledModules modules;
  for (const db::Row& row : result.rows)
    modules.push_back({text::Trim(row.values.at(0)), ModuleExecutableName(row.values.at(1))});
  return modules;
}

std::string ReadClientId(db::Connection& users) {
  const db::QueryResult result = users.Query("SELECT CNPJ_CPF FROM EMPRESA_LIC");
  return result.rows.empty() ? std::string() : text::Trim(result.rows.front().values.at(0));
}

}  // namespace korva::settings
