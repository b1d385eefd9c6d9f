#pragma once
// Tells, without a system call, that nothing has happened on the path of a
// file since a given moment: not to the file, not to its folder, not to any
// folder above it. Readers that keep a copy of a file use it to skip looking
// at the disk while the file is provably untouched.
//
// It vouches only where the operating system reports every change at once:
// on the one thread that arms it (the first that asks), for a plain path
// without links, on a local file system. Everywhere else it says "maybe" and
// the caller looks at the file as it would without it.
#include <cstdint>
#include <string>

namespace korva::platform {

// The moment a watch began to vouch for a path; empty when it does not.
struct ChangeMark {
  std::uint64_t generation = 0;
  explicit operator bool() const { return generation != 0; }
};

// Makes every later change on the path show, and returns the moment from
// which it shows. Call it BEFORE looking at the file: what that look sees
// stays true for as long as UnchangedSince(mark) holds. Empty when this path
// cannot be vouched for from this thread now (another thread, a link on the
// path, a relative path, a missing file, a network or user-space file
// system, no watch left, changes arriving faster than we can arm); the caller
// then looks at the file every time.
ChangeMark WatchFilePath(const std::string& path);

// True when nothing has happened on any watched path since the mark, on the
// thread that armed it. No system call. False says only "look".
bool UnchangedSince(ChangeMark mark) noexcept;

// The signal the operating system sends us when a watched path changes, or
// 0 when watching is not in use (tests aim it at the process on purpose).
int FileChangeSignal();

}  // namespace korva::platform
