#pragma once
// How stored entry names are read: the mask that selects entries and the
// rules that keep every entry below the output folder.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korva::installer {

// Case-insensitive (Windows-1252) wildcard match of the whole text: "*" is any
// run of characters, separators included; "?" is any one character.
bool MatchesMask(std::string_view text, std::string_view mask);

// The entry's name less a trailing separator; failing that, its file-name part.
bool EntryMatchesMask(std::string_view storedName, std::string_view mask);

// The folders and file name of an entry below the output folder, with "\"
// taken as a separator like "/". Empty and "." parts are dropped. nullopt for
// a name that could reach outside the output folder: absolute ("/x", "//x",
// "\x"), with a drive ("C:x") or with a ".." part, or holding a NUL byte;
// and, on Windows, for a name with a part that Windows reads as something
// other than a file of that name (platform/file_names.h).
std::optional<std::vector<std::string>> SplitEntryPath(std::string_view storedName);

}  // namespace korva::installer
