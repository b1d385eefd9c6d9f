#include "platform/clock.h"

#include <string_view>

#include "platform/windows/time_conversion.h"
#include "platform/windows/wide_text.h"

namespace korva::platform {

namespace windows {

std::optional<FILETIME> LocalToFileTime(const LocalDateTime& local) {
  if (local.year < 1601 || local.year > 30827) return std::nullopt;
  SYSTEMTIME localTime{};
  localTime.wYear = static_cast<WORD>(local.year);
  localTime.wMonth = static_cast<WORD>(local.month);
  localTime.wDay = static_cast<WORD>(local.day);
  localTime.wHour = static_cast<WORD>(local.hour);
  localTime.wMinute = static_cast<WORD>(local.minute);
  localTime.wSecond = static_cast<WORD>(local.second);
  localTime.wMilliseconds = static_cast<WORD>(local.millisecond);
  SYSTEMTIME utc{};
  FILETIME fileTime{};
  if (!::TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utc) ||
      !::SystemTimeToFileTime(&utc, &fileTime)) {
    return std::nullopt;
  }
  return fileTime;
}

LocalDateTime FileTimeToLocal(const FILETIME& utc) {
  SYSTEMTIME system{};
  SYSTEMTIME local{};
  if (!::FileTimeToSystemTime(&utc, &system) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) {
    return LocalDateTime{};
  }
  return LocalDateTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                       local.wMinute, local.wSecond, local.wMilliseconds};
}

std::int64_t UnixNanoseconds(std::int64_t fileTime) {
  constexpr std::int64_t kFrom1601To1970 = 116444736000000000LL;
  return (fileTime - kFrom1601To1970) * 100;
}

}  // namespace windows

namespace {

std::string Padded(int value, bool twoDigits) {
  std::string s = std::to_string(value);
  return twoDigits && s.size() < 2 ? "0" + s : s;
}

std::wstring LocaleText(LCTYPE item) {
  wchar_t buffer[128] = {};
  const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, buffer, 128);
  return n > 1 ? std::wstring(buffer, static_cast<std::size_t>(n - 1)) : std::wstring();
}

// The Windows picture of the long time format ("HH:mm:ss", "h:mm:ss tt") as
// the strftime pattern LocaleFormats carries; an unpadded field takes the
// "-" flag ("%-H").
std::string StrftimePattern(std::wstring_view picture) {
  std::string pattern;
  for (std::size_t i = 0; i < picture.size();) {
    const wchar_t c = picture[i];
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    // Each letter's field, padded (a run of two or more) and unpadded.
    struct Field {
      wchar_t letter;
      const char* padded;
      const char* unpadded;
    };
    static constexpr Field kFields[] = {{L'H', "%H", "%-H"},
                                        {L'h', "%I", "%-I"},
                                        {L'm', "%M", "%-M"},
                                        {L's', "%S", "%-S"},
                                        {L't', "%p", "%p"}};
    const char* field = nullptr;
    for (const Field& f : kFields) {
      if (f.letter == c) field = run >= 2 ? f.padded : f.unpadded;
    }
    if (field) {
      pattern += field;
      i += run;
      continue;
    }
    if (c == L'\'') {
      // A quoted literal.
      const std::size_t close = picture.find(L'\'', i + 1);
      const std::size_t end = close == std::wstring_view::npos ? picture.size() : close;
      for (char literal : windows::Narrow(picture.substr(i + 1, end - i - 1))) {
        pattern += literal;
        if (literal == '%') pattern += '%';
      }
      i = end + 1;
      continue;
    }
    const std::string literal = windows::Narrow(picture.substr(i, 1));
    pattern += literal == "%" ? "%%" : literal;
    ++i;
  }
  return pattern;
}

}  // namespace

LocalDateTime SystemClock::Now() const {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return LocalDateTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

LocaleFormats LocaleFormats::Current() {
  LocaleFormats f;
  if (const std::string decimal = windows::Narrow(LocaleText(LOCALE_SDECIMAL));
      decimal.size() == 1) {
    f.decimalSeparator = decimal[0];
  }
  // The separator that the short date picture uses ("dd/MM/yyyy").
  for (wchar_t c : LocaleText(LOCALE_SSHORTDATE)) {
    if (c == L'd' || c == L'M' || c == L'y' || c == L'g' || c == L'\'') continue;
    if (const std::string separator = windows::Narrow(std::wstring(1, c)); separator.size() == 1) {
      f.dateSeparator = separator[0];
    }
    break;
  }
  if (const std::wstring picture = LocaleText(LOCALE_STIMEFORMAT); !picture.empty()) {
    f.longTimeFormat = StrftimePattern(picture);
  }
  return f;
}

// Our own reading of the pattern: the C library of Windows knows no "-" flag.
std::string FormatLongTime(const LocalDateTime& t, const LocaleFormats& locale) {
  const std::string& pattern = locale.longTimeFormat;
  std::string text;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 >= pattern.size()) {
      text += pattern[i];
      continue;
    }
    bool padded = true;
    char conversion = pattern[++i];
    if (conversion == '-' && i + 1 < pattern.size()) {
      padded = false;
      conversion = pattern[++i];
    }
    const int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    switch (conversion) {
      case 'H':
        text += Padded(t.hour, padded);
        break;
      case 'I':
        text += Padded(hour12, padded);
        break;
      case 'M':
        text += Padded(t.minute, padded);
        break;
      case 'S':
        text += Padded(t.second, padded);
        break;
      case 'p':
        text += t.hour < 12 ? "AM" : "PM";
        break;
      case 'T':
        text += Padded(t.hour, true) + ":" + Padded(t.minute, true) + ":" + Padded(t.second, true);
        break;
      case '%':
        text += '%';
        break;
      default:
        text += '%';
        text += conversion;
        break;
    }
  }
  return text;
}

}  // namespace korva::platform
