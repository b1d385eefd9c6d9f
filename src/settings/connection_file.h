#pragma once
// Where the two databases are: resolved from the KORVA system's
// "dbxconnections.ini" beside the updater every time a connection opens. The
// same resolution decides the edition, the application folder and the server
// shown in status bar panel 0.
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace korva {
struct SessionState;
namespace form {
class FormModel;
}
}  // namespace korva

namespace korva::settings {

inline constexpr const char* kConnectionFileName = "dbxconnections.ini";
inline constexpr const char* kSectionEmpresa = "EMPRESA";
inline constexpr const char* kSectionCartorio = "CARTÓRIO";

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

// What both resolutions need: the folder holding "dbxconnections.ini" (the
// updater's own folder), and the session and window they report to.
struct ConnectionContext {
  std::string folder;
  SessionState& session;
  form::FormModel& form;
};

// Before-connect of SQLConnectionKORVA: sets edition, status bar panel 0 and
// applicationFolder, and returns the main connection's parameters.
db::ParameterList SQLConnectionKORVABeforeConnect(const ConnectionContext& context);

// Before-connect of SQLConnectionUSUARIO: sets edition and returns the users
// connection's parameters, its database derived from the main connection's
// "Database" parameter (so the main connection is opened first).
db::ParameterList SQLConnectionUSUARIOBeforeConnect(const ConnectionContext& context,
                                                    const db::ParameterList& mainParams);

// Binds both hooks to their connections.
void AttachConnectionResolution(const ConnectionContext& context, db::Connection& main,
                                db::Connection& users);

}  // namespace korva::settings
