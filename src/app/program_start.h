#pragma once
// The program's start before its window exists, the same whatever draws the
// window: the application title, the main title composed from the build our
// own executable names, and the single-instance guard.
#include <memory>
#include <string>

#include "app/principal.h"
#include "form/form_model.h"
#include "form/shell.h"
#include "platform/clock.h"

namespace korva {

// What the window of a started copy works on.
struct Program {
  Program(Shell& shell, std::string title);

  // The start-up sequence (FormCreate) once the window exists; false, the
  // failure shown, when the program must end with status 1.
  bool Create();
  // The destroy sequence (FormDestroy), once whoever asks first: the end of
  // the event loop or the end of the operator's session. A failure is shown.
  void Destroy();
  // The program's exit status when its event loop ended with loopStatus: a
  // normal end reports what the last connected-users count set.
  static int ExitStatus(int loopStatus);

  std::string mainTitle;
  form::FormModel form;
  platform::SystemClock clock;
  Principal principal;

 private:
  bool destroyed_ = false;
};

// The program when this copy goes on; nullptr with exitCode set when it ends
// here (the build could not be read, shown to the operator, or another copy
// already runs).
std::unique_ptr<Program> StartProgram(Shell& shell, int& exitCode);

}  // namespace korva
