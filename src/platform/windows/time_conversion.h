#pragma once
// The one conversion between the local calendar and the system's file times
// (100-nanosecond steps since 1601, UTC), for file times and the clock alike.
#include <cstdint>
#include <optional>

#include "platform/clock.h"
#include "platform/windows/win32_api.h"

namespace korva::platform::windows {

// Daylight saving as the time zone had it on that date; nullopt when the
// calendar cannot hold the time.
std::optional<FILETIME> LocalToFileTime(const LocalDateTime& local);
LocalDateTime FileTimeToLocal(const FILETIME& utc);

// Nanoseconds since 1 Jan 1970, UTC.
std::int64_t UnixNanoseconds(std::int64_t fileTime);

}  // namespace korva::platform::windows
