// The pending updates: the catalogue check behind "&Procurar por novas
// atualizações", and the list handed on as a file or on paper.
#include "app/principal.h"
#include "catalogue/catalogue_check.h"
#include "platform/files.h"
#include "records/pending_list_report.h"
#include "versions/edition.h"

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
      .controls = {.TBtnConectando = form_.TBtnConectando,
                   .TBtnVerificando = form_.TBtnVerificando,
                   .TBtnDesconectando = form_.TBtnDesconectando,
                   .STxtKBPS = form_.STxtKBPS,
                   .TVAtualizacoes = form_.TVAtualizacoes,
                   .buttons = {&form_.BtbtnIniciarAtualizacao, &form_.BtBtImpimirAtualizacao,
                               &form_.BtBtnGravar},
                   .branchFolders = {&form_.SrvRemoto1, &form_.SrvRemoto2, &form_.SrvRemoto3}},
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
      .pendingBranchesFilePath = session_.records.pendingBranchesFilePath,
      .currentProfileFile = session_.currentProfileFile,
      .settingsFolder = executableFolder_,
      .clock = clock_};
}

void Principal::BtBtnNovasAtualizacoesClick() {
  catalogue::RunData& run = session_.run;
  const settings::SiteState& site = session_.site;
  run.mainUpdatePending = false;
  run.usersUpdatePending = false;
  const versions::EditionTable& edition = versions::TableOf(site.edition);
  run.scriptFilePath =
      platform::JoinPath(executableFolder_, "script" + std::string(edition.name) + ".ini");
  run.catalogueFilePath = platform::JoinPath(executableFolder_, edition.catalogueFile);
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
  const PrintOutcome outcome =
      shell_.PrintReport(records::RelatorioAtualizacoes(form_.TVAtualizacoes.Nodes(), printedAt));
  // A cancelled dialog was the operator's own choice; a failure is told.
  if (outcome == PrintOutcome::kFailed) {
    shell_.ShowMessage(Message{"KORVA Update", "Não foi possível imprimir a lista de atualizações.",
                               MsgIcon::Error, kOk, kOk});
  }
}

}  // namespace korva
