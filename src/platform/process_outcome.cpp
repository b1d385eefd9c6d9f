#include "platform/process_outcome.h"

#include <atomic>

namespace korva::platform {
namespace {

std::atomic<int> exitStatus{0};

}  // namespace

void SetExitStatus(int status) {
  exitStatus.store(status);
}

int ExitStatus() {
  return exitStatus.load();
}

}  // namespace korva::platform
