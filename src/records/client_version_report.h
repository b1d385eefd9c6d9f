#pragma once
// The client version report: a profile file named after the client, one
// section per component with the version noted and when. The catalogue check
// starts it from the server's copy; every step that learns a version writes
// into it; the module installation sends it back.
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "records/record_files.h"
#include "settings/site_state.h"
#include "transfer/ftp_session.h"

namespace korva::records {

inline constexpr const char* kClientVersionDirectory = "/httpdocs/versao_cliente";

// The component's name up to its first "." (all of it without one), with the
// letters a-z upper-cased: "EFIN" for "EFIN.EXE" and for "efin.zip" alike.
std::string ClientVersionSection(std::string_view componentName);

class ClientVersionReport {
 public:
  // Reads clientId and clientVersionFilePath at every call.
  ClientVersionReport(const settings::SiteState& site, const RecordFiles& files,
                      transfer::FtpSession& ftp, const platform::Clock& clock,
                      platform::LocaleFormats locale);

  // Whether the client identifier can name the file: a bare file name only.
  // A report whose identifier cannot is neither written nor sent.
  bool Usable() const;

  // Writes "versao", "data" and "hora" of the component's section; the file
  // is created when missing. A refused write fails with the profile file's
  // message.
  void RegistraVersaoCliente(std::string_view componentName, std::string_view version);

  // Sends the local file to the server as clientId + ".ini". Opens the
  // session only when it is closed, and then closes it again, also when the
  // upload fails. A missing local file fails with "File not found".
  void UploadVersaoCliente();

 private:
  const settings::SiteState& site_;
  const RecordFiles& files_;
  transfer::FtpSession& ftp_;
  const platform::Clock& clock_;
  platform::LocaleFormats locale_;
};

}  // namespace korva::records
