#include "settings/settings_file.h"

#include "platform/files.h"
#include "settings/profile_file.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::settings {

namespace {

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

std::string ReadPublicKeyText(const std::string& folder) {
  return text::Trim(ProfileFile(platform::JoinPath(folder, kSettingsFileName))
                        .ReadString(kSettingsSection, "CHAVE_PUBLICA", ""));
}

std::string ReadKeptSerie(const std::string& folder, versions::Edition edition) {
  return text::Trim(ProfileFile(platform::JoinPath(folder, kSettingsFileName))
                        .ReadString(kSettingsSection, versions::TableOf(edition).keptSerieKey, ""));
}

void KeepSerie(const std::string& folder, versions::Edition edition, std::string_view serie) {
  ProfileFile(platform::JoinPath(folder, kSettingsFileName))
      .WriteString(kSettingsSection, versions::TableOf(edition).keptSerieKey, serie);
}

std::string TransferModeText(bool passive) {
  return passive ? "FTP Passivo" : "FTP Ativo";
}

LoadedSettings LoadSettings(const std::string& folder) {
  const ProfileFile file(platform::JoinPath(folder, kSettingsFileName));
  LoadedSettings loaded;
  for (std::size_t i = 0; i < kTextKeys.size(); ++i)
    loaded.texts[i] = file.ReadString(kSettingsSection, kTextKeys[i], "");

  const std::int32_t stored = file.ReadInteger(kSettingsSection, "TIPO_FTP", 0);
  // The selector has two items: anything above selects the last, anything
  // below zero selects none.
  loaded.transferModeIndex = stored >= kPassiveIndex ? kPassiveIndex : stored < 0 ? -1 : 0;
  loaded.passive = loaded.transferModeIndex == kPassiveIndex;

  const SettingsTexts& t = loaded.texts;
  if (!t[kProxyHost].empty() && !t[kProxyPorta].empty()) {
    loaded.proxy = ProxySettings{t[kProxyHost], text::StrToInt(t[kProxyPorta]), t[kProxyUsuario],
                                 t[kProxySenha]};
  }
  const std::string server = file.ReadString(kSettingsSection, "SERVIDOR_FTP", "");
  if (!text::Trim(server).empty()) loaded.updateServer = ParseUpdateServer(server, file.FileName());
  return loaded;
}

bool SaveSettings(const std::string& folder, const SettingsTexts& texts, int transferModeIndex) {
  ProfileFile file(platform::JoinPath(folder, kSettingsFileName));
  for (std::size_t i = 0; i < kTextKeys.size(); ++i)
    file.WriteString(kSettingsSection, kTextKeys[i], text::Trim(texts[i]));
  file.WriteInteger(kSettingsSection, "TIPO_FTP", transferModeIndex);
  return transferModeIndex == kPassiveIndex;
}

}  // namespace korva::settings
