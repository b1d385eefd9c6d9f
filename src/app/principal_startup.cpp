// The window's life: start-up, first showing, activation, closing and
// destruction, and the configuration page's own handlers.
#include "app/principal.h"

namespace korva {

void Principal::FormCreate() {}
void Principal::FormShow() { form_.ShowPage(form_.TbShtInicio); }
void Principal::FormActivate() { shell_.Repaint(); }
void Principal::FormClose() {}
void Principal::FormDestroy() {}
void Principal::BtBtnGravaConfigClick() {}
void Principal::RdGrpModotAtualizacaoClick() {}

}  // namespace korva
