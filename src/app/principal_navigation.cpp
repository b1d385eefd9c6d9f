// Moving between the wizard's pages, and the small handlers of the side panel,
// the first page and the log page.
#include "app/principal.h"
#include "dbupdate/script_export.h"
#include "form/maker.h"
#include "platform/files.h"

namespace korva {

void Principal::BtBtnFecharClick() {
  // The client version file describes one check; it must not outlive the
  // session. One that cannot be deleted stays, and the window closes anyway.
  const std::string& clientFile = session_.records.clientVersionFilePath;
  if (!clientFile.empty() && platform::FileExists(clientFile)) platform::DeleteFile(clientFile);
  shell_.CloseMainWindow();
}

void Principal::BtBtnConfigClick() {
  // Reopening the page from itself must not make it its own way back.
  if (form_.ActivePage() != &form_.TbShtConfig) session_.pageBeforeConfig = form_.ActivePage();
  form_.ShowPage(form_.TbShtConfig);
}

void Principal::BitBtn1Click() {
  form_.ShowPage(session_.pageBeforeConfig ? *session_.pageBeforeConfig : form_.TbShtInicio);
}

void Principal::BtBtnAbortarClick() {
  // Only flags: the transfer's next progress event and the module
  // installation act on them. This runs while an operation is in progress.
  session_.transfer.transferAbortRequested = true;
  session_.transfer.runAbortRequested = true;
}

void Principal::LblSiteClick() {
  shell_.OpenWebAddress(form_.LblSite.Text());
}

void Principal::Label8Click() {
  const MsgButton answer =
      shell_.ShowMessage(Message{"KORVA Update",
                                 "Este procedimento irá abrir o seu navegador de internet\r"
                                 "e permitir que localize e atualize o programa KORVA UPDATE.\r"
                                 "Você deverá substituir o arquivo existente.",
                                 MsgIcon::Information, kOk | kCancel, kNoButton});
  if (answer != kOk) return;
  shell_.OpenWebAddress(std::string("http://") + form::kSelfUpdateHost + form::kSelfUpdatePath);
  // The operator replaces this program's file next; it must not be running.
  shell_.CloseMainWindow();
}

void Principal::AtualizacaoLocalClick(form::MenuItem& clicked) {
  // Clicking the checked item leaves both unchecked: that is local mode too.
  form_.PpMnTesteVESTRAMON.SetChecked(clicked, !clicked.Checked());
}

void Principal::GerarScript1Click() {
  const form::TextControl* page = form_.ActivePage();
  if (page != &form_.TbShtBackup && page != &form_.TbShtVerificaAtualizacoes) {
    shell_.ShowMessage(Message{"KORVA", "Você deve estar na página que informa sobre backup",
                               MsgIcon::Information, kOk, kOk});
    return;
  }
  GeraScript();
}

void Principal::GeraScript() {
  dbupdate::GeraScript(session_.currentProfileFile, session_.run.scriptFilePath,
                       session_.database.nextVersion, shell_);
}

}  // namespace korva
