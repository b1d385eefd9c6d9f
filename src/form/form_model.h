#pragma once
// The main window TFrmKorvaUpdate as plain objects: one member per named
// control, named as the control. Built in its initial state (texts, hidden and
// disabled controls, selected items); the handlers change it as they run.
#include <string>
#include <vector>

#include "form/controls.h"

namespace korva::form {

class FormModel {
 public:
  FormModel();
  FormModel(const FormModel&) = delete;
  FormModel& operator=(const FormModel&) = delete;

  // Window: fixed client area 655 x 469, title set by the start-up sequence.
  static constexpr int kClientWidth = 655;
  static constexpr int kClientHeight = 469;
  // The title as designed; the start-up adds the build (ComposeMainTitle).
  static constexpr const char* kDesignTitle =
      "           KORVA - Atualização de Sistemas / Banco de Dados";
  // The design title, " -  Versão: " and the build: the window's title, and
  // what a second copy looks for.
  static std::string ComposeMainTitle(const std::string& build) {
    return std::string(kDesignTitle) + " -  Versão: " + build;
  }
  // The application's title (task bar) while no transfer shows a percentage.
  static constexpr const char* kApplicationTitle = "KORVA Update";
  std::string Caption() const { return caption_; }
  void SetCaption(std::string caption) {
    caption_ = std::move(caption);
    ++captionRevision_;
  }
  std::uint64_t CaptionRevision() const { return captionRevision_; }

  // Side panel.
  TextControl Panel2;
  TextControl ImgLogo;
  TextControl ImgLateral;
  TextControl ImgIcone;
  TextControl LblSuporte;
  // Hot areas: they draw nothing, but take the secondary-button click that
  // opens their popup menu.
  TextControl LblTipoTeste;  // PpMnTesteVESTRAMON
  TextControl LblScript;     // PMnScript

  // Page area.
  TextControl Panel1;
  TextControl PgCtrlPrincipal;
  TextControl BtBtnFechar;
  StatusBarControl StatusBar;

  // Pages, in page-control order.
  TextControl TbShtInicio;
  TextControl TbShtVerificaAtualizacoes;
  TextControl TbShtBackup;
  TextControl TbShtLog;
  TextControl TbShtConfig;

  // TbShtInicio
  TextControl Label2;
  TextControl Label3;
  TextControl BtBtnNovasAtualizacoes;
  TextControl PnlDownload;
  StepIndicator TBtnConectando;
  TextControl LblConectando;
  StepIndicator TBtnVerificando;
  TextControl LblVerificando;
  StepIndicator TBtnDesconectando;
  TextControl LblDesconectando;
  Gauge GaugeDownload;
  TextControl STxtKBPS;
  TextControl FltBtnConfig;
  TextControl Label8;
  TextControl Label7;
  TextControl LblSite;

  // TbShtVerificaAtualizacoes
  TextControl GroupBox1;
  TreeView TVAtualizacoes;
  TextControl BtBtImpimirAtualizacao;
  TextControl BtBtnGravar;
  TextControl BtbtnIniciarAtualizacao;
  TextControl Label6;

  // TbShtBackup
  Memo Memo1;
  TextControl Label15;
  TextControl StTxtNumUsers;
  TextControl Label16;
  TextControl StTxtUsuariosConectados;
  Memo MmComputadoresConectados;
  RadioGroup RGBackup;
  TextControl BitBtn2;
  TextControl BtBtnContinuar;

  // TbShtLog
  CheckList ChkLBxLog;
  TextControl PnlDownModulo;
  StepIndicator TBtnConect;
  TextControl LblConect;
  StepIndicator TBtnFazDownModulo;
  TextControl LblFazDownModulo;
  StepIndicator TbtnDesconect;
  TextControl LblDesconect;
  TextControl LblGravando;
  Gauge GgDownModulo;
  TextControl STxtDownModulo;
  TextControl BtBtnAbortar;
  CheckList ChkLstBxEmpresas;

  // TbShtConfig
  TextControl Label10;
  TextControl Label12;
  TextControl Label11;
  TextControl SrvRemoto1;
  TextControl Label13;
  TextControl SrvRemoto2;
  TextControl Label14;
  TextControl SrvRemoto3;
  TextControl GroupBox2;
  TextControl Label17;
  TextControl EdtProxy_Host;
  TextControl Label18;
  TextControl EdtProxy_Porta;
  TextControl Label19;
  TextControl EdtProxy_Usuario;
  TextControl Label20;
  TextControl EdtProxy_Senha;
  TextControl BtBtnGravaConfig;
  TextControl BitBtn1;
  RadioGroup RdGrpMetodoFTP;
  RadioGroup RdGrpModotAtualizacao;

  // Popup menus of the side panel's hot areas.
  PopupMenu PpMnTesteVESTRAMON;
  MenuItem AtualizacaoLocal;
  MenuItem AtualizarPelaInternet;
  PopupMenu PMnScript;
  MenuItem GerarScript1;

  // The page shown by PgCtrlPrincipal.
  TextControl* ActivePage() const { return activePage_; }
  void ShowPage(TextControl& page);
  std::uint64_t ActivePageRevision() const { return activePageRevision_; }
  std::vector<TextControl*> Pages();
  std::vector<const TextControl*> Pages() const;

  // Internet mode is in force exactly while AtualizarPelaInternet is checked.
  bool InternetMode() const { return AtualizarPelaInternet.Checked(); }

  // Every control, for the window's mirror and for tests that look one up.
  const std::vector<Control*>& AllControls() const { return all_; }
  Control* Find(const std::string& name) const;

 private:
  void Register();
  std::string caption_;
  std::uint64_t captionRevision_ = 0;
  TextControl* activePage_ = nullptr;
  std::uint64_t activePageRevision_ = 0;
  std::vector<Control*> all_;
};

}  // namespace korva::form
