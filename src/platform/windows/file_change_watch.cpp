#include "platform/file_change_watch.h"

// Windows reports changes to a folder only to a waiting thread or a
// completion routine, never synchronously inside the call that makes them; a
// watch there could not vouch for "nothing happened since" without a system
// call. So it never vouches, and readers look at the file every time, as the
// contract allows.
namespace korva::platform {

ChangeMark WatchFilePath(const std::string&) {
  return {};
}

bool UnchangedSince(ChangeMark) noexcept {
  return false;
}

int FileChangeSignal() {
  return 0;
}

}  // namespace korva::platform
