#pragma once
// The parsed copies of profile files that direct mode reuses between
// operations. A copy is handed out only while the file on disk is provably
// the one it was parsed from.
#include <cstdint>
#include <memory>
#include <string>

#include "settings/profile_parser.h"

namespace korva::settings::profile {

// The file as it is on disk now, parsed; null when it is missing or cannot be
// read.
std::shared_ptr<const ParsedProfile> CurrentProfile(const std::string& path);

// Drops the copy of one file (after our own write) or of every file.
void ForgetProfile(const std::string& path);
void ForgetAllProfiles();

// How reads have been answered since the program started: whether the disk
// was looked at, and how often a file was parsed. Tells which proof ran.
struct CacheCounters {
  std::uint64_t vouchedByWatch = 0;  // reused without a look at the disk
  std::uint64_t looked = 0;          // the file's identity read from the disk
  std::uint64_t parsed = 0;
};
CacheCounters Counters();

}  // namespace korva::settings::profile
