#pragma once
// The main window's logic, toolkit-free: every handler of TFrmKorvaUpdate,
// named after its control and event. Either window (Qt, or Win32 in the
// Windows build) forwards clicks here through FormMirror; tests call the
// handlers directly and read the form model.
#include <functional>
#include <memory>
#include <string>

#include "app/session_state.h"
#include "catalogue/catalogue_check.h"
#include "db/connection.h"
#include "dbupdate/protected_mode.h"
#include "dbupdate/script_engine.h"
#include "dbupdate/version_row.h"
#include "delivery/update_source.h"
#include "form/form_model.h"
#include "form/shell.h"
#include "installer/branch_distribution.h"
#include "installer/zip/zip_reader.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "records/client_version_report.h"
#include "records/update_log.h"
#include "settings/installed_modules.h"
#include "settings/settings_file.h"
#include "transfer/ftp_session.h"
#include "transfer/progress_display.h"
#include "trust/trust.h"

namespace korva {

class Principal {
 public:
  // executableFolder: where every file the updater owns lives (the folder of
  // its executable; tests give a site's folder).
  Principal(form::FormModel& form, Shell& shell, const platform::Clock& clock,
            std::string executableFolder = platform::ExecutableFolder());
  ~Principal();
  Principal(const Principal&) = delete;
  Principal& operator=(const Principal&) = delete;

  form::FormModel& Form() { return form_; }
  SessionState& Session() { return session_; }
  Shell& GetShell() { return shell_; }

  // What the window owns for the whole life of the process.
  db::Connection& SQLConnectionKORVA() { return sqlConnectionKorva_; }
  db::Connection& SQLConnectionUSUARIO() { return sqlConnectionUsuario_; }
  // The main database's version row of the session's edition.
  dbupdate::VersionRow& MainVersionRow();
  dbupdate::VersionRow& UsersVersionRow() { return usersRow_; }
  const settings::InstalledModules& InstalledModules() const { return installedModules_; }
  transfer::FtpSession& IdFTPKorva() { return ftp_; }
  transfer::ProgressDisplay& ProgressDisplay() { return progress_; }
  installer::ZipReader& ZipReader() { return zipReader_; }
  records::UpdateLog& UpdateLog() { return log_; }
  // The maker's public key from "KORVA.INI"; null when the site has none
  // (update files are then taken unsigned).
  const trust::PublicKey* MakersKey() const { return makersKey_ ? &*makersKey_ : nullptr; }
  records::ClientVersionReport& ClientVersionReport() { return report_; }
  // The folder of the updater's executable, where every file it owns lives.
  const std::string& ExecutableFolder() const { return executableFolder_; }

  // Life of the window.
  void FormCreate();
  // Start-up step: "KORVA.INI" into the configuration page, status bar panel
  // 3 and the transfer session. Fails as settings::LoadSettings does.
  settings::LoadedSettings LoadSettings();
  void FormShow();
  void FormActivate();
  void FormClose();
  void FormDestroy();

  // Navigation and the small handlers of the pages.
  void BtBtnFecharClick();
  void BtBtnConfigClick();
  void BitBtn1Click();
  void BtBtnAbortarClick();
  void LblSiteClick();
  void Label8Click();
  void AtualizacaoLocalClick(form::MenuItem& clicked);
  void GerarScript1Click();
  // Writes the next version's statements to SCRIPT_<group>.TXT files.
  void GeraScript();

  // The pending updates: the catalogue check, and the list's export and print.
  void BtBtnNovasAtualizacoesClick();
  void BtBtnGravarClick();
  void BtBtImpimirAtualizacaoClick();

  // The update run: "Iniciar &Atualizações", the backup page's statement and
  // "&Continuar", which runs the database steps and the module installation.
  void BtbtnIniciarAtualizacaoClick();
  void RGBackupClick();
  void BtBtnContinuarClick();
  // The update run's database steps (users or main database of an edition):
  // on the log page, package by package; true when the database reached the
  // catalogue's version.
  bool AtualizaBanco(dbupdate::Step step);
  // The module installation; its outcome is left in runSucceeded.
  void AtualizaModulos();

  // The backup page: who else is connected to the databases.
  void BitBtn2Click();
  // Refreshes the page's connection figures; the update run does it too when
  // it shows the page.
  void AtualizaConsultaConexoes();

  // Configuration page.
  void BtBtnGravaConfigClick();
  void RdGrpModotAtualizacaoClick();

  // Each time a database connection is about to open: where it is, from the
  // KORVA system's "dbxconnections.ini" (the edition, the application folder
  // and status bar panel 0 follow from it).
  db::ParameterList SQLConnectionKORVABeforeConnect();
  db::ParameterList SQLConnectionUSUARIOBeforeConnect();

  // Runs a handler the way the window must: a second click while an operation
  // runs is ignored, a failure that the handler does not handle itself goes to
  // the general error display. Returns false when the click was ignored.
  bool Dispatch(const std::function<void()>& handler);
  // True while a handler runs (pending input is processed inside operations).
  bool OperationRunning() const { return running_ > 0; }
  // A close request that arrives while an operation runs waits for its end.
  void RequestClose();
  bool ClosePending() const { return closePending_; }

  // The general error display: the failure's text in an error box, OK button.
  void ShowError(const std::string& text);

 private:
  dbupdate::ProtectedModeContext ProtectedMode();
  // The configuration page's text fields, in the settings file's key order.
  std::array<form::TextControl*, settings::kTextKeys.size()> SettingsFields();
  installer::BranchControls Branches();
  // After the run's last step: success closes the window, anything else
  // leaves it where the run stopped.
  void EndOfRun();
  catalogue::CheckContext CatalogueCheck(delivery::UpdateSource& source);
  // Where this operation's update files come from: the mode the menu shows
  // now, and the maker's key.
  delivery::SourceServices UpdateFiles();

  form::FormModel& form_;
  Shell& shell_;
  const platform::Clock& clock_;
  std::string executableFolder_;
  SessionState session_;
  std::optional<trust::PublicKey> makersKey_;
  int running_ = 0;
  bool closePending_ = false;

  db::Connection sqlConnectionKorva_{"SQLConnectionKORVA"};
  db::Connection sqlConnectionUsuario_{"SQLConnectionUSUARIO"};
  dbupdate::VersionRow mainRowEmpresa_;
  dbupdate::VersionRow mainRowCartorio_;
  dbupdate::VersionRow usersRow_;
  settings::InstalledModules installedModules_;
  platform::LocaleFormats locale_;
  transfer::FtpSession ftp_;
  transfer::ProgressDisplay progress_;
  installer::ZipReader zipReader_;
  records::UpdateLog log_;
  records::ClientVersionReport report_;
};

}  // namespace korva
