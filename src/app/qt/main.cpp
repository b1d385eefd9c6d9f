// korvaupdate: the program's start. The build of our own executable names the
// window; a second copy finds the first by that window and ends; otherwise
// the window is created (its start-up sequence runs), shown, and served until
// it closes, and its destruction runs last.
#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <memory>

#include "app/program_start.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_shell.h"
#include "app/single_instance_guard.h"
#include "platform/termination_requests.h"
#include "platform/window_registry.h"

namespace {

// The event loop's watch on a handle of the platform.
std::unique_ptr<QSocketNotifier> Notifier(korva::platform::NativeHandle handle) {
  return std::make_unique<QSocketNotifier>(static_cast<qintptr>(handle.Value()),
                                           QSocketNotifier::Read);
}

// A termination request (logout, shutdown, kill) closes the window like the
// operator does, so the close and destroy sequences run: protected mode must
// not outlive the session. The Firebird client library catches these signals
// for itself and would otherwise leave the program running.
struct TerminationWatch {
  korva::platform::TerminationRequests requests;
  std::unique_ptr<QSocketNotifier> notifier;
};

std::unique_ptr<TerminationWatch> CloseOnTerminationRequests(QWidget& window) {
  auto watch = std::make_unique<TerminationWatch>();
  if (!watch->requests.IsWatching()) return nullptr;
  watch->notifier = Notifier(watch->requests.NotificationHandle());
  QObject::connect(watch->notifier.get(), &QSocketNotifier::activated, &window,
                   [&window, requests = &watch->requests] {
                     if (requests->TakeRequests()) window.close();
                   });
  return watch;
}

int Run(QApplication& app) {
  korva::qt::QtShell shell;
  int exitCode = 0;
  const auto program = korva::StartProgram(shell, exitCode);
  if (!program) return exitCode;
  korva::qt::MainWindow window(program->form, program->principal, shell);

  // Registered before the start-up sequence runs, as a window exists from its
  // creation on: a copy started meanwhile finds it.
  korva::platform::RegisteredWindow registration(korva::kMainWindowClass, program->mainTitle);
  std::unique_ptr<QSocketNotifier> closeRequests;
  if (registration.IsRegistered()) {
    closeRequests = Notifier(registration.NotificationHandle());
    QObject::connect(closeRequests.get(), &QSocketNotifier::activated, &window,
                     [&] { registration.ServeRequests([&] { window.close(); }); });
  }

  if (!program->Create()) return 1;
  // After the start-up: the database client installs its own handlers when
  // it first connects.
  const auto terminationRequests = CloseOnTerminationRequests(window);
  int status = 0;
  if (!shell.EndRequested()) {
    window.show();
    if (!shell.EndRequested()) status = app.exec();
  }
  program->Destroy();
  return korva::Program::ExitStatus(status);
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
