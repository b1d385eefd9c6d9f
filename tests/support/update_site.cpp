#include "support/update_site.h"

#include <algorithm>

#include <sys/stat.h>

#include <filesystem>

#include "dbupdate/script_package.h"
#include "installer/module_installation.h"
#include "platform/files.h"
#include "settings/profile_file.h"

namespace korva::testing {

std::string CrLf(const std::string& lfText) {
  std::string out;
  for (char c : lfText) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string ModeName(const ::testing::TestParamInfo<UpdateMode>& info) {
  return std::string(info.param.edition) +
         (info.param.server ? FtpServerName(*info.param.server) : "Local");
}

std::string ScriptPackage(const std::string& version,
                          const std::vector<std::vector<std::string>>& groups) {
  std::string bytes = "[" + version + "]\r\n";
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (std::size_t l = 0; l < groups[g].size(); ++l) {
      bytes +=
          "S" + std::to_string(g + 1) + "_" + std::to_string(l + 1) + "=" + groups[g][l] + "\r\n";
    }
  }
  return bytes;
}

UpdateSite::UpdateSite(SiteOptions options, std::optional<FtpServerKind> serverKind,
                       std::vector<std::string> scenarios)
    : options_(std::move(options)) {
  options_.copyPrograms = true;
  if (serverKind) {
    server = std::make_unique<FtpServer>(*serverKind, std::move(scenarios));
    options_.extraArguments.push_back("--ftp-server=127.0.0.1:" + std::to_string(server->Port()));
    // vsftpd is driven in passive mode, pyftpdlib in active mode.
    if (*serverKind == FtpServerKind::Vsftpd) options_.extraArguments.push_back("--passive");
    server->MakeDir("/httpdocs/empresa_2012");
    server->MakeDir("/httpdocs/versao_cliente");
  }
  const auto& given = options_.extraArguments;
  if (std::none_of(given.begin(), given.end(),
                   [](const std::string& a) { return a.rfind("--client-id=", 0) == 0; })) {
    options_.extraArguments.push_back(std::string("--client-id=") + kClientId);
  }
  site = BuildSite(dir.Path(), options_);
  platform::OverrideExecutablePath(platform::JoinPath(site.folder, "korvaupdate"));
  principal = std::make_unique<Principal>(form, shell, clock);
  if (!serverKind) UseLocalMode();
}

UpdateSite::~UpdateSite() {
  principal.reset();
  platform::OverrideExecutablePath(std::nullopt);
}

bool UpdateSite::Start() {
  principal->FormCreate();
  if (shell.endRequests != 0) return false;
  principal->FormShow();
  return true;
}

std::string UpdateSite::ServerFolder() const {
  return Empresa() ? "/httpdocs/empresa_2012" : "/httpdocs";
}

std::string UpdateSite::CatalogueName() const {
  return Empresa() ? "versao_e_modulos_empresa_2012.ini" : "versao_e_modulos_cartorio.ini";
}

std::string UpdateSite::Local(const std::string& name) const {
  return platform::JoinPath(site.folder, name);
}

std::string UpdateSite::App(const std::string& name) const {
  return platform::JoinPath(site.applicationFolder, name);
}

void UpdateSite::PutCatalogue(const std::string& bytes) {
  PutUpdateFile(CatalogueName(), bytes);
}

void UpdateSite::UseLocalMode() {
  form.PpMnTesteVESTRAMON.SetChecked(form.AtualizarPelaInternet, false);
}

std::string ModuleBytes(const std::string& executable, const std::string& build) {
  return "#!/bin/sh\necho " + executable + " " + build +
         "\nexit 0\n\nKORVA-BUILDINFO\nBUILD=" + build + "\nKORVA-BUILDINFO-END\n";
}

std::string UpdateSite::PutModulePackage(const std::string& executable, const std::string& build,
                                         const std::map<std::string, std::string>& more) {
  const std::string stage = dir.File("pacote-" + std::to_string(++packages_));
  std::filesystem::create_directories(stage);
  WriteBytes(platform::JoinPath(stage, executable), ModuleBytes(executable, build));
  ::chmod(platform::JoinPath(stage, executable).c_str(), 0755);
  for (const auto& [name, bytes] : more) WriteBytes(platform::JoinPath(stage, name), bytes);
  const std::string package = installer::PackageName(executable);
  const std::string zip = dir.File(package);
  std::filesystem::remove(zip);
  std::string output;
  if (RunCommand({"/bin/sh", "-c", "cd '" + stage + "' && zip -q -r '" + zip + "' ."}, output) != 0)
    throw std::runtime_error("zip failed: " + output);
  const std::string bytes = ReadBytes(zip);
  if (form.InternetMode()) {
    server->PutFile(ServerFolder() + "/" + package, bytes);
  } else {
    WriteBytes(App(package), bytes);
  }
  return bytes;
}

void UpdateSite::PutUpdateFile(const std::string& name, const std::string& bytes) {
  if (form.InternetMode()) {
    server->PutFile(ServerFolder() + "/" + name, bytes);
  } else {
    WriteBytes(Local(name), bytes);
  }
}

std::string PublicKeyArgument(const trust::KeyPair& maker) {
  return "--public-key=" +
         trust::EncodeBase64(std::string(maker.publicKey.begin(), maker.publicKey.end()));
}

std::string SignatureOf(const trust::KeyPair& maker, trust::Domain domain, const std::string& name,
                        const std::string& bytes) {
  return trust::Sign(maker, *trust::Statement(domain, name, trust::Sha512Of(bytes)));
}

void UpdateSite::PutSigned(const trust::KeyPair& maker, trust::Domain domain,
                           const std::string& name, const std::string& bytes) {
  PutUpdateFile(name, bytes);
  PutUpdateFile(name + ".sig", SignatureOf(maker, domain, name, bytes));
}

void UpdateSite::RemoveUpdateFile(const std::string& name) {
  std::filesystem::remove(form.InternetMode() ? server->Path(ServerFolder() + "/" + name)
                                              : Local(name));
}

void UpdateSite::PutClientFileOnServer(const std::string& bytes) {
  server->PutFile(std::string("/httpdocs/versao_cliente/") + kClientId + ".ini", bytes);
}

void UpdateSite::PutModule(const std::string& executable, const std::string& bytes) {
  WriteBytes(App(executable), bytes);
}

std::vector<std::string> UpdateSite::Nodes() const {
  std::vector<std::string> texts;
  for (const auto& node : form.TVAtualizacoes.Nodes()) texts.push_back(node.text);
  return texts;
}

std::string UpdateSite::ClientVersion(const std::string& section) const {
  return settings::ProfileFile(Local(std::string(kClientId) + ".ini"))
      .ReadString(section, "versao", "<none>");
}

}  // namespace korva::testing
