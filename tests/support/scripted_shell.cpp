#include "support/scripted_shell.h"

namespace korva::testing {

MsgButton ScriptedShell::ShowMessage(const Message& message) {
  messages.push_back(message);
  if (!answers_.empty()) {
    const MsgButton answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  if (message.defaultButton != kNoButton) return message.defaultButton;
  for (unsigned bit = 1; bit <= kNo; bit <<= 1) {
    if (message.buttons & bit) return static_cast<MsgButton>(bit);
  }
  return kOk;
}

void ScriptedShell::ProcessPendingInput() {
  ++inputSlices;
  if (onPendingInput) onPendingInput();
}

std::optional<std::string> ScriptedShell::AskSaveFileName(const std::string& proposedName,
                                                          const std::string& defaultExtension) {
  saveDialogs.emplace_back(proposedName, defaultExtension);
  if (saveNames.empty()) return std::nullopt;
  std::optional<std::string> name = saveNames.front();
  saveNames.pop_front();
  if (name) name = WithDefaultExtension(*name, defaultExtension);
  return name;
}

}  // namespace korva::testing
