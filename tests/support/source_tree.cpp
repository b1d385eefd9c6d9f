#include "support/source_tree.h"

#include <filesystem>

#include "support/site_builder.h"

namespace korva::testing {

void SourceTree::Put(const std::string& path, const std::string& text) const {
  std::filesystem::create_directories(std::filesystem::path(dir.File(path)).parent_path());
  WriteBytes(dir.File(path), text);
}

void SourceTree::CopyFromRepository(const std::string& path) const {
  Put(path, ReadBytes(std::string(KORVA_SOURCE_DIR) + "/" + path));
}

std::pair<int, std::string> SourceTree::Run(const std::string& script) const {
  std::string output;
  const int status =
      RunCommand({std::string(KORVA_SOURCE_DIR) + "/scripts/" + script, dir.Path()}, output);
  return {status, output};
}

}  // namespace korva::testing
