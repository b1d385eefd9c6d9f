#pragma once
// Where the two databases are: resolved from the KORVA system's
// "dbxconnections.ini" beside the updater every time a connection opens. The
// same resolution decides the edition, the application folder and the server
// shown in status bar panel 0.
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "versions/edition.h"

namespace korva::settings {

inline constexpr const char* kConnectionFileName = "dbxconnections.ini";

// The parameter lines of one section, as the connection layer reads them:
// lines end at CR LF, LF or CR; each is trimmed of blanks and control
// characters; empty lines and ";" comments are skipped; "[name]" opens a
// section (names compare without regard to case, accents included); lines
// before the first section are ignored; "name = value" becomes "name=value"
// with both sides trimmed (quotes kept); a line without "=" stays as it is.
// Of several sections of the same name the first one counts, as everywhere
// else in the program's profile files.
std::vector<std::string> ConnectionSectionLines(std::string_view fileBytes,
                                                std::string_view section);

// The section of the file at path; fails with "Driver/Connection Registry
// File '<path>' not found" when the file cannot be read.
std::vector<std::string> LoadConnectionSection(const std::string& path, std::string_view section);

// Which section of the file describes the main database: EMPRESA when its
// section names a database, CARTORIO otherwise.
struct EditionChoice {
  versions::Edition edition;
  std::string database;  // "Database" of its section, as the profile rules read it
};
EditionChoice ChooseEdition(const std::string& folder);

// Status bar panel 0: "Servidor: " and the part of the database text before
// its first ":", upper-cased ("Servidor: " alone when it has none).
std::string ServerPanelText(std::string_view database);

// The main connection's parameters: the chosen section's lines followed by the
// credentials. Fails with "Driver/Connection Registry File '<path>' not found"
// when the file cannot be read.
db::ParameterList MainConnectionParameters(const std::string& folder, const EditionChoice& choice);

// The users connection's parameters: the EMPRESA section whatever the edition,
// its database beside the main one (the main connection's "Database" less the
// main file's name, then "USUARIO." and the "Extensão Banco" of the chosen
// section), then the credentials.
db::ParameterList UsersConnectionParameters(const std::string& folder, const EditionChoice& choice,
                                            const db::ParameterList& mainParams);

}  // namespace korva::settings
