#pragma once
// The layout of a script package: one section per version, each statement
// group's lines under the keys "S" + group + "_" + line, both counted from 1.
#include <string>

namespace korva::dbupdate {

inline constexpr int kMaxStatementGroups = 100;
inline constexpr int kMaxStatementLines = 1500;

// "S2_15": line 15 of statement group 2.
std::string StatementKey(int group, int line);

}  // namespace korva::dbupdate
