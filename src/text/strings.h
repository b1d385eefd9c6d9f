#pragma once
// Small text helpers with the exact rules the program's texts follow.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korva::text {

// Removes characters of code 32 or less (blanks and control characters).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// A whole number: optional leading blanks, optional "+" or "-", then decimal
// digits, or hexadecimal digits after "$", "x", "X" or "0x"; nothing after;
// within 32 bits (hexadecimal up to FFFFFFFF, taken as two's complement).
std::optional<std::int32_t> TryStrToInt(std::string_view s);
// As TryStrToInt; otherwise fails with "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view s);
std::string IntToStr(std::int64_t value);

// "%s" placeholders replaced in order; "%%" is a literal percent sign.
std::string Format(std::string_view pattern, const std::vector<std::string>& args);

bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);

}  // namespace korva::text
