#pragma once
// The parsed copies of profile files that direct mode reuses between
// operations. A copy is handed out only while the file on disk is provably
// the one it was parsed from.
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

}  // namespace korva::settings::profile
