#pragma once
// A file that another program holds for a moment (an antivirus scanner
// reading a new executable, an indexer, a backup) cannot be renamed or
// replaced while it is held: Windows reports a sharing violation. The
// operations that put a file in its place (an executable set aside, a new one
// renamed into place, a settings file written beside and renamed over) try
// again for a while before they give up. Nothing else does: a read-only file
// is refused at once, and the update log and the site lock want the first
// answer.
#include <functional>

namespace korva::platform {

inline constexpr int kHeldFileTries = 20;
inline constexpr int kHeldFilePauseMilliseconds = 250;

// Runs `attempt` until it ends without a FileSystemError of cause kInUse, at
// most kHeldFileTries times, pausing between two tries. Any other failure,
// and the last of the held ones, is thrown to the caller.
void RetryWhileHeld(const std::function<void()>& attempt);

// Test seam: runs in place of the pause after each try that met a held
// file, with that try's number (1 for the first), so that a test can count
// the tries and release the file at a try of its choosing. Empty: the pause.
void SetHeldFilePause(std::function<void(int failedTry)> pause);

}  // namespace korva::platform
