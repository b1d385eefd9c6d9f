#pragma once
#include <string_view>

namespace korvalib {

// True when offered denotes a later version than current (the order of
// ExisteAtualizacao described in korvalib.h).
bool IsLaterVersion(std::string_view offered, std::string_view current);

}  // namespace korvalib
