#include "records/client_version_report.h"

#include "platform/files.h"
#include "platform/relative_names.h"
#include "settings/profile_file.h"
#include "text/error.h"

namespace korva::records {

std::string ClientVersionSection(std::string_view componentName) {
  std::string section(componentName.substr(0, componentName.find('.')));
  // Letters outside a-z (accented ones included) stay as they are.
  for (char& c : section) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return section;
}

ClientVersionReport::ClientVersionReport(const settings::SiteState& site, const RecordFiles& files,
                                         transfer::FtpSession& ftp, const platform::Clock& clock,
                                         platform::LocaleFormats locale)
    : site_(site), files_(files), ftp_(ftp), clock_(clock), locale_(std::move(locale)) {}

bool ClientVersionReport::Usable() const {
  return platform::IsBareFileName(site_.clientId + ".ini");
}

void ClientVersionReport::RegistraVersaoCliente(std::string_view componentName,
                                                std::string_view version) {
  if (!Usable()) return;
  const std::string section = ClientVersionSection(componentName);
  // One reading of the clock: the date and the time belong to the same write.
  const platform::LocalDateTime now = clock_.Now();
  settings::ProfileFile file(files_.clientVersionFilePath);
  file.WriteString(section, "versao", version);
  file.WriteString(section, "data", platform::FormatShortDate(now, locale_));
  file.WriteString(section, "hora", platform::FormatLongTime(now, locale_));
}

void ClientVersionReport::UploadVersaoCliente() {
  if (!Usable()) return;
  const bool wasOpen = ftp_.IsConnected();
  if (!wasOpen) ftp_.OpenSession();
  try {
    ftp_.ChangeRemoteDir(kClientVersionDirectory);
    if (!platform::FileExists(files_.clientVersionFilePath)) throw KorvaError("File not found");
    ftp_.SendFile(files_.clientVersionFilePath, site_.clientId + ".ini");
  } catch (...) {
    // A session opened here is closed here; the failure is what the caller
    // must see.
    if (!wasOpen) {
      try {
        ftp_.CloseSession();
      } catch (...) {
      }
    }
    throw;
  }
  if (!wasOpen) ftp_.CloseSession();
}

}  // namespace korva::records
