// korvaupdate: the program's start. The build of our own executable names the
// window; a second copy finds the first by that window and ends; otherwise
// the window is created (its start-up sequence runs), shown, and served until
// it closes, and its destruction runs last.
#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <exception>
#include <memory>

#include "app/principal.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_shell.h"
#include "app/single_instance_guard.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/window_registry.h"
#include "vendor/vendor_library.h"

namespace {

using korva::Message;
using korva::MsgIcon;

// A termination request (logout, shutdown, kill) closes the window like the
// operator does, so the close and destroy sequences run: protected mode must
// not outlive the session. The Firebird client library catches these signals
// for itself and would otherwise leave the program running.
int terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(terminationPipe[1], &byte, 1);
}

std::unique_ptr<QSocketNotifier> CloseOnTerminationSignals(QWidget& window) {
  if (::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  auto notifier = std::make_unique<QSocketNotifier>(terminationPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&window] {
    char buffer[64];
    while (::read(terminationPipe[0], buffer, sizeof buffer) > 0) {
    }
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  return notifier;
}

int Run(QApplication& app) {
  korva::qt::QtShell shell;
  shell.SetApplicationTitle(korva::form::FormModel::kApplicationTitle);

  std::string build;
  try {
    build = korva::vendor::GetBuildInfo(korva::platform::ExecutablePath(), "BUILD");
  } catch (const std::exception& e) {
    shell.ShowMessage(Message{"", e.what(), MsgIcon::Error, korva::kOk, korva::kOk});
    return 1;
  }
  const std::string mainTitle = korva::form::FormModel::ComposeMainTitle(build);

  if (korva::SingleInstanceGuard(shell, mainTitle) == korva::StartDecision::End) return 0;

  korva::form::FormModel form;
  korva::platform::SystemClock clock;
  korva::Principal principal(form, shell, clock);
  korva::qt::MainWindow window(form, principal, shell);

  // Registered before the start-up sequence runs, as a window exists from its
  // creation on: a copy started meanwhile finds it.
  korva::platform::RegisteredWindow registration(korva::kMainWindowClass, mainTitle);
  std::unique_ptr<QSocketNotifier> closeRequests;
  if (registration.IsRegistered()) {
    closeRequests =
        std::make_unique<QSocketNotifier>(registration.NotificationHandle(), QSocketNotifier::Read);
    QObject::connect(closeRequests.get(), &QSocketNotifier::activated, &window,
                     [&] { registration.ServeRequests([&] { window.close(); }); });
  }

  try {
    principal.FormCreate();
  } catch (const std::exception& e) {
    principal.ShowError(e.what());
    return 1;
  }
  // After the start-up: the database client installs its own handlers when
  // it first connects.
  const auto terminationRequests = CloseOnTerminationSignals(window);
  int status = 0;
  if (!shell.EndRequested()) {
    window.show();
    if (!shell.EndRequested()) status = app.exec();
  }
  try {
    principal.FormDestroy();
  } catch (const std::exception& e) {
    principal.ShowError(e.what());
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Decimal separator, time format and dates follow the operator's locale.
  std::setlocale(LC_ALL, "");
  // The window system's class of our windows (X11 WM_CLASS).
  QCoreApplication::setApplicationName(QString::fromLatin1(korva::qt::MainWindow::kWindowClass));
  QApplication::setQuitOnLastWindowClosed(true);
  return Run(app);
}
