#include "app/qt/qt_shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "app/qt/main_window.h"
#include "app/qt/qt_text.h"

namespace korva::qt {
namespace {

struct ButtonPair {
  MsgButton ours;
  QMessageBox::StandardButton qt;
};
// In the order a message box lays them out: the first one present is the
// preselected button when the message names none.
constexpr ButtonPair kButtons[] = {
    {kOk, QMessageBox::Ok},         {kAbort, QMessageBox::Abort}, {kYes, QMessageBox::Yes},
    {kRetry, QMessageBox::Retry},   {kNo, QMessageBox::No},       {kIgnore, QMessageBox::Ignore},
    {kCancel, QMessageBox::Cancel},
};

QMessageBox::StandardButton ToQt(MsgButton button) {
  for (const auto& pair : kButtons) {
    if (pair.ours == button) return pair.qt;
  }
  return QMessageBox::NoButton;
}

MsgButton FromQt(QMessageBox::StandardButton button) {
  for (const auto& pair : kButtons) {
    if (pair.qt == button) return pair.ours;
  }
  return kNoButton;
}

QMessageBox::Icon ToQt(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::Question:
      return QMessageBox::Question;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Error:
      return QMessageBox::Critical;
    case MsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QtShell::~QtShell() {
  if (busy_) QGuiApplication::restoreOverrideCursor();
}

void QtShell::AttachWindow(MainWindow* window) {
  window_ = window;
  if (window_) window_->setWindowIconText(ToQString(applicationTitle_));
}

MainWindow* QtShell::Window() const {
  return window_.data();
}

std::unique_ptr<QMessageBox> QtShell::BuildMessageBox(const Message& message,
                                                      const std::string& applicationTitle,
                                                      QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(ToQString(message.caption.empty() ? applicationTitle : message.caption));
  box->setTextFormat(Qt::PlainText);
  box->setText(ToMultiLine(message.text));
  box->setIcon(ToQt(message.icon));
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton first = QMessageBox::NoButton;
  for (const auto& pair : kButtons) {
    if (!(message.buttons & pair.ours)) continue;
    buttons |= pair.qt;
    if (first == QMessageBox::NoButton) first = pair.qt;
  }
  if (buttons == QMessageBox::NoButton) {
    // A box without buttons could never be closed.
    buttons = QMessageBox::Ok;
    first = QMessageBox::Ok;
  }
  box->setStandardButtons(buttons);
  const QMessageBox::StandardButton preselected = ToQt(message.defaultButton);
  box->setDefaultButton((buttons & preselected) ? preselected : first);
  return box;
}

MsgButton QtShell::ShowMessage(const Message& message) {
  QWidget* parent = window_ && window_->isVisible() ? window_.data() : nullptr;
  std::unique_ptr<QMessageBox> box = BuildMessageBox(message, applicationTitle_, parent);
  ShownMessage shown;
  if (testHooks_) {
    shown.message = message;
    shown.caption = box->windowTitle();
    shown.text = box->text();
    shown.icon = box->icon();
    shown.buttons = box->standardButtons();
    shown.defaultButton = box->standardButton(box->defaultButton());
    QMessageBox::StandardButton answer = shown.defaultButton;
    if (!answers_.empty()) {
      answer = ToQt(answers_.front());
      answers_.pop_front();
    }
    // The operator's click, once the box runs modally.
    QMessageBox* running = box.get();
    QTimer::singleShot(0, running, [running, answer] {
      if (QAbstractButton* button = running->button(answer)) {
        button->click();
      } else {
        running->reject();
      }
    });
  }
  box->exec();
  MsgButton answer = FromQt(box->standardButton(box->clickedButton()));
  if (answer == kNoButton) {
    answer =
        (message.buttons & kCancel) ? kCancel : FromQt(box->standardButton(box->defaultButton()));
  }
  if (testHooks_) {
    shown.answer = answer;
    shown_.push_back(shown);
  }
  return answer;
}

void QtShell::Repaint() {
  if (window_) window_->RepaintNow();
}

void QtShell::ProcessPendingInput() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtShell::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
}

void QtShell::SetApplicationTitle(const std::string& title) {
  applicationTitle_ = title;
  if (window_) window_->setWindowIconText(ToQString(title));
}

void QtShell::CloseMainWindow() {
  if (window_) {
    window_->close();
  } else {
    QCoreApplication::quit();
  }
}

void QtShell::EndProgram() {
  endRequested_ = true;
  if (window_) window_->hide();
  QCoreApplication::exit(0);
}

std::string QtShell::WebUrl(const std::string& address) {
  if (address.find("://") != std::string::npos) return address;
  return "http://" + address;
}

void QtShell::OpenWebAddress(const std::string& address) {
  const std::string url = WebUrl(address);
  if (testHooks_) {
    opened_.push_back(url);
    return;
  }
  // A browser that cannot start is not reported.
  QDesktopServices::openUrl(QUrl(ToQString(url)));
}

}  // namespace korva::qt
