// Saves a picture of every page of the real window as a real update run
// leaves it: korva_window_screenshots FOLDER. A real site and a local update
// server holding the demo's catalogue, packages and modules; the run is
// clicked through as an operator would (message boxes answered through the
// shell's test hooks), and each page is pictured when the run shows it.
// Under a real X server (scripts/screenshots runs Xvfb with a window manager)
// each picture is what the screen shows of the window, frame, title and any
// box over it included; on the offscreen platform it is the window's drawing.
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <clocale>
#include <cstdio>
#include <filesystem>

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

  // The update server, slowed down so that a module download can be seen.
  korva::testing::FtpServer server(korva::testing::FtpServerKind::Pyftpdlib, {"rate=2000000"});
  std::string output;
  if (korva::testing::RunCommand({KORVA_SOURCE_DIR "/tests/fixtures/build-update-server",
                                  server.Path("/"), "--module-size=4000000"},
                                 output) != 0) {
    std::fprintf(stderr, "build-update-server failed:\n%s", output.c_str());
    return 1;
  }
  korva::testing::TempDir siteFolder, branchFolder;
  const std::string branch = branchFolder.File("filial1");
  std::filesystem::create_directories(branch);
  const korva::testing::Site site = korva::testing::BuildSite(
      siteFolder.Path(),
      korva::testing::SiteOptions{"EMPRESA",
                                  "FDB",
                                  {"--passive", "--client-id=12345678000190",
                                   "--ftp-server=127.0.0.1:" + std::to_string(server.Port()),
                                   "--branch=" + branch, "--app-module=EFIN.EXE=2.1.7",
                                   "--app-module=EEST.EXE=2.0.3", "--app-module=EADM.EXE=1.9.12"},
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
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "the window was never shown\n");
    return 1;
  }
  Settle();

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
  auto page = [&](int n, korva::form::TextControl& shown) {
    save(QStringLiteral("%1-%2").arg(n).arg(QString::fromLatin1(shown.Name().c_str())),
         window.frameGeometry());
  };

  // The test menu, opened from its hot area, over the first page.
  QWidget* hotArea = window.WidgetOf("LblTipoTeste");
  QTest::mouseClick(hotArea, Qt::RightButton, {}, hotArea->rect().center());
  Settle();
  auto* menu = static_cast<QMenu*>(window.WidgetOf("PpMnTesteVESTRAMON"));
  save(QStringLiteral("6-PpMnTesteVESTRAMON"), window.frameGeometry().united(menu->geometry()));
  menu->hide();
  Settle();
  page(1, form.TbShtInicio);

  // The configuration page as the settings file fills it, and back.
  principal.BtBtnConfigClick();
  shell.Repaint();
  Settle();
  page(5, form.TbShtConfig);
  principal.BitBtn1Click();

  principal.BtBtnNovasAtualizacoesClick();
  Settle();
  page(2, form.TbShtVerificaAtualizacoes);
  principal.BtbtnIniciarAtualizacaoClick();
  Settle();
  page(3, form.TbShtBackup);

  // The log page while a module package arrives, and the run's last word.
  bool downloadShown = false;
  shell.AfterRepaint([&] {
    const int percent = form.GgDownModulo.Percent();
    if (downloadShown || !form.PnlDownModulo.Visible() || percent < 30 || percent > 70) return;
    downloadShown = true;
    page(4, form.TbShtLog);
  });
  shell.WhileMessageShown([&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box && !QTest::qWaitForWindowExposed(box))
      std::fprintf(stderr, "the box was never shown\n");
    Settle();
    save(QStringLiteral("7-Sucesso"), window.frameGeometry());
  });
  form.RGBackup.SetItemIndex(0);
  principal.BtBtnContinuarClick();
  if (!downloadShown) {
    std::fprintf(stderr, "no module download was seen on the log page\n");
    ++failures;
  }

  std::printf("client area %dx%d\n", window.width(), window.height());
  principal.FormClose();
  return failures == 0 ? 0 : 1;
}
