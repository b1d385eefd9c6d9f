#include "app/single_instance_guard.h"

#include "platform/window_registry.h"

namespace korva {

StartDecision SingleInstanceGuard(Shell& shell, const std::string& mainTitle) {
  if (!platform::FindWindow(kMainWindowClass, mainTitle)) return StartDecision::Run;
  shell.ShowMessage(Message{"KORVA - UPDATE", "Aplicação já está sendo executada.",
                            MsgIcon::Information, kOk, kOk});
  return StartDecision::End;
}

}  // namespace korva
