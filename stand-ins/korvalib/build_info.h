#pragma once
#include <string>
#include <string_view>

namespace korvalib {

// The named item of a file's build information, empty when there is none
// (the rules are in korvalib.h). Never reads more than a fixed amount of any
// file, whatever its size or content.
std::string ReadBuildInfo(const std::string& file, std::string_view key);

}  // namespace korvalib
