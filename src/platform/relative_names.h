#pragma once
// Names that come from outside (an archive's entries, a module's executable
// in the database, the client identifier) and are used below a folder of
// ours. Both "/" and "\" separate folders here on every system, as they do
// on Windows, where the names are meant to be used.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korva::platform {

// The folders and file name of a relative name. Empty and "." parts are
// dropped. nullopt for a name that could reach outside the folder: absolute
// ("/x", "//x", "\x"), with a drive ("C:x"), with a part that Windows reads
// as ".." ("...", ".. "), or holding a NUL byte.
std::optional<std::vector<std::string>> SplitRelativePath(std::string_view name);

// A file name with folder parts that stays below its folder: what
// SplitRelativePath takes, with at least one part, neither a control
// character nor ":" anywhere (Windows reads ":" as a drive or a stream), and
// no part that Windows opens as a device ("CON", "NUL.ini", "COM1.EXE").
bool StaysBelowFolder(std::string_view name);

// A file name without any folder: no "/", "\", ":", "..", NUL or control
// character, no device name, and not empty.
bool IsBareFileName(std::string_view name);

}  // namespace korva::platform
