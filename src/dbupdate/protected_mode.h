#pragma once
// Protected update mode: the flag EM_ATUALIZACAO of the users database's
// version row, shown and switched by the configuration page's selector
// RdGrpModotAtualizacao ("Ativado" at index 0, "Desativado" at index 1).
#include <string_view>

#include "db/connection.h"
#include "dbupdate/database_state.h"
#include "dbupdate/version_row.h"
#include "form/controls.h"
#include "form/shell.h"

namespace korva::dbupdate {

inline constexpr int kProtectedModeOn = 0;   // "Ativado"
inline constexpr int kProtectedModeOff = 1;  // "Desativado"

struct ProtectedModeContext {
  db::Connection& users;  // SQLConnectionUSUARIO
  VersionRow& usersRow;   // kVersionQueryUsers on it
  TransactionState& transactions;
  form::RadioGroup& selector;  // RdGrpModotAtualizacao
  Shell& shell;
};

// "R": shows the stored mode in the selector without running its handler,
// with a message when it is on. "S" / "N": records the mode when it differs
// from the row's, with its message; a failure to record it shows
// "Erro ao ativar/desativar Modo de Atualização Protegido." and rolls back.
// Opening the connection or the row may fail; that failure reaches the caller.
void DefineModoAtualizacao(const ProtectedModeContext& context, std::string_view mode);

// True when the users version row is open or could be opened now; never
// fails and never shows anything.
bool AbreVersaoBancoUsuario(VersionRow& usersRow);

}  // namespace korva::dbupdate
