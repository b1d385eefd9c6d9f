#pragma once
// What the catalogue check leaves for the update run: which databases are
// behind, the versions to bring them to, and the modules to install.
#include <array>
#include <cstdint>
#include <string>

namespace korva::catalogue {

struct PendingModule {
  std::string executable;  // empty: the slot holds nothing
  std::string targetVersion;
  // The package's SHA-256 (hexadecimal) and size in bytes ("TAMANHO") as
  // the catalogue gives them; what a site with the maker's key requires of
  // the package.
  std::string sha256 = {};
  std::string size = {};
  bool operator==(const PendingModule&) const = default;
};

inline constexpr std::size_t kPendingModuleSlots = 20;

struct RunData {
  bool usersUpdatePending = false;
  bool mainUpdatePending = false;
  std::string latestUsersVersion;
  std::string latestMainVersion;
  // Slot n (counted from 1) is index n - 1.
  std::array<PendingModule, kPendingModuleSlots> PendingModules;
  std::string scriptFilePath;
  std::string catalogueFilePath;
  // Pruning passes over the local script file in this program run.
  std::uint16_t pruningPasses = 0;
};

}  // namespace korva::catalogue
