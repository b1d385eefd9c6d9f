#include "settings/connection_file.h"

#include "platform/files.h"
#include "settings/profile_file.h"
#include "text/cp1252.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::settings {

namespace {

constexpr const char* kUserLine = "User_Name=KORVA";
constexpr const char* kPasswordLine = "Password=ravelund";

std::string ConnectionFilePath(const std::string& folder) {
  return platform::JoinPath(folder, kConnectionFileName);
}

void AddCredentials(db::ParameterList& params) {
  params.emplace_back(kUserLine);
  params.emplace_back(kPasswordLine);
}

}  // namespace

std::vector<std::string> ConnectionSectionLines(std::string_view fileBytes,
                                                std::string_view section) {
  std::vector<std::string> lines;
  enum class Where {
    BeforeFirstSection,
    InWanted,
    InOther,
    AfterWanted
  } where = Where::BeforeFirstSection;
  std::size_t pos = 0;
  while (pos < fileBytes.size()) {
    std::size_t end = fileBytes.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = fileBytes.size();
    const std::string line = text::Trim(fileBytes.substr(pos, end - pos));
    pos = end;
    if (pos < fileBytes.size())
      pos += fileBytes[pos] == '\r' && pos + 1 < fileBytes.size() && fileBytes[pos + 1] == '\n' ? 2
                                                                                                : 1;

    if (line.empty() || line[0] == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      if (where == Where::InWanted || where == Where::AfterWanted) {
        where = Where::AfterWanted;
      } else {
        const std::string name = text::Trim(std::string_view(line).substr(1, line.size() - 2));
        where = text::SameText1252(name, section) ? Where::InWanted : Where::InOther;
      }
      continue;
    }
    if (where != Where::InWanted) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      lines.push_back(line);
    } else {
      lines.push_back(text::Trim(std::string_view(line).substr(0, eq)) + "=" +
                      text::Trim(std::string_view(line).substr(eq + 1)));
    }
  }
  return lines;
}

std::vector<std::string> LoadConnectionSection(const std::string& path, std::string_view section) {
  const auto bytes = platform::FileExists(path) ? platform::ReadFileBytes(path) : std::nullopt;
  if (!bytes)
    throw KorvaError(text::Format("Driver/Connection Registry File '%s' not found", {path}));
  return ConnectionSectionLines(*bytes, section);
}

EditionChoice ChooseEdition(const std::string& folder) {
  const ProfileFile file(ConnectionFilePath(folder));
  const auto databaseOf = [&](versions::Edition edition) {
    return file.ReadString(versions::TableOf(edition).connectionSection, "Database", "");
  };
  std::string database = databaseOf(versions::Edition::Empresa);
  if (!database.empty())
    return EditionChoice{.edition = versions::Edition::Empresa, .database = database};
  return EditionChoice{.edition = versions::Edition::Cartorio,
                       .database = databaseOf(versions::Edition::Cartorio)};
}

std::string ServerPanelText(std::string_view database) {
  const auto colon = database.find(':');
  return "Servidor: " +
         (colon == std::string::npos ? std::string() : text::Upper1252(database.substr(0, colon)));
}

db::ParameterList MainConnectionParameters(const std::string& folder, const EditionChoice& choice) {
  db::ParameterList params = LoadConnectionSection(
      ConnectionFilePath(folder), versions::TableOf(choice.edition).connectionSection);
  AddCredentials(params);
  return params;
}

db::ParameterList UsersConnectionParameters(const std::string& folder, const EditionChoice& choice,
                                            const db::ParameterList& mainParams) {
  const versions::EditionTable& edition = versions::TableOf(choice.edition);
  const std::string extension =
      ProfileFile(ConnectionFilePath(folder))
          .ReadString(edition.connectionSection, "Extens\xE3o Banco", "GDB");

  const std::string mainDatabase = text::Trim(db::ParameterValue(mainParams, "Database"));
  // The users database lies beside the main one: the main path less its file name.
  const std::size_t cut = edition.mainFileLength;
  const std::string folderPart =
      mainDatabase.size() > cut ? mainDatabase.substr(0, mainDatabase.size() - cut) : "";
  const std::string usersDatabase = folderPart + "USUARIO." + extension;

  db::ParameterList params = LoadConnectionSection(
      ConnectionFilePath(folder), versions::TableOf(versions::Edition::Empresa).connectionSection);
  bool replaced = false;
  for (std::string& line : params) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && text::SameText1252(line.substr(0, eq), "Database")) {
      line = "Database=" + usersDatabase;
      replaced = true;
      break;
    }
  }
  if (!replaced) params.push_back("Database=" + usersDatabase);
  AddCredentials(params);
  return params;
}

}  // namespace korva::settings
