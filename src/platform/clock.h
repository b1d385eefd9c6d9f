#pragma once
// Clock and locale: local date and time with milliseconds, the date and long
// time formats and the decimal separator of the user's locale.
#include <cstdint>
#include <string>

namespace korva::platform {

struct LocalDateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  bool operator==(const LocalDateTime&) const = default;
};

// Milliseconds between two local times (b - a), across days.
std::int64_t MillisecondsBetween(const LocalDateTime& a, const LocalDateTime& b);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  LocalDateTime Now() const override;
};

// The parts of the user's locale that the program's texts use.
struct LocaleFormats {
  char decimalSeparator = '.';
  char dateSeparator = '/';
  // strftime pattern of the long time format (hours, minutes, seconds).
  std::string longTimeFormat = "%H:%M:%S";

  // The process locale as set from the environment at program start.
  static LocaleFormats Current();
};

// "dd/mm/yyyy" with the locale's date separator in place of "/".
std::string FormatShortDate(const LocalDateTime& t, const LocaleFormats& locale);
std::string FormatLongTime(const LocalDateTime& t, const LocaleFormats& locale);

}  // namespace korva::platform
