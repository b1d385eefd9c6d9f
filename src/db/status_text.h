#pragma once
// The Firebird client's own wording of a status vector.
#include <cstdint>
#include <functional>
#include <string>

namespace korva::db {

// Every line fb_interpret gives for the vector, in order; a line equal to the
// one before it is dropped; lines are joined with CR LF.
std::string InterpretStatus(const std::intptr_t* statusVector);

// The same joining for any source of lines: next(line) gives the next line
// and returns false when there is none.
std::string JoinStatusLines(const std::function<bool(std::string& line)>& next);

}  // namespace korva::db
