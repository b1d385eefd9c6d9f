// The window's life: start-up, first showing, activation, closing and
// destruction, and the configuration page's own handlers.
#include "app/principal.h"
#include "app/single_instance_guard.h"
#include "catalogue/version_rules.h"
#include "dbupdate/protected_mode.h"
#include "platform/files.h"
#include "settings/installed_modules.h"
#include "settings/settings_file.h"
#include "vendor/vendor_library.h"

namespace korva {
namespace {

const char* const kDatabaseUnavailable =
    "Não foi possível se conectar ao servidor de Banco de Dados.\r"
    "Verifique os seguintes passos:\r"
    "1. Se seu servidor está ligado.\r"
    "2. Se sua rede está operacional.\r"
    "3. Suas permissões de acesso ao servidor.";

// The version after which the EMPRESA catalogue may be checked at all.
const char* const kEmpresaBaseline = "3.16.47";

}  // namespace

void Principal::FormCreate() {
  form_.SetCaption(form::FormModel::ComposeMainTitle(
      vendor::GetBuildInfo(platform::ExecutablePath(), "BUILD")));

  session_.runAbortRequested = false;
  session_.restartBackupOnExit = false;
  session_.baselineReached = false;
  session_.transactionCounter = 0;
  session_.pruningPasses = 0;

  // Whatever fails here, the operator sees the same message and the program
  // ends: without both databases there is nothing the updater can do.
  try {
    const settings::LoadedSettings loaded = settings::LoadSettings(executableFolder_, form_);
    ftp_.SetPassive(loaded.passive);
    if (loaded.proxy) {
      ftp_.SetProxy(transfer::FtpProxy{loaded.proxy->host, loaded.proxy->port, loaded.proxy->user,
                                       loaded.proxy->password});
    }
    if (loaded.updateServer) ftp_.SetServer(loaded.updateServer->host, loaded.updateServer->port);

    // Dates are "dd/mm/yyyy" everywhere (platform::FormatShortDate); nothing
    // to set here.
    sqlConnectionKorva_.Open();
    sqlConnectionUsuario_.Open();
    session_.clientId = settings::ReadClientId(sqlConnectionUsuario_);
    installedModules_ = settings::ReadInstalledModules(sqlConnectionUsuario_);

    session_.logFilePath = platform::JoinPath(executableFolder_, "LogUpdate.txt");
    // Each session's log starts empty; a file that cannot go stays.
    if (platform::FileExists(session_.logFilePath)) platform::DeleteFile(session_.logFilePath);

    dbupdate::DefineModoAtualizacao(ProtectedMode(), "R");
  } catch (const std::exception&) {
    shell_.ShowMessage(Message{"KORVA", kDatabaseUnavailable, MsgIcon::Error, kOk, kOk});
    shell_.EndProgram();
  }
}

void Principal::FormShow() {
  form_.ShowPage(form_.TbShtInicio);
  shell_.Repaint();

  dbupdate::VersionRow& mainRow = MainVersionRow();
  mainRow.Refresh();
  session_.recordedMainVersion = mainRow.Value("VERSAOBANCO");
  if (session_.edition == "EMPRESA") {
    form_.StatusBar.SetPanelText(1, "BD Korva: " + session_.recordedMainVersion);
    session_.baselineReached =
        vendor::ExisteAtualizacao(session_.recordedMainVersion, kEmpresaBaseline);
  } else {
    form_.StatusBar.SetPanelText(1, "Cartorio: " + session_.recordedMainVersion);
  }
  shell_.Repaint();

  session_.nextVersion = catalogue::ProximaVersao(session_.recordedMainVersion);

  session_.usersVersionAvailable = dbupdate::AbreVersaoBancoUsuario(usersRow_);
  if (!session_.usersVersionAvailable) return;
  usersRow_.Refresh();
  form_.StatusBar.SetPanelText(2, "BD Usuário: " + usersRow_.Value("VERSAOBANCO"));
  shell_.Repaint();
}

void Principal::FormActivate() { shell_.Repaint(); }

void Principal::FormClose() {
  sqlConnectionKorva_.Close();
  sqlConnectionUsuario_.Close();
}

void Principal::FormDestroy() {
  // Protected mode never outlives the session: selecting "Desativado" runs the
  // selector's handler when "Ativado" was showing.
  form_.RdGrpModotAtualizacao.SetItemIndex(1);
  if (session_.restartBackupOnExit) RestartBackupProgramOnExit(session_);
}

void Principal::BtBtnGravaConfigClick() {
  ftp_.SetPassive(settings::BtBtnGravaConfigClick(executableFolder_, form_, shell_));
}

void Principal::RdGrpModotAtualizacaoClick() {
  dbupdate::RdGrpModotAtualizacaoClick(ProtectedMode());
}

}  // namespace korva
