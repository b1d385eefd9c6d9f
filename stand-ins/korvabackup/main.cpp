// Our own build of the KORVA system's backup program: a window of class
// TFrmKorvaBackup titled "KORVA - Backup" that closes, and so ends the
// program, when another program asks it to (the updater does before it
// changes a database, and starts it again when it ends).
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>

#include "platform/window_registry.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("KORVA - Backup"));
  window.setCentralWidget(new QLabel(QStringLiteral("Backup automático do banco de dados KORVA")));
  window.resize(360, 120);

  auto registration =
      std::make_unique<korva::platform::RegisteredWindow>("TFrmKorvaBackup", "KORVA - Backup");
  std::unique_ptr<QSocketNotifier> notifier;
  if (registration->IsRegistered()) {
    notifier = std::make_unique<QSocketNotifier>(
        static_cast<qintptr>(registration->NotificationHandle().Value()), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&] {
      registration->ServeRequests([&] {
        window.close();
        // Gone from the registry before the sender hears back, as a closed
        // window is: whoever looks next must not find it.
        notifier->setEnabled(false);
        registration.reset();
      });
    });
  } else {
    std::fprintf(stderr, "KORVABACKUP: %s\n", registration->RegistrationError().c_str());
  }

  window.show();
  return app.exec();
}
