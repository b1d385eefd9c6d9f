// The configuration page: saving the settings and the protected update mode.
#include "app/principal.h"
#include "dbupdate/protected_mode.h"
#include "settings/settings_file.h"

namespace korva {

void Principal::BtBtnGravaConfigClick() {
  settings::SettingsTexts texts;
  const auto fields = SettingsFields();
  for (std::size_t i = 0; i < fields.size(); ++i) texts[i] = fields[i]->Text();
  // A refused write ends the handler here: panel 3, the transfer mode and the
  // message stay as they were.
  const bool passive =
      settings::SaveSettings(executableFolder_, texts, form_.RdGrpMetodoFTP.ItemIndex());
  form_.StatusBar.SetPanelText(3, settings::TransferModeText(passive));
  ftp_.SetPassive(passive);
  shell_.ShowMessage(Message{"KORVA", "Dados gravados com sucesso", MsgIcon::Information, kOk});
}

void Principal::RdGrpModotAtualizacaoClick() {
  switch (form_.RdGrpModotAtualizacao.ItemIndex()) {
    case dbupdate::kProtectedModeOn:
      dbupdate::DefineModoAtualizacao(ProtectedMode(), "S");
      break;
    case dbupdate::kProtectedModeOff:
      dbupdate::DefineModoAtualizacao(ProtectedMode(), "N");
      break;
    default:
      break;
  }
}

}  // namespace korva
