#pragma once
// The updater's own settings, "KORVA.INI" beside the executable, section
// "UPDATE": branch server paths, proxy details and the FTP transfer mode.
// Loading gives what the configuration page and the transfer session show;
// the page's "&Gravar" button writes the page back.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "versions/edition.h"

namespace korva::settings {

inline constexpr const char* kSettingsFileName = "KORVA.INI";
inline constexpr const char* kSettingsSection = "UPDATE";

struct ProxySettings {
  std::string host;
  std::int32_t port = 0;
  std::string user;
  std::string password;
  bool operator==(const ProxySettings&) const = default;
};

// The update server's address when "SERVIDOR_FTP" overrides the built-in one.
struct UpdateServerAddress {
  std::string host;
  std::uint16_t port = 21;
  bool operator==(const UpdateServerAddress&) const = default;
};

// The text keys, in the order they are written back: FILIAL1..3 (the branch
// folders SrvRemoto1..3) and the proxy's host, port, user and password.
inline constexpr std::array<const char*, 7> kTextKeys = {
    "FILIAL1", "FILIAL2", "FILIAL3", "PROXY_HOST", "PROXY_PORTA", "PROXY_USUARIO", "PROXY_SENHA"};
using SettingsTexts = std::array<std::string, kTextKeys.size()>;
enum TextKey { kFilial1, kFilial2, kFilial3, kProxyHost, kProxyPorta, kProxyUsuario, kProxySenha };

// The transfer mode selector's items: "Ativo" and "Passivo".
inline constexpr int kPassiveIndex = 1;

struct LoadedSettings {
  SettingsTexts texts;
  // "TIPO_FTP" as the selector shows it: the last item for anything above,
  // none (-1) for anything below zero.
  int transferModeIndex = 0;
  bool passive = false;
  // Given only when both host and port are filled in.
  std::optional<ProxySettings> proxy;
  std::optional<UpdateServerAddress> updateServer;
};

// Reads "KORVA.INI" of the folder (a missing file reads as empty). Fails
// (ConvertError) when the proxy port is not a whole number while host and
// port are both filled in, and (KorvaError) when "SERVIDOR_FTP" is not "host"
// or "host:port".
LoadedSettings LoadSettings(const std::string& folder);

// "CHAVE_PUBLICA": the maker's public key, as the maker's installation writes
// it (Base64); empty when the site has none. Never written by the updater.
std::string ReadPublicKeyText(const std::string& folder);

// The highest "SERIE" of the edition's catalogue that this installation has
// accepted, as kept under the edition's key ("SERIE_EMPRESA", "SERIE_CARTORIO");
// empty when none is kept. The operator never edits it.
std::string ReadKeptSerie(const std::string& folder, versions::Edition edition);
// A refused write fails with the profile file's "Unable to write to <path>".
void KeepSerie(const std::string& folder, versions::Edition edition, std::string_view serie);

// "host" or "host:port" (port 1 to 65535, default 21); fails otherwise.
UpdateServerAddress ParseUpdateServer(std::string_view value, const std::string& filePath);

// Writes the texts back (trimmed) and "TIPO_FTP" as the selected index; the
// result is whether transfers are passive now. A refused write fails with the
// profile file's "Unable to write to <path>".
bool SaveSettings(const std::string& folder, const SettingsTexts& texts, int transferModeIndex);

// Status bar panel 3.
std::string TransferModeText(bool passive);

}  // namespace korva::settings
