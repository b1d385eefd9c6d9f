#pragma once
// The one conversion between the local calendar and the system's seconds
// since 1970, for file times and the clock alike.
#include <cstdint>
#include <optional>

#include "platform/clock.h"

namespace korva::platform::posix {

// nullopt when the system cannot hold that time. A time that a daylight-
// saving change skips is moved as the C library moves it.
std::optional<std::int64_t> LocalToSystemSeconds(const LocalDateTime& local);
LocalDateTime SystemSecondsToLocal(std::int64_t seconds, int millisecond);

}  // namespace korva::platform::posix
