// The pending updates: the catalogue check behind "&Procurar por novas
// atualizações", and the list handed on as a file or on paper.
#include "app/principal.h"
#include "catalogue/catalogue_check.h"
#include "platform/files.h"
#include "records/pending_list_report.h"

namespace korva {

delivery::SourceServices Principal::UpdateFiles() {
  return delivery::SourceServices{.ftp = ftp_,
                                  .transfer = session_.transfer,
                                  .log = log_,
                                  .makersKey = MakersKey(),
                                  .internetMode = form_.InternetMode()};
}

catalogue::CheckContext Principal::CatalogueCheck(delivery::UpdateSource& source) {
  return catalogue::CheckContext{
      .controls = {form_.TBtnConectando,
                   form_.TBtnVerificando,
                   form_.TBtnDesconectando,
                   form_.STxtKBPS,
                   form_.TVAtualizacoes,
                   {&form_.BtbtnIniciarAtualizacao, &form_.BtBtImpimirAtualizacao,
                    &form_.BtBtnGravar}},
      .shell = shell_,
      .source = source,
      .log = log_,
      .report = report_,
      .site = session_.site,
      .modules = installedModules_,
      .usersRow = usersRow_,
      .mainRow = MainVersionRow(),
      .run = session_.run,
      .clientVersionFilePath = session_.records.clientVersionFilePath,
      .currentProfileFile = session_.currentProfileFile,
      .settingsFolder = executableFolder_,
      .clock = clock_};
}

void Principal::BtBtnNovasAtualizacoesClick() {
  catalogue::RunData& run = session_.run;
  const settings::SiteState& site = session_.site;
  run.mainUpdatePending = false;
  run.usersUpdatePending = false;
  run.scriptFilePath = platform::JoinPath(executableFolder_, "script" + site.edition + ".ini");
  run.catalogueFilePath =
      platform::JoinPath(executableFolder_, catalogue::CatalogueFileName(site.edition));
  // An identifier that is no bare file name never names a file of ours.
  session_.records.clientVersionFilePath.clear();
  if (report_.Usable()) {
    session_.records.clientVersionFilePath =
        platform::JoinPath(executableFolder_, site.clientId + ".ini");
  } else {
    log_.LogRefusal(site.clientId + ".ini", "nome inválido");
  }

  form_.PnlDownload.SetVisible(true);
  form_.TBtnConectando.SetImage(form::StepIndicator::Image::Connect);
  shell_.Repaint();
  delivery::UpdateSource source(UpdateFiles());
  const catalogue::CheckContext check = CatalogueCheck(source);
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
  shell_.PrintReport(records::RelatorioAtualizacoes(form_.TVAtualizacoes.Nodes(), printedAt));
}

}  // namespace korva
