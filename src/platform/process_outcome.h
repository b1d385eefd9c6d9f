#pragma once
// What the process tells whoever started it, beside the window: the status
// it ends with and its standard error stream. The connected-users count
// reports through both and never on screen.
#include <string_view>

namespace korva::platform {

// The status the program ends with when it ends normally; 0 until set, and
// the last value set wins.
void SetExitStatus(int status);
int ExitStatus();

// The bytes exactly as given (no line-end translation), unbuffered. Nobody
// may be reading: a refused write is dropped.
void WriteStandardError(std::string_view text);

}  // namespace korva::platform
