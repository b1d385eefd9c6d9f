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

// The update server, slowed down so that a module download can be seen,
// holding the demo's catalogue, packages and modules; false when they could
// not be made.
bool FillUpdateServer(korva::testing::FtpServer& server) {
  std::string output;
  if (korva::testing::RunCommand({KORVA_SOURCE_DIR "/tests/fixtures/build-update-server",
                                  server.Path("/"), "--module-size=4000000"},
                                 output) != 0) {
    std::fprintf(stderr, "build-update-server failed:\n%s", output.c_str());
    return false;
  }
  return true;
}

// A site of the main edition with three modules and one branch, updated from
// the server; the program runs as if from its folder.
void BuildDemoSite(const korva::testing::FtpServer& server, korva::testing::TempDir& siteFolder,
                   korva::testing::TempDir& branchFolder) {
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
}

// The real window over the site, shown, its pictures saved into one folder.
struct Demo {
  explicit Demo(const QDir& folder) : folder(folder) {
    shell.EnableTestHooks();
    shell.SetApplicationTitle(FormModel::kApplicationTitle);
    principal.FormCreate();
  }

  void Save(const QString& name, const QRect& area) {
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    if (!Grab(window, area).save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failures;
      return;
    }
    std::printf("%s\n", qPrintable(path));
  }
  void Page(int n, const korva::form::TextControl& shown) {
    Save(QStringLiteral("%1-%2").arg(n).arg(QString::fromLatin1(shown.Name().c_str())),
         window.frameGeometry());
  }

  QDir folder;
  int failures = 0;
  korva::qt::QtShell shell;
  FormModel form;
  korva::platform::SystemClock clock;
  korva::Principal principal{form, shell, clock};
  korva::qt::MainWindow window{form, principal, shell};
};

// The test menu over the first page, the configuration page as the settings
// file fills it, the pending updates and the backup page.
void PictureThePagesBeforeTheRun(Demo& demo) {
  QWidget* hotArea = demo.window.WidgetOf("LblTipoTeste");
  QTest::mouseClick(hotArea, Qt::RightButton, {}, hotArea->rect().center());
  Settle();
  auto* menu = static_cast<QMenu*>(demo.window.WidgetOf("PpMnTesteVESTRAMON"));
  demo.Save(QStringLiteral("6-PpMnTesteVESTRAMON"),
            demo.window.frameGeometry().united(menu->geometry()));
  menu->hide();
  Settle();
  demo.Page(1, demo.form.TbShtInicio);

  demo.principal.BtBtnConfigClick();
  demo.shell.Repaint();
  Settle();
  demo.Page(5, demo.form.TbShtConfig);
  demo.principal.BitBtn1Click();

  demo.principal.BtBtnNovasAtualizacoesClick();
  Settle();
  demo.Page(2, demo.form.TbShtVerificaAtualizacoes);
  demo.principal.BtbtnIniciarAtualizacaoClick();
  Settle();
  demo.Page(3, demo.form.TbShtBackup);
}

// The log page while a module package arrives, and the run's last word.
void PictureTheRun(Demo& demo) {
  bool downloadShown = false;
  demo.shell.AfterRepaint([&] {
    const int percent = demo.form.GgDownModulo.Percent();
    if (downloadShown || !demo.form.PnlDownModulo.Visible() || percent < 30 || percent > 70) return;
    downloadShown = true;
    demo.Page(4, demo.form.TbShtLog);
  });
  demo.shell.WhileMessageShown([&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box && !QTest::qWaitForWindowExposed(box))
      std::fprintf(stderr, "the box was never shown\n");
    Settle();
    demo.Save(QStringLiteral("7-Sucesso"), demo.window.frameGeometry());
  });
  demo.form.RGBackup.SetItemIndex(0);
  demo.principal.BtBtnContinuarClick();
  if (!downloadShown) {
    std::fprintf(stderr, "no module download was seen on the log page\n");
    ++demo.failures;
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

  korva::testing::FtpServer server(korva::testing::FtpServerKind::Pyftpdlib, {"rate=2000000"});
  if (!FillUpdateServer(server)) return 1;
  korva::testing::TempDir siteFolder, branchFolder;
  BuildDemoSite(server, siteFolder, branchFolder);

  Demo demo(folder);
  demo.window.show();
  if (!QTest::qWaitForWindowExposed(&demo.window)) {
    std::fprintf(stderr, "the window was never shown\n");
    return 1;
  }
  Settle();
  PictureThePagesBeforeTheRun(demo);
  PictureTheRun(demo);

  std::printf("client area %dx%d\n", demo.window.width(), demo.window.height());
  demo.principal.FormClose();
  return demo.failures == 0 ? 0 : 1;
}
