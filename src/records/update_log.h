#pragma once
// The step log of an update run: the check-mark list on the log page, and the
// file "LogUpdate.txt" to which the module installation appends its events.
// Runs execute on the window's thread without returning to the event loop
// between steps, so every change to the list is painted before it returns.
#include <string>
#include <string_view>

#include "form/controls.h"
#include "form/shell.h"

namespace korva::records {

class UpdateLog {
 public:
  // The whole lines the list shows; LogMakeRoom frees two when it is full.
  static constexpr int kVisibleLines = 16;

  // logFilePath is the session's path, fixed by the start-up after the
  // window exists; it is read at every write.
  UpdateLog(form::CheckList& list, Shell& shell, const std::string& logFilePath)
      : list_(list), shell_(shell), logFilePath_(logFilePath) {}

  void LogClear();
  // With exactly kVisibleLines lines, drops the two oldest; otherwise nothing.
  void LogMakeRoom();
  void LogAddLine(const std::string& text);
  // Keeps the line's check mark. Fails when the list is empty.
  void LogReplaceLastLine(const std::string& text);
  // Fails with "List index out of bounds (n)" for an index that names no line.
  void LogCheckLine(int index);
  void LogCheckLastLine();
  // Takes the mark off the bottom line: a counter line that moved on to a
  // step not yet completed.
  void LogUncheckLastLine();
  void LogSelectLastLine();

  // Appends text + CR LF to the log file, opened and closed for this line
  // alone. Throws FileError when the file cannot be opened or written.
  void LogWriteFile(const std::string& text);
  // An update file the maker's key refused: "Arquivo <name> recusado: <reason>".
  void LogRefusal(std::string_view fileName, std::string_view reason);

 private:
  form::CheckList& list_;
  Shell& shell_;
  const std::string& logFilePath_;
};

}  // namespace korva::records
