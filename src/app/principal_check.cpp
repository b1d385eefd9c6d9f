// The pending updates: the catalogue check behind "&Procurar por novas
// atualizações", and the list handed on as a file or on paper.
#include "app/principal.h"
#include "catalogue/catalogue_check.h"
#include "platform/files.h"
#include "records/pending_list_report.h"

namespace korva {

catalogue::CheckContext Principal::CatalogueCheck() {
  return catalogue::CheckContext{
      {form_.TBtnConectando,
       form_.TBtnVerificando,
       form_.TBtnDesconectando,
       form_.STxtKBPS,
       form_.TVAtualizacoes,
       {&form_.BtbtnIniciarAtualizacao, &form_.BtBtImpimirAtualizacao, &form_.BtBtnGravar}},
      shell_,
      ftp_,
      session_.transfer,
      log_,
      report_,
      session_.site,
      installedModules_,
      usersRow_,
      MainVersionRow(),
      session_.run,
      session_.records.clientVersionFilePath,
      session_.currentProfileFile,
      MakersKey()};
}

void Principal::BtBtnNovasAtualizacoesClick() {
  catalogue::RunData& run = session_.run;
  const settings::SiteState& site = session_.site;
  run.mainUpdatePending = false;
  run.usersUpdatePending = false;
  run.scriptFilePath = platform::JoinPath(executableFolder_, "script" + site.edition + ".ini");
  run.catalogueFilePath =
      platform::JoinPath(executableFolder_, catalogue::CatalogueFileName(site.edition));
  session_.records.clientVersionFilePath =
      platform::JoinPath(executableFolder_, site.clientId + ".ini");

  form_.PnlDownload.SetVisible(true);
  form_.TBtnConectando.SetImage(form::StepIndicator::Image::Connect);
  shell_.Repaint();
  const catalogue::CheckContext check = CatalogueCheck();
  // Local mode takes the catalogue already in the updater's folder.
  if (form_.InternetMode() && !catalogue::BuscaCatalogo(check, session_.baselineReached)) return;

  form_.ShowPage(form_.TbShtVerificaAtualizacoes);
  shell_.Repaint();
  if (run.pruningPasses == 0) {
    catalogue::RemoveSecoesAntigas(run.scriptFilePath, session_.database.recordedMainVersion,
                                   run.pruningPasses);
  }
  catalogue::ListaAtualizacoes(check);
}

void Principal::BtBtnGravarClick() {
  const std::optional<std::string> path = shell_.AskSaveFileName("AtualizacoesKORVA", "TXT");
  if (!path) return;
  records::GravaLista(*path, form_.TVAtualizacoes.Nodes());
  shell_.ShowMessage(
      Message{"KOVA Update", "Arquivo gravado com sucesso.", MsgIcon::Information, kOk, kOk});
}

void Principal::BtBtImpimirAtualizacaoClick() {
  const platform::LocalDateTime now = clock_.Now();
  const std::string printedAt =
      platform::FormatShortDate(now, locale_) + " " + platform::FormatLongTime(now, locale_);
  const PrintOutcome outcome =
      shell_.PrintReport(records::RelatorioAtualizacoes(form_.TVAtualizacoes.Nodes(), printedAt));
  // A cancelled dialog was the operator's own choice; a failure is told.
  if (outcome == PrintOutcome::kFailed) {
    shell_.ShowMessage(Message{"KORVA Update", "Não foi possível imprimir a lista de atualizações.",
                               MsgIcon::Error, kOk, kOk});
  }
}

}  // namespace korva
