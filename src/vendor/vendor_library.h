#pragma once
// The bridge to the maker's support library KorvaLib.dll. Every call loads the
// library from the executable's folder, looks the entry point up by name,
// calls it and unloads the library again, also when the call fails.
#include <string>

namespace korva::vendor {

inline constexpr const char* kLibraryName = "KorvaLib.dll";

// The named item of a file's build information ("SELF": the calling program).
std::string GetBuildInfo(const std::string& file, const std::string& key);
// True when the offered version is later than the current one.
bool ExisteAtualizacao(const std::string& offered, const std::string& current);

}  // namespace korva::vendor
