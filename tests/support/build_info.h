#pragma once
// Files that carry build information the way KorvaLib reads it: a
// KORVA-BUILDINFO block of KEY=value lines embedded in the file.
#include <string>
#include <utility>
#include <vector>

namespace korva::testing {

using BuildItems = std::vector<std::pair<std::string, std::string>>;

// The block itself, items in the given order.
std::string BuildInfoBlock(const BuildItems& items);

// A real program (a copy of `program`, still runnable) that reports `build` as
// its BUILD: what a module package unpacks into the application folder.
void WriteModuleExecutable(const std::string& path, const std::string& build,
                           const std::string& program = "/bin/true");

}  // namespace korva::testing
