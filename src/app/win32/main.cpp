// korvaupdate for Windows: the program's start. The version resource of our
// own executable names the window; a second copy finds the first by that
// window (FindWindowW) and ends; otherwise the window is created (its
// start-up sequence runs), shown, and served until it closes, and its
// destruction runs last.
#include <clocale>

#include "app/program_start.h"
#include "app/single_instance_guard.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_shell.h"
#include "platform/windows/win32_api.h"

namespace {

int Run() {
  korva::win32::Win32Shell shell;
  int exitCode = 0;
  const auto program = korva::StartProgram(shell, exitCode);
  if (!program) return exitCode;
  // Created with its class and title before the start-up sequence runs: a
  // copy started meanwhile finds it, and a WM_CLOSE from another program
  // closes it like the operator does.
  korva::win32::MainWindow window(program->form, program->principal, shell, program->mainTitle);
  window.OnSessionEnd([&program] { program->Destroy(); });

  if (!program->Create()) return 1;
  int status = 0;
  if (!shell.EndRequested()) {
    window.Show();
    MSG msg;
    while (!shell.EndRequested() && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      // Tab, the arrow keys and the controls' mnemonics ("&Fechar": Alt+F).
      if (::IsDialogMessageW(window.Handle(), &msg)) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (msg.message == WM_QUIT) status = static_cast<int>(msg.wParam);
  }
  program->Destroy();
  return korva::Program::ExitStatus(status);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Decimal separator, time format and dates follow the operator's locale.
  std::setlocale(LC_ALL, "");
  return Run();
}
