#pragma once
// Who else works with the databases, for the backup page: the attachments
// the server counts on the main database, and the computers that the KORVA
// programs registered as logged in (USUARIOLOGADO of the users database).
#include <optional>

#include "db/connection.h"
#include "form/controls.h"
#include "form/shell.h"

namespace korva::dbupdate {

inline constexpr const char* kConnectedComputersQuery =
    "SELECT COUNT(*), COMPUTADOR FROM USUARIOLOGADO GROUP BY COMPUTADOR ORDER BY COMPUTADOR";

// StTxtNumUsers after a failed count. Not a figure: a failed count must never
// read as "nobody is connected", and the warning before a database update
// stays on for it.
inline constexpr const char* kUnknownNumUsers = "?";

// The figures of the backup page.
struct ConnectionControls {
  form::TextControl& StTxtNumUsers;            // "Conexões ativas:"
  form::TextControl& StTxtUsuariosConectados;  // "Computadores conectados:"
  form::Memo& MmComputadoresConectados;
};

// Attachments to the main database other than the updater's own connection
// and the one the count makes for itself: -1 when the main connection is not
// open. Counted afresh at each call on the main connection's "Database",
// "User_Name" and "Password" as they stand. Sets the process exit status to 1
// when the server listed more than one attachment, else 0. Never fails: a
// refused count writes its text and CR LF to standard error, sets the exit
// status to 2, shows nothing and gives nullopt.
std::optional<int> RetornaNumeroUsuarios(const db::Connection& main);

// Refreshes the three figures under the busy pointer: the count first, then
// the computers, one line per distinct COMPUTADOR in ascending order (a null
// as an empty line). A failing computers query reaches the caller with the
// count already shown and the pointer restored.
void AtualizaConsultaConexoes(const ConnectionControls& controls, Shell& shell,
                              const db::Connection& main, db::Connection& users);

}  // namespace korva::dbupdate
