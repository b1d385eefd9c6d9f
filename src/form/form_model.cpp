#include "form/form_model.h"

#include "form/maker.h"

namespace korva::form {
namespace {

using K = TextControl::Kind;

const char* const kLabel3 =
    "Para continuar verifique os seguintes passos:\r\n"
    "\r\n"
    "1. Você deve estar conectado à internet.\r\n"
    "\r\n"
    "2. O sistema irá se conectar com o servidor de atualizações do KORVA e\r\n"
    "     fazer o download do arquivo de atualização.\r\n"
    "\r\n"
    "Para iniciar, clique no botão \"Procurar por novas atualizações\" ";

const char* const kLabel12 =
    "Indique o caminho dos servidores de filiais para atualização\r\n"
    "Ex. \\\\SERVER1\\KORVA\\EMPRESA    ou\r\n"
    "      \\\\192.168.0.1\\KORVA\\EMPRESA";

}  // namespace

FormModel::FormModel()
    : Panel2("Panel2", K::Panel),
      ImgLogo("ImgLogo", K::Panel),
      ImgLateral("ImgLateral", K::Panel),
      ImgIcone("ImgIcone", K::Panel),
      LblSuporte("LblSuporte", K::Label, std::string("Suporte: ") + kSupportTelephone),
      LblTipoTeste("LblTipoTeste", K::Label),
      LblScript("LblScript", K::Label),
      Panel1("Panel1", K::Panel),
      PgCtrlPrincipal("PgCtrlPrincipal", K::Panel),
      BtBtnFechar("BtBtnFechar", K::Button, "&Fechar"),
      StatusBar("StatusBar", {320, 130, 130, 50}),
      TbShtInicio("TbShtInicio", K::Page, "Início"),
      TbShtVerificaAtualizacoes("TbShtVerificaAtualizacoes", K::Page, "Atualizações"),
      TbShtBackup("TbShtBackup", K::Page, "Backup"),
      TbShtLog("TbShtLog", K::Page, "Log de atualizações"),
      TbShtConfig("TbShtConfig", K::Page, "Configurações"),
      Label2("Label2", K::Label, "Bem-Vindo ao atualizador de Sistemas / Banco de Dados do KORVA"),
      Label3("Label3", K::Label, kLabel3),
      BtBtnNovasAtualizacoes("BtBtnNovasAtualizacoes", K::Button,
                             "&Procurar por novas atualizações"),
      PnlDownload("PnlDownload", K::Panel),
      TBtnConectando("TBtnConectando"),
      LblConectando("LblConectando", K::Label, "Conectando ao Servidor KORVA"),
      TBtnVerificando("TBtnVerificando"),
      LblVerificando("LblVerificando", K::Label, "Verificando atualizações disponíveis"),
      TBtnDesconectando("TBtnDesconectando"),
      LblDesconectando("LblDesconectando", K::Label, "Desconectando do Servidor KORVA"),
      GaugeDownload("GaugeDownload"),
      STxtKBPS("STxtKBPS", K::StaticText),
      FltBtnConfig("FltBtnConfig", K::FlatButton, "&Configurações"),
      Label8("Label8", K::Label, "Atualizar este programa"),
      Label7("Label7", K::Label, "Visite nosso site"),
      LblSite("LblSite", K::Label, kMakerWebAddress),
      GroupBox1("GroupBox1", K::GroupBox, "Atualizações"),
      TVAtualizacoes("TVAtualizacoes"),
      BtBtImpimirAtualizacao("BtBtImpimirAtualizacao", K::Button, "&Imprimir"),
      BtBtnGravar("BtBtnGravar", K::Button, "&Gravar"),
      BtbtnIniciarAtualizacao("BtbtnIniciarAtualizacao", K::Button, "Iniciar &Atualizações"),
      Label6("Label6", K::Label, kMakerWebAddress),
      Memo1("Memo1"),
      Label15("Label15", K::Label, "Conexões ativas:"),
      StTxtNumUsers("StTxtNumUsers", K::StaticText, "0"),
      Label16("Label16", K::Label, "Computadores conectados:"),
      StTxtUsuariosConectados("StTxtUsuariosConectados", K::StaticText, "0"),
      MmComputadoresConectados("MmComputadoresConectados"),
      RGBackup("RGBackup", "Você está pronto para continuar ?", {"Sim", "Não"}, 1),
      BitBtn2("BitBtn2", K::Button, "&Atualizar consulta conexões"),
      BtBtnContinuar("BtBtnContinuar", K::Button, "&Continuar"),
      ChkLBxLog("ChkLBxLog"),
      PnlDownModulo("PnlDownModulo", K::Panel),
      TBtnConect("TBtnConect"),
      LblConect("LblConect", K::Label, "Conectando ao Servidor KORVA"),
      TBtnFazDownModulo("TBtnFazDownModulo"),
      LblFazDownModulo("LblFazDownModulo", K::Label, "Fazendo download de atualizações"),
      TbtnDesconect("TbtnDesconect"),
      LblDesconect("LblDesconect", K::Label, "Desconectando do Servidor KORVA"),
      LblGravando("LblGravando", K::Label, "Gravando em:"),
      GgDownModulo("GgDownModulo"),
      STxtDownModulo("STxtDownModulo", K::StaticText),
      BtBtnAbortar("BtBtnAbortar", K::Button, "&Abortar"),
      ChkLstBxEmpresas("ChkLstBxEmpresas"),
      Label10("Label10", K::Label, "Servidores de filiais para atualização"),
      Label12("Label12", K::Label, kLabel12),
      Label11("Label11", K::Label, "1."),
      SrvRemoto1("SrvRemoto1", K::Edit),
      Label13("Label13", K::Label, "2."),
      SrvRemoto2("SrvRemoto2", K::Edit),
      Label14("Label14", K::Label, "3."),
      SrvRemoto3("SrvRemoto3", K::Edit),
      GroupBox2("GroupBox2", K::GroupBox, " Proxy "),
      Label17("Label17", K::Label, "Host"),
      EdtProxy_Host("EdtProxy_Host", K::Edit),
      Label18("Label18", K::Label, "Porta"),
      EdtProxy_Porta("EdtProxy_Porta", K::Edit),
      Label19("Label19", K::Label, "Usuário"),
      EdtProxy_Usuario("EdtProxy_Usuario", K::Edit),
      Label20("Label20", K::Label, "Senha"),
      EdtProxy_Senha("EdtProxy_Senha", K::Edit),
      BtBtnGravaConfig("BtBtnGravaConfig", K::Button, "&Gravar"),
      BitBtn1("BitBtn1", K::Button, "&Voltar"),
      RdGrpMetodoFTP("RdGrpMetodoFTP", " Método FTP ", {"Ativo", "Passivo"}, -1),
      RdGrpModotAtualizacao("RdGrpModotAtualizacao", " Modo Atualização Protegido ",
                            {"Ativado", "Desativado"}, 1),
      PpMnTesteVESTRAMON("PpMnTesteVESTRAMON"),
      AtualizacaoLocal("AtualizacaoLocal", "Atualização Local (Somente Banco de Dados)", true),
      AtualizarPelaInternet("AtualizarPelaInternet",
                            "Atualizar Pela Internet (Banco de Dados e Módulos)", true),
      PMnScript("PMnScript"),
      GerarScript1("GerarScript1", "Gerar Script", false) {
  // Which page or panel holds which control.
  for (Control* c : std::initializer_list<Control*>{&ImgLogo, &ImgLateral, &ImgIcone, &LblSuporte,
                                                    &LblTipoTeste, &LblScript}) {
    c->parent = "Panel2";
  }
  PgCtrlPrincipal.parent = "Panel1";
  BtBtnFechar.parent = "Panel1";
  for (TextControl* p : Pages()) p->parent = "PgCtrlPrincipal";
  for (Control* c :
       std::initializer_list<Control*>{&Label2, &Label3, &BtBtnNovasAtualizacoes, &PnlDownload,
                                       &FltBtnConfig, &Label8, &Label7, &LblSite}) {
    c->parent = "TbShtInicio";
  }
  for (Control* c : std::initializer_list<Control*>{
           &TBtnConectando, &LblConectando, &TBtnVerificando, &LblVerificando, &TBtnDesconectando,
           &LblDesconectando, &GaugeDownload, &STxtKBPS}) {
    c->parent = "PnlDownload";
  }
  for (Control* c : std::initializer_list<Control*>{
           &GroupBox1, &BtBtImpimirAtualizacao, &BtBtnGravar, &BtbtnIniciarAtualizacao, &Label6}) {
    c->parent = "TbShtVerificaAtualizacoes";
  }
  TVAtualizacoes.parent = "GroupBox1";
  for (Control* c : std::initializer_list<Control*>{
           &Memo1, &Label15, &StTxtNumUsers, &Label16, &StTxtUsuariosConectados,
           &MmComputadoresConectados, &RGBackup, &BitBtn2, &BtBtnContinuar}) {
    c->parent = "TbShtBackup";
  }
  for (Control* c : std::initializer_list<Control*>{&ChkLBxLog, &PnlDownModulo, &BtBtnAbortar,
                                                    &ChkLstBxEmpresas}) {
    c->parent = "TbShtLog";
  }
  for (Control* c : std::initializer_list<Control*>{
           &TBtnConect, &LblConect, &TBtnFazDownModulo, &LblFazDownModulo, &TbtnDesconect,
           &LblDesconect, &LblGravando, &GgDownModulo, &STxtDownModulo}) {
    c->parent = "PnlDownModulo";
  }
  for (Control* c : std::initializer_list<Control*>{
           &Label10, &Label12, &Label11, &SrvRemoto1, &Label13, &SrvRemoto2, &Label14, &SrvRemoto3,
           &GroupBox2, &BtBtnGravaConfig, &BitBtn1, &RdGrpMetodoFTP, &RdGrpModotAtualizacao}) {
    c->parent = "TbShtConfig";
  }
  for (Control* c :
       std::initializer_list<Control*>{&Label17, &EdtProxy_Host, &Label18, &EdtProxy_Porta,
                                       &Label19, &EdtProxy_Usuario, &Label20, &EdtProxy_Senha}) {
    c->parent = "GroupBox2";
  }

  // Initial states.
  PnlDownload.SetVisible(false);
  PnlDownModulo.SetVisible(false);
  ChkLstBxEmpresas.SetVisible(false);
  ChkLBxLog.SetEnabled(false);
  BtbtnIniciarAtualizacao.SetEnabled(false);
  BtBtnContinuar.SetEnabled(false);
  RGBackup.columns = 2;
  RdGrpMetodoFTP.columns = 2;
  RdGrpModotAtualizacao.columns = 2;
  EdtProxy_Senha.passwordChar = '*';
  Memo1.SetLines({"Esta  atualização irá modificar o Banco de Dados do sistema KORVA.", "",
                  "Para prosseguir com a atualização é necessário que se tenha feito um ",
                  "BACKUP (Cópia de Segurança) do banco de dados do sistema e ",
                  "também que todos os usuários estejam fora do sistema KORVA."});
  BtBtImpimirAtualizacao.SetHint(
      "Imprimir relatório de atualizações para apresentação aos interessados.");
  BtBtnGravar.SetHint("Gravar relatório de atualizações para apresentação aos interessados.");
  BtBtnAbortar.SetHint("Abortar transmissão de arquivo");
  for (TextControl* link : {&Label8, &LblSite, &Label6}) {
    link->font.underline = true;
    link->font.darkBlue = true;
    link->handCursor = true;
  }
  LblSite.font.bold = true;
  Label6.font.bold = true;
  ImgLogo.picture = "logo";
  ImgLateral.picture = "lateral";
  ImgIcone.picture = "icone";
  LblSuporte.centred = true;
  STxtKBPS.centred = true;
  STxtDownModulo.centred = true;
  StTxtNumUsers.centred = true;
  StTxtUsuariosConectados.centred = true;

  // Fonts.
  Label2.font.bold = true;
  Label2.font.pointSize = 10;
  for (TextControl* b :
       {&BtBtnFechar, &BtBtnNovasAtualizacoes, &FltBtnConfig, &Label11, &Label13, &Label14}) {
    b->font.bold = true;
  }
  Label10.font.bold = true;
  Label10.font.underline = true;
  Label10.font.pointSize = 10;
  GroupBox1.font = Font{"Verdana", 8, true, false, true};
  Memo1.font = Font{"Arial", 10, true, false, false};

  // Geometry, relative to the parent control. The window, the two panels, the
  // page stack, "&Fechar" and the status bar have the sizes the design fixes;
  // pages fill the stack, so page coordinates are those of the page area,
  // and every page keeps clear of "&Fechar" at its lower right.
  Panel2.geometry = {0, 0, 151, 450};
  Panel1.geometry = {151, 0, 508, 450};
  PgCtrlPrincipal.geometry = {0, 0, 501, 448};
  BtBtnFechar.geometry = {341, 402, 162, 37};
  StatusBar.geometry = {0, 450, kClientWidth, 19};
  for (TextControl* p : Pages()) p->geometry = {0, 0, 501, 448};

  ImgLogo.geometry = {0, 8, 155, 45};
  ImgLateral.geometry = {0, 66, 150, 315};
  ImgIcone.geometry = {59, 390, 32, 32};
  LblSuporte.geometry = {0, 428, 151, 14};
  LblTipoTeste.geometry = {34, 179, 25, 97};
  LblScript.geometry = {91, 75, 59, 73};

  Label2.geometry = {16, 16, 480, 18};
  Label3.geometry = {16, 46, 480, 112};
  BtBtnNovasAtualizacoes.geometry = {16, 168, 228, 37};
  PnlDownload.geometry = {16, 216, 477, 104};
  TBtnConectando.geometry = {8, 6, 16, 16};
  LblConectando.geometry = {32, 7, 300, 15};
  TBtnVerificando.geometry = {8, 28, 16, 16};
  LblVerificando.geometry = {32, 29, 300, 15};
  TBtnDesconectando.geometry = {8, 50, 16, 16};
  LblDesconectando.geometry = {32, 51, 300, 15};
  GaugeDownload.geometry = {8, 78, 281, 17};
  STxtKBPS.geometry = {297, 78, 162, 17};
  FltBtnConfig.geometry = {16, 330, 130, 26};
  Label8.geometry = {16, 372, 150, 15};
  Label7.geometry = {16, 414, 96, 15};
  LblSite.geometry = {112, 414, 200, 15};

  GroupBox1.geometry = {8, 6, 485, 334};
  TVAtualizacoes.geometry = {8, 20, 469, 306};
  BtBtImpimirAtualizacao.geometry = {8, 350, 120, 30};
  BtBtnGravar.geometry = {136, 350, 120, 30};
  BtbtnIniciarAtualizacao.geometry = {341, 356, 160, 37};
  Label6.geometry = {8, 414, 200, 15};

  Memo1.geometry = {8, 8, 485, 104};
  Label15.geometry = {8, 128, 150, 15};
  StTxtNumUsers.geometry = {160, 126, 60, 18};
  Label16.geometry = {8, 152, 150, 15};
  StTxtUsuariosConectados.geometry = {160, 150, 60, 18};
  MmComputadoresConectados.geometry = {236, 124, 257, 82};
  BitBtn2.geometry = {8, 178, 212, 30};
  RGBackup.geometry = {8, 222, 260, 48};
  BtBtnContinuar.geometry = {341, 356, 160, 37};

  ChkLBxLog.geometry = {4, 4, 493, 212};
  PnlDownModulo.geometry = {4, 222, 493, 124};
  TBtnConect.geometry = {8, 6, 16, 16};
  LblConect.geometry = {32, 7, 300, 15};
  TBtnFazDownModulo.geometry = {8, 28, 16, 16};
  LblFazDownModulo.geometry = {32, 29, 300, 15};
  TbtnDesconect.geometry = {8, 50, 16, 16};
  LblDesconect.geometry = {32, 51, 300, 15};
  LblGravando.geometry = {8, 74, 477, 15};
  GgDownModulo.geometry = {8, 98, 300, 17};
  STxtDownModulo.geometry = {316, 98, 169, 17};
  ChkLstBxEmpresas.geometry = {4, 356, 150, 84};
  BtBtnAbortar.geometry = {341, 356, 160, 37};

  Label10.geometry = {8, 10, 480, 18};
  Label12.geometry = {8, 38, 480, 45};
  Label11.geometry = {8, 94, 16, 15};
  SrvRemoto1.geometry = {26, 91, 320, 21};
  Label13.geometry = {8, 120, 16, 15};
  SrvRemoto2.geometry = {26, 117, 320, 21};
  Label14.geometry = {8, 146, 16, 15};
  SrvRemoto3.geometry = {26, 143, 320, 21};
  GroupBox2.geometry = {8, 176, 338, 128};
  Label17.geometry = {12, 25, 52, 15};
  EdtProxy_Host.geometry = {70, 22, 256, 21};
  Label18.geometry = {12, 50, 52, 15};
  EdtProxy_Porta.geometry = {70, 47, 80, 21};
  Label19.geometry = {12, 75, 52, 15};
  EdtProxy_Usuario.geometry = {70, 72, 256, 21};
  Label20.geometry = {12, 100, 52, 15};
  EdtProxy_Senha.geometry = {70, 97, 256, 21};
  RdGrpMetodoFTP.geometry = {8, 314, 190, 48};
  RdGrpModotAtualizacao.geometry = {206, 314, 220, 48};
  BtBtnGravaConfig.geometry = {8, 402, 150, 37};
  BitBtn1.geometry = {166, 402, 150, 37};

  // Popup menus.
  PpMnTesteVESTRAMON.items = {&AtualizacaoLocal, &AtualizarPelaInternet};
  PpMnTesteVESTRAMON.hotArea = "LblTipoTeste";
  PpMnTesteVESTRAMON.SetChecked(AtualizarPelaInternet, true);
  PMnScript.items = {&GerarScript1};
  PMnScript.hotArea = "LblScript";

  Register();
  ShowPage(TbShtInicio);
}

std::vector<TextControl*> FormModel::Pages() {
  return {&TbShtInicio, &TbShtVerificaAtualizacoes, &TbShtBackup, &TbShtLog, &TbShtConfig};
}

std::vector<const TextControl*> FormModel::Pages() const {
  return {&TbShtInicio, &TbShtVerificaAtualizacoes, &TbShtBackup, &TbShtLog, &TbShtConfig};
}

void FormModel::ShowPage(TextControl& page) {
  if (activePage_ == &page) return;
  activePage_ = &page;
  ++activePageRevision_;
}

Control* FormModel::Find(const std::string& name) const {
  for (Control* c : all_) {
    if (c->Name() == name) return c;
  }
  return nullptr;
}

void FormModel::Register() {
  all_ = {&Panel2,
          &ImgLogo,
          &ImgLateral,
          &ImgIcone,
          &LblSuporte,
          &LblTipoTeste,
          &LblScript,
          &Panel1,
          &PgCtrlPrincipal,
          &BtBtnFechar,
          &StatusBar,
          &TbShtInicio,
          &TbShtVerificaAtualizacoes,
          &TbShtBackup,
          &TbShtLog,
          &TbShtConfig,
          &Label2,
          &Label3,
          &BtBtnNovasAtualizacoes,
          &PnlDownload,
          &TBtnConectando,
          &LblConectando,
          &TBtnVerificando,
          &LblVerificando,
          &TBtnDesconectando,
          &LblDesconectando,
          &GaugeDownload,
          &STxtKBPS,
          &FltBtnConfig,
          &Label8,
          &Label7,
          &LblSite,
          &GroupBox1,
          &TVAtualizacoes,
          &BtBtImpimirAtualizacao,
          &BtBtnGravar,
          &BtbtnIniciarAtualizacao,
          &Label6,
          &Memo1,
          &Label15,
          &StTxtNumUsers,
          &Label16,
          &StTxtUsuariosConectados,
          &MmComputadoresConectados,
          &RGBackup,
          &BitBtn2,
          &BtBtnContinuar,
          &ChkLBxLog,
          &PnlDownModulo,
          &TBtnConect,
          &LblConect,
          &TBtnFazDownModulo,
          &LblFazDownModulo,
          &TbtnDesconect,
          &LblDesconect,
          &LblGravando,
          &GgDownModulo,
          &STxtDownModulo,
          &BtBtnAbortar,
          &ChkLstBxEmpresas,
          &Label10,
          &Label12,
          &Label11,
          &SrvRemoto1,
          &Label13,
          &SrvRemoto2,
          &Label14,
          &SrvRemoto3,
          &GroupBox2,
          &Label17,
          &EdtProxy_Host,
          &Label18,
          &EdtProxy_Porta,
          &Label19,
          &EdtProxy_Usuario,
          &Label20,
          &EdtProxy_Senha,
          &BtBtnGravaConfig,
          &BitBtn1,
          &RdGrpMetodoFTP,
          &RdGrpModotAtualizacao,
          &PpMnTesteVESTRAMON,
          &AtualizacaoLocal,
          &AtualizarPelaInternet,
          &PMnScript,
          &GerarScript1};
}

}  // namespace korva::form
