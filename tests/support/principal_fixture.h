#pragma once
// Principal wired as the program wires it over a scratch folder: the form, a
// scripted shell and the system clock. Nothing runs until a test calls it.
#include <gtest/gtest.h>

#include "app/principal.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"

namespace korva::testing {

class PrincipalFixture : public ::testing::Test {
 protected:
  TempDir dir;
  form::FormModel form;
  ScriptedShell shell;
  platform::SystemClock clock;
  Principal principal{form, shell, clock, dir.Path()};
  SessionState& session = principal.Session();
};

}  // namespace korva::testing
