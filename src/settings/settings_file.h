#pragma once
// The updater's own settings, "KORVA.INI" beside the executable, section
// "UPDATE": branch server paths, proxy details and the FTP transfer mode.
// Loading fills the configuration page; the "&Gravar" button writes it back.
// The transfer session is not touched here: load and save return what it
// must be given.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korva {
class Shell;
namespace form {
class FormModel;
}
}  // namespace korva

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

struct LoadedSettings {
  bool passive = false;
  // Given only when both host and port are filled in.
  std::optional<ProxySettings> proxy;
  std::optional<UpdateServerAddress> updateServer;
};

// Fills SrvRemoto1..3, the four proxy fields and RdGrpMetodoFTP, and status
// bar panel 3. Fails (ConvertError) when the proxy port is not a whole number
// while host and port are both filled in, and (KorvaError) when
// "SERVIDOR_FTP" is not "host" or "host:port".
LoadedSettings LoadSettings(const std::string& folder, form::FormModel& form);

// "host" or "host:port" (port 1 to 65535, default 21); fails otherwise.
UpdateServerAddress ParseUpdateServer(std::string_view value, const std::string& filePath);

// Writes the fields back (trimmed), then panel 3 and the success message.
// Returns the new passive flag. A refused write fails with the profile file's
// "Unable to write to <path>" before panel 3 or the message change.
bool BtBtnGravaConfigClick(const std::string& folder, form::FormModel& form, Shell& shell);

}  // namespace korva::settings
