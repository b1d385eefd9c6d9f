#include "records/update_log.h"

#include "platform/files.h"

namespace korva::records {

void UpdateLog::LogClear() {
  list_.Clear();
  shell_.Repaint();
}

void UpdateLog::LogMakeRoom() {
  // Exactly full, not "full or more": callers may add further lines for one
  // item, and from then on the list just grows.
  if (list_.Count() != kVisibleLines) return;
  list_.Delete(0);
  list_.Delete(0);
  shell_.Repaint();
}

void UpdateLog::LogAddLine(const std::string& text) {
  list_.Add(text);
  shell_.Repaint();
}

void UpdateLog::LogReplaceLastLine(const std::string& text) {
  list_.SetText(list_.Count() - 1, text);
  shell_.Repaint();
}

void UpdateLog::LogCheckLine(int index) {
  list_.SetChecked(index, true);
  shell_.Repaint();
}

void UpdateLog::LogCheckLastLine() {
  LogCheckLine(list_.Count() - 1);
}

void UpdateLog::LogUncheckLastLine() {
  list_.SetChecked(list_.Count() - 1, false);
  shell_.Repaint();
}

void UpdateLog::LogSelectLastLine() {
  const int last = list_.Count() - 1;
  if (last < 0 || list_.SelectedIndex() == last) return;
  list_.SetSelectedIndex(last);
  shell_.Repaint();
}

void UpdateLog::LogWriteFile(const std::string& text) {
  platform::AppendToFile(logFilePath_, text + "\r\n");
}

void UpdateLog::LogRefusal(std::string_view fileName, std::string_view reason) {
  // A refused name may come from a hostile server or database: it never
  // breaks the line into lines of its own.
  std::string name(fileName);
  for (char& ch : name) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
  }
  LogWriteFile("Arquivo " + name + " recusado: " + std::string(reason));
}

}  // namespace korva::records
