#pragma once
// The Firebird client's own wording of a status vector.
#include <cstdint>
#include <string>

namespace korva::db {

// Every line fb_interpret gives for the vector, in order; a line equal to the
// one before it is dropped; lines are joined with CR LF.
std::string InterpretStatus(const std::intptr_t* statusVector);

}  // namespace korva::db
