#include "platform/held_files.h"

#include <chrono>
#include <thread>

#include "platform/file.h"

namespace korva::platform {
namespace {

std::function<void(int)>& Pause() {
  static std::function<void(int)> pause;
  return pause;
}

}  // namespace

void SetHeldFilePause(std::function<void(int failedTry)> pause) {
  Pause() = std::move(pause);
}

void RetryWhileHeld(const std::function<void()>& attempt) {
  for (int tryNumber = 1;; ++tryNumber) {
    try {
      attempt();
      return;
    } catch (const FileSystemError& e) {
      if (e.WhatCause() != FileSystemError::Cause::kInUse || tryNumber == kHeldFileTries) throw;
    }
    if (Pause()) {
      Pause()(tryNumber);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kHeldFilePauseMilliseconds));
    }
  }
}

}  // namespace korva::platform
