#include "settings/settings_file.h"

#include "app/form/form_model.h"
#include "app/shell.h"
#include "platform/files.h"
#include "settings/profile_file.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::settings {

namespace {

constexpr int kPassiveIndex = 1;

struct TextField {
  const char* key;
  form::TextControl form::FormModel::*control;
};

// In the order they are written back.
constexpr TextField kTextFields[] = {
    {"FILIAL1", &form::FormModel::SrvRemoto1},
    {"FILIAL2", &form::FormModel::SrvRemoto2},
    {"FILIAL3", &form::FormModel::SrvRemoto3},
    {"PROXY_HOST", &form::FormModel::EdtProxy_Host},
    {"PROXY_PORTA", &form::FormModel::EdtProxy_Porta},
    {"PROXY_USUARIO", &form::FormModel::EdtProxy_Usuario},
    {"PROXY_SENHA", &form::FormModel::EdtProxy_Senha},
};

void ShowTransferMode(form::FormModel& form, bool passive) {
  form.StatusBar.SetPanelText(3, passive ? "FTP Passivo" : "FTP Ativo");
}

bool IsDecimalDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

UpdateServerAddress ParseUpdateServer(std::string_view value, const std::string& filePath) {
  auto invalid = [&] {
    return KorvaError(text::Format(
        "Invalid SERVIDOR_FTP '%s' in %s: expected host or host:port with a port from 1 to 65535",
        {std::string(value), filePath}));
  };
  const std::string trimmed = text::Trim(value);
  const auto colon = trimmed.find(':');
  UpdateServerAddress address{trimmed.substr(0, colon), 21};
  if (address.host.empty() || address.host.find_first_of(" \t") != std::string::npos)
    throw invalid();
  if (colon != std::string::npos) {
    const std::string port = trimmed.substr(colon + 1);
    if (!IsDecimalDigits(port) || port.size() > 5) throw invalid();
    const int number = std::stoi(port);
    if (number < 1 || number > 65535) throw invalid();
    address.port = static_cast<std::uint16_t>(number);
  }
  return address;
}

LoadedSettings LoadSettings(const std::string& folder, form::FormModel& form) {
  const ProfileFile file(platform::JoinPath(folder, kSettingsFileName));
  for (const TextField& field : kTextFields)
    (form.*field.control).SetText(file.ReadString(kSettingsSection, field.key, ""));

  const std::int32_t stored = file.ReadInteger(kSettingsSection, "TIPO_FTP", 0);
  // The selector has two items: anything above selects the last, anything
  // below zero selects none.
  form.RdGrpMetodoFTP.SetItemIndex(stored >= kPassiveIndex ? kPassiveIndex : stored < 0 ? -1 : 0);

  LoadedSettings loaded;
  loaded.passive = form.RdGrpMetodoFTP.ItemIndex() == kPassiveIndex;
  if (!form.EdtProxy_Host.Text().empty() && !form.EdtProxy_Porta.Text().empty()) {
    loaded.proxy =
        ProxySettings{form.EdtProxy_Host.Text(), text::StrToInt(form.EdtProxy_Porta.Text()),
                      form.EdtProxy_Usuario.Text(), form.EdtProxy_Senha.Text()};
  }
  const std::string server = file.ReadString(kSettingsSection, "SERVIDOR_FTP", "");
  if (!text::Trim(server).empty()) loaded.updateServer = ParseUpdateServer(server, file.FileName());

  ShowTransferMode(form, loaded.passive);
  return loaded;
}

bool BtBtnGravaConfigClick(const std::string& folder, form::FormModel& form, Shell& shell) {
  ProfileFile file(platform::JoinPath(folder, kSettingsFileName));
  for (const TextField& field : kTextFields)
    file.WriteString(kSettingsSection, field.key, text::Trim((form.*field.control).Text()));
  const int index = form.RdGrpMetodoFTP.ItemIndex();
  file.WriteInteger(kSettingsSection, "TIPO_FTP", index);

  const bool passive = index == kPassiveIndex;
  ShowTransferMode(form, passive);
  shell.ShowMessage(Message{"KORVA", "Dados gravados com sucesso", MsgIcon::Information, kOk});
  return passive;
}

}  // namespace korva::settings
