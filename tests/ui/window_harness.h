#pragma once
// The real main window over a form model and Principal, with QtShell's test
// hooks on, for GoogleTest cases that click through it on the offscreen
// platform. KORVA_UI_TEST_MAIN gives the test program its QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <functional>

#include "app/principal.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_shell.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"

namespace korva::testing {

// One real site for the whole test program: the window's start-up and show
// sequences read its databases, as they do at a client.
class WindowSite {
 public:
  WindowSite() {
    static TempDir folder;
    static const Site site = BuildSite(folder.Path(), SiteOptions{"EMPRESA", "FDB", {}, true});
    platform::OverrideExecutablePath(platform::JoinPath(site.folder, "korvaupdate"));
  }
};

struct WindowHarness {
  WindowHarness() {
    shell.EnableTestHooks();
    shell.SetApplicationTitle(form::FormModel::kApplicationTitle);
    principal.FormCreate();
  }
  ~WindowHarness() { principal.FormClose(); }

  // Shows the window (its show sequence runs) and waits until it is on screen.
  bool Show() {
    window.show();
    return QTest::qWaitForWindowExposed(&window);
  }

  template <typename W = QWidget>
  W* Find(const char* name) {
    return window.findChild<W*>(QString::fromLatin1(name));
  }

  // Shows a page as the logic would, mirrored and painted.
  void ShowPage(form::TextControl& page) {
    form.ShowPage(page);
    shell.Repaint();
  }

  WindowSite site;
  qt::QtShell shell;
  form::FormModel form;
  platform::SystemClock clock;
  Principal principal{form, shell, clock};
  qt::MainWindow window{form, principal, shell};
};

// Expected window texts: sources compile narrow literals to Windows-1252, so
// texts with accents are written as UTF-16 literals.
inline QString Utf16(const char16_t* text) {
  return QString::fromUtf16(text);
}

// Processes events until the condition holds or the time is up. The bound
// only ends the wait for what never happens: a loaded machine may take seconds.
inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(10);
  }
  return true;
}

}  // namespace korva::testing

#define KORVA_UI_TEST_MAIN()                        \
  int main(int argc, char** argv) {                 \
    QApplication app(argc, argv);                   \
    QApplication::setQuitOnLastWindowClosed(false); \
    ::testing::InitGoogleTest(&argc, argv);         \
    return RUN_ALL_TESTS();                         \
  }
