#pragma once
// Paths the system gives in UTF-16, for a program whose texts are
// Windows-1252: a folder named "Łódź" has no Windows-1252 name, but where
// the volume keeps short (8.3) names its short name has one.
#include <optional>
#include <string>

namespace korva::platform::windows {

// The path in Windows-1252: itself when every character fits, else its
// short form when that fits; nullopt when neither does.
std::optional<std::string> PathInWindows1252(const std::wstring& path);

// Test seam: the short-name call fails, as on a volume whose short names
// are switched off.
void FailShortPathNames(bool fail);

}  // namespace korva::platform::windows
