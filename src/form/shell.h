#pragma once
// Everything the logic needs from the window system or the operator. Each
// window implements it (QtShell, Win32Shell) and only draws: the rules both
// follow (the buttons a box lays out, the address handed to the browser, the
// report's pages) are here. Tests use a scripted shell that answers from a
// queue and records every message exactly.
#include <optional>
#include <string>
#include <vector>

#include "form/report.h"

namespace korva {

enum class MsgIcon { None, Information, Question, Warning, Error };

enum MsgButton : unsigned {
  kNoButton = 0,
  kOk = 1u << 0,
  kCancel = 1u << 1,
  kAbort = 1u << 2,
  kRetry = 1u << 3,
  kIgnore = 1u << 4,
  kYes = 1u << 5,
  kNo = 1u << 6,
};

struct Message {
  std::string caption;  // empty: a plain message, captioned with the application title
  std::string text;     // Windows-1252; "\r" is a line break in the box
  MsgIcon icon = MsgIcon::None;
  unsigned buttons = kOk;
  MsgButton defaultButton = kNoButton;  // kNoButton: the first of the buttons
  bool operator==(const Message&) const = default;
};

// The buttons a message box lays out, in the order it lays them out (OK,
// Abort, Yes, Retry, No, Ignore, Cancel), and the one it preselects: the
// message's own when the box has it, else the first. A box without buttons
// could never be closed: it has OK.
struct BoxButtons {
  std::vector<MsgButton> order;
  MsgButton preselected = kOk;
  // What a box closed without a click answers (Escape, the title bar's close
  // button): Cancel where the box has it, else the preselected button.
  MsgButton ClosedAnswer() const;
};
BoxButtons LaidOutButtons(unsigned buttons, MsgButton preferred);

// The address handed to the browser: "http://" in front of one that names no
// scheme.
std::string WebUrl(const std::string& address);

// What became of a print: sent to the printer; the operator cancelled the
// print dialog (nothing printed, nothing to tell); or the printing facility
// failed on the way (the printer refused the document or one of its pages,
// or the report could not be drawn).
enum class PrintOutcome { kPrinted, kCancelled, kFailed };

// What a save dialog makes of a typed name: the default extension appended
// when the name has none ("lista" -> "lista.TXT"; "lista.csv" stays).
std::string WithDefaultExtension(const std::string& name, const std::string& extension);

class Shell {
 public:
  virtual ~Shell() = default;

  // A modal message box; returns the button the operator chose.
  virtual MsgButton ShowMessage(const Message& message) = 0;

  // Mirror every control of the form model that changed into the window and
  // paint it now (the run never returns to the event loop between steps).
  virtual void Repaint() = 0;
  // Handle the window's pending input (the transfer session's wait slices).
  virtual void ProcessPendingInput() = 0;
  virtual void SetBusyCursor(bool busy) = 0;

  // The application's title (task bar), not the window's.
  virtual void SetApplicationTitle(const std::string& title) = 0;
  virtual std::string ApplicationTitle() const = 0;

  // Close the main window (its close and destroy sequences run) and end the
  // program once control returns to the event loop.
  virtual void CloseMainWindow() = 0;
  // End the program without waiting for the event loop's turn.
  virtual void EndProgram() = 0;

  // Default web browser, maximised. A browser that cannot start is not reported.
  virtual void OpenWebAddress(const std::string& address) = 0;

  // The file-save dialog, proposing a name; a name typed without an extension
  // gets the default one. No file-type filter, no question before an existing
  // file is replaced. nullopt when the operator cancels.
  virtual std::optional<std::string> AskSaveFileName(const std::string& proposedName,
                                                     const std::string& defaultExtension) = 0;
  // The print dialog, opened on the default printer with A4 portrait asked
  // for, then the report printed on the printer chosen.
  virtual PrintOutcome PrintReport(const form::Report& report) = 0;
};

}  // namespace korva
