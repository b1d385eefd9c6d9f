#include "settings/installed_modules.h"

#include "text/cp1252.h"
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

std::string PackageNameOf(std::string_view executable) {
  const auto nameStart = executable.find_last_of("\\/:");
  const auto dot = executable.rfind('.');
  const bool hasExtension =
      dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart);
  std::string package = std::string(hasExtension ? executable.substr(0, dot) : executable) + ".zip";
  for (char& ch : package) ch = text::LowerChar1252(ch);
  return package;
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
