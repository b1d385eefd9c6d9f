#pragma once
// The one conversion between the local calendar and the system's seconds
// since 1970, for file times and the clock alike.
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

#include "platform/clock.h"

namespace korva::platform::posix {

LocalDateTime SystemSecondsToLocal(std::int64_t seconds, int millisecond);

// The calendar fields of a local time, daylight saving left to the C library.
struct tm CalendarOf(const LocalDateTime& local);

// The times that futimens and utimensat take to give a file that local
// modification time and leave its access time; nullopt when the system
// cannot hold it. A time that a daylight-saving change skips is moved as the
// C library moves it.
std::optional<std::array<struct timespec, 2>> ModificationTimes(const LocalDateTime& local);

}  // namespace korva::platform::posix
