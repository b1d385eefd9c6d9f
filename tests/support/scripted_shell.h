#pragma once
// A Shell for tests: answers message boxes from a queue, records every message
// exactly, counts repaints and input-processing slices.
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "form/shell.h"
#include "text/cp1252.h"

namespace korva {
// A message as a failed assertion shows it: caption and text, readable.
inline void PrintTo(const Message& m, std::ostream* os) {
  *os << "{\"" << text::ToUtf8(m.caption) << "\", \"" << text::ToUtf8(m.text) << "\", icon "
      << static_cast<int>(m.icon) << ", buttons " << m.buttons << "}";
}
}  // namespace korva

namespace korva::testing {

class ScriptedShell : public Shell {
 public:
  // Answers given in order; with the queue empty a message is answered with
  // its default button (or the first of its buttons).
  void QueueAnswer(MsgButton answer) { answers_.push_back(answer); }

  MsgButton ShowMessage(const Message& message) override;
  void Repaint() override {
    ++repaints;
    if (onRepaint) onRepaint();
  }
  void ProcessPendingInput() override;
  void SetBusyCursor(bool busy) override {
    busyCursor = busy;
    if (onBusyCursor) onBusyCursor(busy);
  }
  void SetApplicationTitle(const std::string& title) override {
    applicationTitle = title;
    ++titleChanges;
  }
  std::string ApplicationTitle() const override { return applicationTitle; }
  void CloseMainWindow() override { ++closeRequests; }
  void EndProgram() override { ++endRequests; }
  void OpenWebAddress(const std::string& address) override { openedAddresses.push_back(address); }
  // Answers from saveNames in order (nullopt: cancelled); cancelled when empty.
  std::optional<std::string> AskSaveFileName(const std::string& proposedName,
                                             const std::string& defaultExtension) override;
  // Records the report; the outcome is printOutcome.
  PrintOutcome PrintReport(const form::Report& report) override {
    printed.push_back(report);
    return printOutcome;
  }

  std::vector<Message> messages;
  int repaints = 0;
  int inputSlices = 0;
  bool busyCursor = false;
  std::string applicationTitle = "KORVA Update";
  int titleChanges = 0;
  int closeRequests = 0;
  int endRequests = 0;
  std::vector<std::string> openedAddresses;
  std::deque<std::optional<std::string>> saveNames;
  std::vector<std::pair<std::string, std::string>> saveDialogs;  // proposed name, extension
  std::vector<form::Report> printed;
  PrintOutcome printOutcome = PrintOutcome::kPrinted;
  // Runs inside ProcessPendingInput: a test's stand-in for a click that
  // arrives while an operation waits.
  std::function<void()> onPendingInput;
  // Runs at every repaint: a test's stand-in for a click that arrives while
  // the window is being painted in the middle of an operation.
  std::function<void()> onRepaint;
  // Runs when the busy pointer goes on or off: the start and end of a wait
  // for the database.
  std::function<void(bool)> onBusyCursor;

 private:
  std::deque<MsgButton> answers_;
};

}  // namespace korva::testing
