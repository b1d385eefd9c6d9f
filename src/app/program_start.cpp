#include "app/program_start.h"

#include <exception>

#include "app/single_instance_guard.h"
#include "platform/files.h"
#include "platform/process_outcome.h"
#include "vendor/vendor_library.h"

namespace korva {

Program::Program(Shell& shell, std::string title)
    : mainTitle(std::move(title)), principal(form, shell, clock) {}

bool Program::Create() {
  try {
    principal.FormCreate();
  } catch (const std::exception& e) {
    principal.ShowError(e.what());
    return false;
  }
  return true;
}

void Program::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    principal.FormDestroy();
  } catch (const std::exception& e) {
    principal.ShowError(e.what());
  }
}

int Program::ExitStatus(int loopStatus) {
  return loopStatus == 0 ? platform::ExitStatus() : loopStatus;
}

std::unique_ptr<Program> StartProgram(Shell& shell, int& exitCode) {
  shell.SetApplicationTitle(form::FormModel::kApplicationTitle);

  // Every file the program owns lies in its folder: a folder it cannot name
  // would make each of them look missing, the vendor library first.
  if (!platform::ExecutablePathFitsCodePage()) {
    shell.ShowMessage(Message{"KORVA",
                              "A pasta do programa tem caracteres que o programa não aceita: "
                              "mova-o para uma pasta de nome simples.",
                              MsgIcon::Error, kOk, kOk});
    exitCode = 1;
    return nullptr;
  }

  std::string build;
  try {
    build = vendor::GetBuildInfo(platform::ExecutablePath(), "BUILD");
  } catch (const std::exception& e) {
    shell.ShowMessage(Message{"", e.what(), MsgIcon::Error, kOk, kOk});
    exitCode = 1;
    return nullptr;
  }
  const std::string mainTitle = form::FormModel::ComposeMainTitle(build);

  if (SingleInstanceGuard(shell, mainTitle) == StartDecision::End) {
    exitCode = 0;
    return nullptr;
  }
  return std::make_unique<Program>(shell, mainTitle);
}

}  // namespace korva
