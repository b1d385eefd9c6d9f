// The locale's formats as Windows gives them (GetLocaleInfoEx), for the
// user locales a site has: the test runs once per locale (KORVA_EXPECT_LOCALE
// names which), Wine taking the user locale from LC_ALL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "platform/clock.h"

namespace korva::platform {
namespace {

struct Expected {
  char decimal;
  char date;
  std::string shortDate;  // of 2024-03-07
  std::string longTime;   // of 13:05:09 and of 09:05:09
  std::string morning;
};

TEST(WindowsLocale, SeparatorsAndLongTimeOfTheUserLocale) {
  const char* name = std::getenv("KORVA_EXPECT_LOCALE");
  if (!name) GTEST_SKIP() << "KORVA_EXPECT_LOCALE: run through CTest";
  const std::map<std::string, Expected> expected{
      {"pt_BR", {',', '/', "07/03/2024", "13:05:09", "09:05:09"}},
      {"de_DE", {',', '.', "07.03.2024", "13:05:09", "09:05:09"}},
      {"en_US", {'.', '/', "07/03/2024", "1:05:09 PM", "9:05:09 AM"}},
  };
  ASSERT_TRUE(expected.contains(name)) << name;
  const Expected& e = expected.at(name);
  const LocaleFormats locale = LocaleFormats::Current();
  EXPECT_EQ(locale.decimalSeparator, e.decimal);
  EXPECT_EQ(locale.dateSeparator, e.date);
  const LocalDateTime afternoon{2024, 3, 7, 13, 5, 9, 0};
  const LocalDateTime morning{2024, 3, 7, 9, 5, 9, 0};
  EXPECT_EQ(FormatShortDate(afternoon, locale), e.shortDate);
  EXPECT_EQ(FormatLongTime(afternoon, locale), e.longTime);
  EXPECT_EQ(FormatLongTime(morning, locale), e.morning);
}

}  // namespace
}  // namespace korva::platform
