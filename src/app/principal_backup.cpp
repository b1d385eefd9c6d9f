// The backup page, shown before the database updates: the figures of who
// else is connected.
#include "app/principal.h"
#include "dbupdate/connected_users.h"

namespace korva {

void Principal::BitBtn2Click() {
  AtualizaConsultaConexoes();
}

void Principal::AtualizaConsultaConexoes() {
  dbupdate::AtualizaConsultaConexoes(
      {form_.StTxtNumUsers, form_.StTxtUsuariosConectados, form_.MmComputadoresConectados}, shell_,
      sqlConnectionKorva_, sqlConnectionUsuario_);
}

}  // namespace korva
