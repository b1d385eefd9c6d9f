#pragma once
// The guard that refuses a second running copy at program start: a copy finds
// the first by its main window's class and title.
#include <string>

#include "form/shell.h"

namespace korva {

inline constexpr const char* kMainWindowClass = "TFrmKorvaUpdate";

enum class StartDecision { Run, End };

// When a main window with exactly this title is open already (another copy of
// the same build), tells the operator so and answers End: the program ends
// without creating its window.
StartDecision SingleInstanceGuard(Shell& shell, const std::string& mainTitle);

}  // namespace korva
