#pragma once
// What the fuzz targets that touch files share: one scratch folder for the
// whole run, removed at its end, and the check that ends the run on a broken
// property.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace korva::fuzz {

// Memory-backed where there is tmpfs: every write is flushed to disk, which
// would otherwise dominate the run.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string pattern =
        std::string(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") +
        "/korva-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  // Registered once the folder is complete, so that it still exists then.
  static const int removal = std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  });
  (void)removal;
  return folder;
}

inline void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace korva::fuzz
