#pragma once
// Settings files written by the tests with either line end, since the readers
// must take both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korva::testing {

// The lines, each ended with eol.
inline std::string Lines(const std::vector<std::string>& lines, const std::string& eol) {
  std::string out;
  for (const auto& line : lines) out += line + eol;
  return out;
}

inline constexpr const char* kLineEnds[] = {"\r\n", "\n"};

// The name of a test run with one of them.
inline std::string LineEndName(const ::testing::TestParamInfo<const char*>& info) {
  return std::string(info.param) == "\n" ? "LF" : "CRLF";
}

}  // namespace korva::testing
