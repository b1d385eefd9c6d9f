#pragma once
// Names that Windows reads as something other than a file of that name: a
// device ("CON", "nul.txt", "COM¹"), an alternate data stream of a file
// ("EFIN.EXE:x"), or a name whose trailing dots and blanks it drops
// ("EFIN.EXE." is EFIN.EXE). Texts are Windows-1252.
#include <string_view>

namespace korva::platform {

// The rule itself, for one part of a path (a folder or file name).
bool WindowsReadsNameDifferently(std::string_view part);

// The rule where the program runs on Windows; elsewhere a name is what it
// says (false).
bool SystemReadsNameDifferently(std::string_view part);

}  // namespace korva::platform
