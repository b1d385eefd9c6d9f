// Saves a picture of every page of the real window: korva_window_screenshots
// FOLDER. The pending list comes from a real check against a local update
// server holding the demo catalogue; the other pages show values a run puts
// there.
// Under a real X server (scripts/screenshots runs Xvfb with a window manager)
// each picture is what the screen shows of the window, frame and title
// included; on the offscreen platform it is the window's own drawing.
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <clocale>
#include <cstdio>

#include "app/principal.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_shell.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/ftp_server.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"

namespace {

using korva::form::FormModel;
using korva::form::StepIndicator;

// What a check and a run put on the pages; the title and the status bar come
// from the real start-up against a demo site.
void FillSampleSite(FormModel& f) {
  f.PnlDownload.SetVisible(true);
  f.TBtnConectando.SetImage(StepIndicator::Image::Done);
  f.TBtnVerificando.SetImage(StepIndicator::Image::Transfer);
  f.TBtnDesconectando.SetImage(StepIndicator::Image::Disconnect);
  f.GaugeDownload.SetMaxValue(20480);
  f.GaugeDownload.SetProgress(9216);
  f.STxtKBPS.SetText("12,34 KB/s");

  f.StTxtNumUsers.SetText("2");
  f.StTxtUsuariosConectados.SetText("3");
  f.MmComputadoresConectados.SetLines({"CAIXA-01", "ESCRITÓRIO", "GERÊNCIA"});

  for (const char* line :
       {"Fechando o KORVA - Backup", "Download do pacote da versão 3.1.10",
        "Aplicando grupo 12 de 12 no banco de usuários", "Download do pacote da versão 3.17.3",
        "Aplicando grupo 40 de 40 no banco de dados", "Download do pacote da versão 3.17.4",
        "Aplicando grupo 7 de 31 no banco de dados"}) {
    f.ChkLBxLog.Add(line);
  }
  for (int i = 0; i + 1 < f.ChkLBxLog.Count(); ++i) f.ChkLBxLog.SetChecked(i, true);
  f.ChkLBxLog.SetSelectedIndex(f.ChkLBxLog.Count() - 1);
  f.PnlDownModulo.SetVisible(true);
  f.TBtnConect.SetImage(StepIndicator::Image::Done);
  f.TBtnFazDownModulo.SetImage(StepIndicator::Image::Transfer);
  f.TbtnDesconect.SetImage(StepIndicator::Image::Connect);
  f.LblGravando.SetText("Gravando em: \\\\FILIAL1\\KORVA\\EMPRESA");
  f.GgDownModulo.SetMaxValue(20480);
  f.GgDownModulo.SetProgress(9216);
  f.STxtDownModulo.SetText("12,34 KB/s");
  f.ChkLstBxEmpresas.SetVisible(true);
  for (const char* line : {"Local    [OK]", "Filial 1   [OK]", "Filial 2   [OK]"}) {
    f.ChkLstBxEmpresas.Add(line);
    f.ChkLstBxEmpresas.SetChecked(f.ChkLstBxEmpresas.Count() - 1, true);
  }

  f.SrvRemoto1.SetText("\\\\FILIAL1\\KORVA\\EMPRESA");
  f.SrvRemoto2.SetText("\\\\192.168.10.20\\KORVA\\EMPRESA");
  f.EdtProxy_Host.SetText("proxy.escritório.local");
  f.EdtProxy_Porta.SetText("3128");
  f.EdtProxy_Usuario.SetText("joão");
  f.EdtProxy_Senha.SetText("segredo");
  f.RdGrpMetodoFTP.SetItemIndex(1);
}

// What the screen shows of the window and anything open over it.
QPixmap Grab(QWidget& window, const QRect& area) {
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    return window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  }
  return window.grab();
}

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::processEvents();
    QTest::qWait(60);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(folder.path())) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }

  // A real site and update server, so the window starts and checks as it
  // does at a client.
  korva::testing::FtpServer server(korva::testing::FtpServerKind::Pyftpdlib);
  std::string output;
  if (korva::testing::RunCommand({KORVA_SOURCE_DIR "/tests/fixtures/build-update-server",
                                  server.Path("/")},
                                 output) != 0) {
    std::fprintf(stderr, "build-update-server failed:\n%s", output.c_str());
    return 1;
  }
  korva::testing::TempDir siteFolder;
  const korva::testing::Site site = korva::testing::BuildSite(
      siteFolder.Path(),
      korva::testing::SiteOptions{"EMPRESA",
                                  "FDB",
                                  {"--passive", "--client-id=12345678000190",
                                   "--ftp-server=127.0.0.1:" + std::to_string(server.Port()),
                                   "--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3"},
                                  true});
  korva::platform::OverrideExecutablePath(korva::platform::JoinPath(site.folder, "korvaupdate"));

  korva::qt::QtShell shell;
  shell.EnableTestHooks();
  shell.SetApplicationTitle(FormModel::kApplicationTitle);
  FormModel form;
  korva::platform::SystemClock clock;
  korva::Principal principal(form, shell, clock);
  korva::qt::MainWindow window(form, principal, shell);
  principal.FormCreate();
  FillSampleSite(form);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "the window was never shown\n");
    return 1;
  }
  Settle();
  // The check ends on the pending page; the pictures below go page by page.
  principal.BtBtnNovasAtualizacoesClick();

  int failures = 0;
  auto save = [&](const QString& name, const QRect& area) {
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    if (!Grab(window, area).save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failures;
      return;
    }
    std::printf("%s\n", qPrintable(path));
  };

  int n = 1;
  for (korva::form::TextControl* page : form.Pages()) {
    form.ShowPage(*page);
    shell.Repaint();
    Settle();
    save(QStringLiteral("%1-%2").arg(n++).arg(QString::fromLatin1(page->Name().c_str())),
         window.frameGeometry());
  }

  // The test menu, opened from its hot area, over the first page.
  form.ShowPage(form.TbShtInicio);
  shell.Repaint();
  QWidget* hotArea = window.WidgetOf("LblTipoTeste");
  QTest::mouseClick(hotArea, Qt::RightButton, {}, hotArea->rect().center());
  Settle();
  auto* menu = static_cast<QMenu*>(window.WidgetOf("PpMnTesteVESTRAMON"));
  save(QStringLiteral("%1-PpMnTesteVESTRAMON").arg(n++),
       window.frameGeometry().united(menu->geometry()));
  menu->hide();

  std::printf("client area %dx%d\n", window.width(), window.height());
  principal.FormClose();
  return failures == 0 ? 0 : 1;
}
