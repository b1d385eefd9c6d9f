#pragma once
// Windows-1252 texts of the program and the UTF-16 of the wide-character
// calls: every text crosses the Windows API through here.
#include <string>
#include <string_view>

namespace korva::platform::windows {

std::wstring Wide(std::string_view cp1252);
// Characters that Windows-1252 cannot hold become '?'.
std::string Narrow(std::wstring_view utf16);
// Whether Narrow gives back every character of the text.
bool FitsWindows1252(std::wstring_view utf16);

}  // namespace korva::platform::windows
