// The parts of the clock that are the same on every system: calendar
// arithmetic and the short date.
#include "platform/clock.h"

namespace korva::platform {
namespace {

// Days since 1 Jan 1970 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t ToMilliseconds(const LocalDateTime& t) {
  return ((DaysFromCivil(t.year, t.month, t.day) * 24 + t.hour) * 60 + t.minute) * 60000 +
         std::int64_t{t.second} * 1000 + t.millisecond;
}

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

std::int64_t MillisecondsBetween(const LocalDateTime& a, const LocalDateTime& b) {
  return ToMilliseconds(b) - ToMilliseconds(a);
}

std::string FormatShortDate(const LocalDateTime& t, const LocaleFormats& locale) {
  std::string year = std::to_string(t.year);
  if (year.size() < 4) year.insert(0, 4 - year.size(), '0');
  std::string date = TwoDigits(t.day);
  date += locale.dateSeparator;
  date += TwoDigits(t.month);
  date += locale.dateSeparator;
  date += year;
  return date;
}

}  // namespace korva::platform
