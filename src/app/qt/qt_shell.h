#pragma once
// The Shell of the real window: Qt message boxes, the busy pointer, repainting
// the main window, the application's title, closing, ending, the browser.
//
// The application's title is the icon text of the main window (X11's
// _NET_WM_ICON_NAME): the name of its task bar entry and of the minimised
// window, where a Windows task bar button shows the application title
// ("45% KORVA Update" while a file moves). The window's own title stays as the
// start-up set it. An empty message caption shows the application title.
//
// Test hooks, as KeePassXC's GUI tests answer their dialogs: with hooks on,
// every message box is still built and run as a real modal box, but it is
// answered at once from a queue of next answers (its preselected button when
// the queue is empty), and what it showed is recorded; web addresses are
// recorded instead of opened; the save dialog takes the next queued name and
// the print dialog the next queued PDF file (both cancel when none is queued).
// A print that fails is told by Principal like any message.
#include <QMessageBox>
#include <QPointer>
#include <QPrinter>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "form/shell.h"

namespace korva::qt {

class MainWindow;

class QtShell final : public Shell {
 public:
  QtShell() = default;
  ~QtShell() override;
  QtShell(const QtShell&) = delete;
  QtShell& operator=(const QtShell&) = delete;

  // The window that messages belong to and that Repaint paints; the main
  // window attaches itself when it is built.
  void AttachWindow(MainWindow* window);
  MainWindow* Window() const;

  MsgButton ShowMessage(const Message& message) override;
  void Repaint() override;
  void ProcessPendingInput() override;
  void SetBusyCursor(bool busy) override;
  void SetApplicationTitle(const std::string& title) override;
  std::string ApplicationTitle() const override { return applicationTitle_; }
  void CloseMainWindow() override;
  void EndProgram() override;
  void OpenWebAddress(const std::string& address) override;
  std::optional<std::string> AskSaveFileName(const std::string& proposedName,
                                             const std::string& defaultExtension) override;
  PrintOutcome PrintReport(const form::Report& report) override;

  // Paints the report onto a printer already set up (pages, margins). False
  // when the printer refused: it could not be opened (an output file that
  // cannot be written), or a new page or the end of the document failed.
  static bool PaintReport(QPrinter& printer, const form::Report& report);

  // EndProgram was called: the program's start must not go on to the event
  // loop, or leaves it.
  bool EndRequested() const { return endRequested_; }

  // The box that ShowMessage runs for a message.
  static std::unique_ptr<QMessageBox> BuildMessageBox(const Message& message,
                                                      const std::string& applicationTitle,
                                                      QWidget* parent);

  // Test hooks.
  struct ShownMessage {
    Message message;  // as the logic asked for it
    // As the real box showed it.
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    MsgButton answer = kNoButton;
  };
  void EnableTestHooks() { testHooks_ = true; }
  void QueueAnswer(MsgButton answer) { answers_.push_back(answer); }
  // A name typed into the save dialog (nullopt: the operator cancels).
  void QueueSaveName(std::optional<QString> name) { saveNames_.push_back(std::move(name)); }
  // The print dialog accepted with a PDF file as the printer (nullopt: cancelled).
  void QueuePrintToPdf(std::optional<QString> pdfPath) { prints_.push_back(std::move(pdfPath)); }
  const std::vector<ShownMessage>& ShownMessages() const { return shown_; }
  // Runs while a box is on screen, before its queued answer is clicked.
  void WhileMessageShown(std::function<void()> hook) { whileMessageShown_ = std::move(hook); }
  // Runs after every repaint the logic asks for (inside long operations).
  void AfterRepaint(std::function<void()> hook) { afterRepaint_ = std::move(hook); }
  const std::vector<std::string>& OpenedAddresses() const { return opened_; }
  void ClearRecords() {
    shown_.clear();
    opened_.clear();
  }

 private:
  QPointer<MainWindow> window_;
  std::string applicationTitle_;
  bool busy_ = false;
  bool endRequested_ = false;
  bool testHooks_ = false;
  std::deque<MsgButton> answers_;
  std::deque<std::optional<QString>> saveNames_;
  std::deque<std::optional<QString>> prints_;
  std::vector<ShownMessage> shown_;
  std::vector<std::string> opened_;
  std::function<void()> whileMessageShown_;
  std::function<void()> afterRepaint_;
};

}  // namespace korva::qt
