// The window's life: start-up, first showing, activation, closing and
// destruction, and where the two database connections go.
#include "app/principal.h"
#include "dbupdate/backup_program.h"
#include "dbupdate/protected_mode.h"
#include "platform/files.h"
#include "records/pending_branch_copies.h"
#include "settings/connection_file.h"
#include "settings/installed_modules.h"
#include "settings/settings_file.h"
#include "vendor/vendor_library.h"
#include "versions/version_rules.h"

namespace korva {
namespace {

const char* const kDatabaseUnavailable =
    "Não foi possível se conectar ao servidor de Banco de Dados.\r"
    "Verifique os seguintes passos:\r"
    "1. Se seu servidor está ligado.\r"
    "2. Se sua rede está operacional.\r"
    "3. Suas permissões de acesso ao servidor.";

}  // namespace

void Principal::FormCreate() {
  form_.SetCaption(
      form::FormModel::ComposeMainTitle(vendor::GetBuildInfo(platform::ExecutablePath(), "BUILD")));

  session_.transfer.runAbortRequested = false;
  session_.database.restartBackupOnExit = false;
  session_.baselineReached = false;
  session_.transactions.transactionCounter = 0;
  session_.run.pruningPasses = 0;

  // A key that is there but unusable must never mean "take unsigned files":
  // the program does not start with it.
  const std::string keyText = settings::ReadPublicKeyText(executableFolder_);
  if (!keyText.empty()) {
    makersKey_ = trust::ParsePublicKey(keyText);
    if (!makersKey_) {
      shell_.ShowMessage(
          Message{"KORVA", "CHAVE_PUBLICA inválida em KORVA.INI.", MsgIcon::Error, kOk, kOk});
      shell_.EndProgram();
      return;
    }
  }

  // Whatever fails here, the operator sees the same message and the program
  // ends: without both databases there is nothing the updater can do.
  try {
    LoadSettings();

    // Dates are "dd/mm/yyyy" everywhere (platform::FormatShortDate); nothing
    // to set here.
    sqlConnectionKorva_.Open();
    sqlConnectionUsuario_.Open();
    session_.site.clientId = settings::ReadClientId(sqlConnectionUsuario_);
    installedModules_ = settings::ReadInstalledModules(sqlConnectionUsuario_);

    session_.records.pendingBranchesFilePath =
        platform::JoinPath(executableFolder_, records::kPendingBranchesFileName);
    std::string& logFile = session_.records.logFilePath;
    logFile = platform::JoinPath(executableFolder_, "LogUpdate.txt");
    // Each session's log starts empty; a file that cannot go stays.
    if (platform::FileExists(logFile)) platform::DeleteFile(logFile);

    dbupdate::DefineModoAtualizacao(ProtectedMode(), "R");
  } catch (const std::exception&) {
    shell_.ShowMessage(Message{"KORVA", kDatabaseUnavailable, MsgIcon::Error, kOk, kOk});
    shell_.EndProgram();
  }
}

settings::LoadedSettings Principal::LoadSettings() {
  settings::LoadedSettings loaded = settings::LoadSettings(executableFolder_);
  const auto fields = SettingsFields();
  for (std::size_t i = 0; i < fields.size(); ++i) fields[i]->SetText(loaded.texts[i]);
  form_.RdGrpMetodoFTP.SetItemIndex(loaded.transferModeIndex);
  form_.StatusBar.SetPanelText(3, settings::TransferModeText(loaded.passive));
  ftp_.SetPassive(loaded.passive);
  if (loaded.proxy) {
    ftp_.SetProxy(transfer::FtpProxy{loaded.proxy->host, loaded.proxy->port, loaded.proxy->user,
                                     loaded.proxy->password});
  }
  if (loaded.updateServer) ftp_.SetServer(loaded.updateServer->host, loaded.updateServer->port);
  return loaded;
}

void Principal::FormShow() {
  form_.ShowPage(form_.TbShtInicio);
  shell_.Repaint();

  dbupdate::VersionRow& mainRow = MainVersionRow();
  dbupdate::DatabaseState& database = session_.database;
  mainRow.Refresh();
  database.recordedMainVersion = mainRow.Value("VERSAOBANCO");
  const versions::EditionTable& edition = versions::TableOf(session_.site.edition);
  form_.StatusBar.SetPanelText(1, edition.mainPanelLabel + database.recordedMainVersion);
  if (edition.catalogueGate) {
    session_.baselineReached =
        vendor::ExisteAtualizacao(database.recordedMainVersion, edition.catalogueGate);
  }
  shell_.Repaint();

  database.nextVersion = versions::ProximaVersao(database.recordedMainVersion);

  database.usersVersionAvailable = dbupdate::AbreVersaoBancoUsuario(usersRow_);
  if (!database.usersVersionAvailable) return;
  usersRow_.Refresh();
  form_.StatusBar.SetPanelText(2, "BD Usuário: " + usersRow_.Value("VERSAOBANCO"));
  shell_.Repaint();
}

void Principal::FormActivate() {
  shell_.Repaint();
}

void Principal::FormClose() {
  sqlConnectionKorva_.Close();
  sqlConnectionUsuario_.Close();
}

void Principal::FormDestroy() {
  // Protected mode never outlives the session: selecting "Desativado" runs the
  // selector's handler when "Ativado" was showing.
  form_.RdGrpModotAtualizacao.SetItemIndex(1);
  dbupdate::RestartBackupProgramOnExit(session_.database, executableFolder_);
}

db::ParameterList Principal::SQLConnectionKORVABeforeConnect() {
  const settings::EditionChoice choice = settings::ChooseEdition(executableFolder_);
  session_.site.edition = choice.edition;
  form_.StatusBar.SetPanelText(0, settings::ServerPanelText(choice.database));
  // A missing connection file fails here, with the edition and panel 0 set.
  db::ParameterList params = settings::MainConnectionParameters(executableFolder_, choice);
  session_.site.applicationFolder = db::ParameterValue(params, "Servidor Aplica\xE7\xE3o");
  return params;
}

db::ParameterList Principal::SQLConnectionUSUARIOBeforeConnect() {
  const settings::EditionChoice choice = settings::ChooseEdition(executableFolder_);
  session_.site.edition = choice.edition;
  // The users database lies beside the main one: the main connection opens first.
  return settings::UsersConnectionParameters(executableFolder_, choice,
                                             sqlConnectionKorva_.Params());
}

}  // namespace korva
