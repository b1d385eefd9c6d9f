#pragma once
// The name this machine goes by on the network: its computer name on
// Windows, its host name elsewhere, as Windows-1252 text.
#include <optional>
#include <string>

namespace korva::platform {

std::string WorkstationName();
// Lets tests stand in for other workstations.
void OverrideWorkstationName(std::optional<std::string> name);

namespace detail {
// The system's answer; empty when it has none.
std::string SystemWorkstationName();
}  // namespace detail

}  // namespace korva::platform
