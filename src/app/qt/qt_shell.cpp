#include "app/qt/qt_shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPushButton>
#include <QTextLayout>
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
  const BoxButtons laid = LaidOutButtons(message.buttons, message.defaultButton);
  QMessageBox::StandardButtons buttons;
  for (MsgButton button : laid.order) buttons |= ToQt(button);
  box->setStandardButtons(buttons);
  box->setDefaultButton(ToQt(laid.preselected));
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
    QTimer::singleShot(0, running, [this, running, answer] {
      if (whileMessageShown_) whileMessageShown_();
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
    answer = LaidOutButtons(message.buttons, message.defaultButton).ClosedAnswer();
  }
  if (testHooks_) {
    shown.answer = answer;
    shown_.push_back(shown);
  }
  return answer;
}

void QtShell::Repaint() {
  if (window_) window_->RepaintNow();
  if (afterRepaint_) afterRepaint_();
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

void QtShell::OpenWebAddress(const std::string& address) {
  const std::string url = WebUrl(address);
  if (testHooks_) {
    opened_.push_back(url);
    return;
  }
  // A browser that cannot start is not reported.
  QDesktopServices::openUrl(QUrl(ToQString(url)));
}

std::optional<std::string> QtShell::AskSaveFileName(const std::string& proposedName,
                                                    const std::string& defaultExtension) {
  QWidget* parent = window_ && window_->isVisible() ? window_.data() : nullptr;
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setDefaultSuffix(ToQString(defaultExtension));
  dialog.selectFile(ToQString(proposedName));
  if (testHooks_) {
    std::optional<QString> typed;
    if (!saveNames_.empty()) {
      typed = saveNames_.front();
      saveNames_.pop_front();
    }
    QTimer::singleShot(0, &dialog, [&dialog, typed] {
      if (!typed) {
        dialog.reject();
        return;
      }
      dialog.selectFile(*typed);
      // As the operator's "Save": the dialog's own accept (a protected slot)
      // applies the default suffix.
      QMetaObject::invokeMethod(&dialog, "accept", Qt::DirectConnection);
    });
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  // A path is handed to the file system as the local encoding's bytes.
  const std::string path = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
  return WithDefaultExtension(path, defaultExtension);
}

namespace {

QFont ReportFontOf(const form::ReportFont& f) {
  QFont font(QString::fromLatin1(f.family.c_str()));
  font.setPointSize(f.pointSize);
  font.setBold(f.bold);
  font.setUnderline(f.underline);
  return font;
}

}  // namespace

namespace {

// The list's line broken at word boundaries to the list's width.
std::vector<QTextLine> WrappedLines(QTextLayout& layout, double width) {
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  std::vector<QTextLine> lines;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    lines.push_back(line);
  }
  layout.endLayout();
  return lines;
}

}  // namespace

bool QtShell::PaintReport(QPrinter& printer, const form::Report& report) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  // Millimetres from the top-left corner of the printable area.
  const double dotsPerMm = printer.resolution() / 25.4;
  const auto toDots = [dotsPerMm](const form::ReportBox& b) {
    return QRectF(b.left * dotsPerMm, b.top * dotsPerMm, b.width * dotsPerMm, b.height * dotsPerMm);
  };
  painter.setPen(Qt::black);
  for (const form::ReportText& item : report.header) {
    painter.setFont(ReportFontOf(item.font));
    painter.drawText(toDots(item.box), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                     ToQString(item.text));
  }

  const QFont listFont = ReportFontOf(report.listFont);
  painter.setFont(listFont);
  const QRectF list = toDots(report.listBox);
  form::ListFlow flow(list.top(), 0, report.PrintableHeight() * dotsPerMm);
  for (const std::string& text : report.lines) {
    QTextLayout layout(ToQString(text), listFont, &printer);
    double lineTop = 0;
    for (QTextLine& line : WrappedLines(layout, list.width())) {
      const form::ListFlow::Place place = flow.Next(line.height());
      if (place.newPage && !printer.newPage()) return false;
      line.setPosition(QPointF(0, lineTop));
      line.draw(&painter, QPointF(list.left(), place.top - lineTop));
      lineTop += line.height();
    }
  }
  return painter.end();
}

PrintOutcome QtShell::PrintReport(const form::Report& report) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(ToQString(report.documentName));
  printer.setPageLayout(QPageLayout(
      QPageSize(QSizeF(report.pageWidth, report.pageHeight), QPageSize::Millimeter),
      QPageLayout::Portrait, QMarginsF(report.margin, report.margin, report.margin, report.margin),
      QPageLayout::Millimeter));
  QWidget* parent = window_ && window_->isVisible() ? window_.data() : nullptr;
  std::optional<QString> pdf;
  if (testHooks_ && !prints_.empty()) {
    pdf = prints_.front();
    prints_.pop_front();
  }
  // The dialog takes the printer's settings when it is built.
  if (pdf) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(*pdf);
  }
  QPrintDialog dialog(&printer, parent);
  if (testHooks_) {
    QTimer::singleShot(0, &dialog, [&dialog, pdf] {
      if (pdf) {
        dialog.accept();
      } else {
        dialog.reject();
      }
    });
  }
  if (dialog.exec() != QDialog::Accepted) return PrintOutcome::kCancelled;
  return PaintReport(printer, report) ? PrintOutcome::kPrinted : PrintOutcome::kFailed;
}

}  // namespace korva::qt
