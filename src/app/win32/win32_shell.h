#pragma once
// The Shell of the Windows window: message boxes (MessageBoxW), the busy
// cursor, repainting the main window, the application's title, closing,
// ending, the browser, the save dialog (GetSaveFileNameW) and printing
// through the print dialog (A4 portrait asked for) and GDI.
//
// The application's title captions the message boxes that name no caption of
// their own; the task bar shows the main window's title.
#include <string>

#include "form/shell.h"
#include "platform/windows/win32_api.h"

namespace korva::win32 {

class MainWindow;

class Win32Shell final : public Shell {
 public:
  Win32Shell() = default;
  Win32Shell(const Win32Shell&) = delete;
  Win32Shell& operator=(const Win32Shell&) = delete;

  // The window that messages belong to and that Repaint paints; the main
  // window attaches itself when it is made.
  void AttachWindow(MainWindow* window) { window_ = window; }
  MainWindow* Window() const { return window_; }
  bool Busy() const { return busy_; }

  MsgButton ShowMessage(const Message& message) override;
  void Repaint() override;
  void ProcessPendingInput() override;
  void SetBusyCursor(bool busy) override;
  void SetApplicationTitle(const std::string& title) override { applicationTitle_ = title; }
  std::string ApplicationTitle() const override { return applicationTitle_; }
  void CloseMainWindow() override;
  void EndProgram() override;
  void OpenWebAddress(const std::string& address) override;
  std::optional<std::string> AskSaveFileName(const std::string& proposedName,
                                             const std::string& defaultExtension) override;
  PrintOutcome PrintReport(const form::Report& report) override;

  // Where the pages of a report are drawn: the pages of a printer's
  // document, or (for a look at them) one picture per page.
  class PageTarget {
   public:
    // The device context of a new page; nullptr when the page is refused.
    virtual HDC StartPage() = 0;
    // False when the finished page is refused.
    virtual bool EndPage() = 0;

   protected:
    ~PageTarget() = default;
  };

  // Prints the report on a printer's device context as one document named
  // as the report says (StartDocW, its pages, EndDoc). False when the
  // printer refuses the document, a page or its end; a document refused
  // half-way is abandoned (AbortDoc).
  static bool PrintDocument(HDC printer, const form::Report& report);

  // Draws the report onto pages: millimetres from the top-left corner of the
  // area inside the report's margins, the list going on at the top of the
  // next page when it reaches the bottom of one. False when a page is
  // refused.
  static bool PaintReport(PageTarget& pages, const form::Report& report);

  // MessageBoxW's style for a message: icon, buttons and preselected button.
  static UINT MessageBoxStyle(const Message& message);

  // EndProgram was called: the program's start must not go on to the message
  // loop, or leaves it.
  bool EndRequested() const { return endRequested_; }

 private:
  HWND Owner() const;

  MainWindow* window_ = nullptr;
  std::string applicationTitle_;
  bool busy_ = false;
  bool endRequested_ = false;
};

}  // namespace korva::win32
