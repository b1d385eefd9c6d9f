#pragma once
// Settings that installed software leaves for the whole machine to read
// (Windows: the registry's HKEY_LOCAL_MACHINE). POSIX keeps no such store;
// there every look finds nothing.
#include <optional>
#include <string>

namespace korva::platform {

// The text value `name` of the key ("SOFTWARE\\Vendor\\Product"), in the
// program's own view of the machine; nullopt when the key, the value or the
// store is missing, or the value is not a text.
std::optional<std::string> MachineSettingText(const std::string& key, const std::string& name);

}  // namespace korva::platform
