#pragma once
// For tests only (the programs the build ships do not contain it): makes the
// platform's file writes fail as they do when the disk is full, so that every
// place the program writes can be tried without a disk to fill.
#include <cstdint>
#include <string>

namespace korva::platform::write_faults {

// From now on the files directly inside `folder` (not in its sub-folders)
// take `bytes` more bytes in all; the write that would go past them writes
// what still fits and fails with the system's "No space left on device".
// Another call replaces the limit.
void LeaveFree(const std::string& folder, std::int64_t bytes);
// Every limit lifted: the disk has room again.
void Clear();
// The writes that failed so far.
int FailedWrites();

}  // namespace korva::platform::write_faults
