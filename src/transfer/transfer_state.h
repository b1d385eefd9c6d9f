#pragma once
// What the window keeps about the transfer in progress: the operator's abort
// requests, when the transfer began and how large its caller expects it to be.
#include <cstdint>
#include <optional>

#include "platform/clock.h"

namespace korva::transfer {

struct TransferState {
  // Set by "&Abortar"; the running download acts on it and the next transfer
  // begin clears it.
  bool transferAbortRequested = false;
  // Set by "&Abortar" too; only the module installation reads it.
  bool runAbortRequested = false;
  std::optional<platform::LocalDateTime> transferStartTime;
  // Set by each caller before a download: a download announces no size.
  std::int32_t expectedTransferSize = 0;
};

}  // namespace korva::transfer
