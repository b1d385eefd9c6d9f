#pragma once
// Windows-1252 text. Every text inside the program is a std::string of
// Windows-1252 bytes (one character, one byte); this is the only place that
// knows how those bytes map to Unicode.
#include <string>
#include <string_view>

namespace korva::text {

// Upper case as the Windows profile functions fold it: a-z and the accented
// small letters of the code page (à..þ except ÷, š, œ, ž, ÿ). ß and µ stay.
char UpperChar1252(char c);
char LowerChar1252(char c);
std::string Upper1252(std::string_view s);

// Case-insensitive comparison with that folding ("cartório" == "CARTÓRIO").
bool SameText1252(std::string_view a, std::string_view b);
// <0, 0, >0 after folding both sides; the order of the folded bytes.
int CompareText1252(std::string_view a, std::string_view b);

// Only a-z are folded (the client version report's section names).
std::string UpperAscii(std::string_view s);

// Conversions for the window and the terminal. Characters that Windows-1252
// cannot hold become '?'. Malformed UTF-8 bytes are taken as Latin-1.
std::string ToUtf8(std::string_view cp1252);
std::string FromUtf8(std::string_view utf8);

}  // namespace korva::text
