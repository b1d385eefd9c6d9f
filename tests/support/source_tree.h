#pragma once
// A small source tree of a test's own, for the scripts that check the
// sources (layering, format, static analysis): files put in it, and a
// script of scripts/ run over it.
#include <string>
#include <utility>

#include "support/temp_dir.h"

namespace korva::testing {

struct SourceTree {
  TempDir dir;
  // Writes `text` as the tree's file `path`, making its folders.
  void Put(const std::string& path, const std::string& text) const;
  // Copies the repository's file `path` (such as ".clang-format") in.
  void CopyFromRepository(const std::string& path) const;
  // The exit status of scripts/`script` over the tree and every line it wrote.
  std::pair<int, std::string> Run(const std::string& script) const;
};

}  // namespace korva::testing
