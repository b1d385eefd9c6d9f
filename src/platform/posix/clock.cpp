#include <langinfo.h>
#include <sys/time.h>

#include <clocale>
#include <ctime>

#include "platform/clock.h"
#include "platform/posix/local_time.h"

namespace korva::platform {

namespace posix {

struct tm CalendarOf(const LocalDateTime& local) {
  struct tm tm {};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  return tm;
}

LocalDateTime SystemSecondsToLocal(std::int64_t seconds, int millisecond) {
  struct tm tm {};
  const time_t t = static_cast<time_t>(seconds);
  ::localtime_r(&t, &tm);
  return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                       tm.tm_min,         tm.tm_sec,     millisecond};
}

std::optional<std::array<struct timespec, 2>> ModificationTimes(const LocalDateTime& local) {
  struct tm calendar = CalendarOf(local);
  const time_t seconds = ::mktime(&calendar);
  if (seconds == static_cast<time_t>(-1)) return std::nullopt;
  std::array<struct timespec, 2> times{};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = seconds;
  times[1].tv_nsec = static_cast<long>(local.millisecond) * 1000000L;
  return times;
}

}  // namespace posix

namespace {

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

LocalDateTime SystemClock::Now() const {
  struct timeval tv {};
  ::gettimeofday(&tv, nullptr);
  return posix::SystemSecondsToLocal(tv.tv_sec, static_cast<int>(tv.tv_usec / 1000));
}

LocaleFormats LocaleFormats::Current() {
  LocaleFormats f;
  if (const char* radix = ::nl_langinfo(RADIXCHAR); radix && radix[0] && !radix[1]) {
    f.decimalSeparator = radix[0];
  }
  if (const char* dfmt = ::nl_langinfo(D_FMT)) {
    for (const char* p = dfmt; *p; ++p) {
      if (*p == '%') {
        if (p[1]) ++p;
        continue;
      }
      f.dateSeparator = *p;
      break;
    }
  }
  if (const char* tfmt = ::nl_langinfo(T_FMT); tfmt && tfmt[0]) f.longTimeFormat = tfmt;
  return f;
}

std::string FormatLongTime(const LocalDateTime& t, const LocaleFormats& locale) {
  const struct tm tm = posix::CalendarOf(t);
  char buffer[128];
  const std::size_t n = ::strftime(buffer, sizeof buffer, locale.longTimeFormat.c_str(), &tm);
  if (n == 0) return TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
  return std::string(buffer, n);
}

}  // namespace korva::platform
