#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "text/error.h"
#include "versions/version_rules.h"

namespace korva::versions {
namespace {

TEST(ProximaVersao, StepsThePatchAndCarriesOnlyAtTheText99) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"3.1.0", "3.1.1"},
      {"3.1.9", "3.1.10"},
      {"3.16.47", "3.16.48"},
      {"3.1.98", "3.1.99"},
      {"3.1.99", "3.2.00"},
      {"2.09.99", "2.10.00"},
      {"3.2.00", "3.2.1"},
      {"3.1.099", "3.1.100"},
      // Only the first 3 patch characters are read.
      {"3.1.1000", "3.1.101"},
      // One dot: the minor part is empty and the patch comes from "16".
      {"3.16", "3..17"},
      {" 3.1.0", "3.1.1"},
      // The minor part is converted only on a carry.
      {"3.a.5", "3.a.6"},
      // The major part is never converted, nor limited.
      {"10234.1.1", "10234.1.2"},
      {"v3.9.99", "v3.10.00"},
      // No dot at all: the patch is read from the start.
      {"7", "..8"},
      // A signed part is still a decimal whole number.
      {"3.1.-1", "3.1.0"},
      {"3.1.+9", "3.1.10"},
  };
  for (const auto& [version, next] : cases) {
    EXPECT_EQ(ProximaVersao(version), next) << version;
  }
}

TEST(ProximaVersao, AStepSequenceRunsThroughTheCarryAsThePackagesAreNamed) {
  std::vector<std::string> seen{"3.1.98"};
  for (int i = 0; i < 4; ++i) seen.push_back(ProximaVersao(seen.back()));
  EXPECT_EQ(seen, (std::vector<std::string>{"3.1.98", "3.1.99", "3.2.00", "3.2.1", "3.2.2"}));
}

TEST(ProximaVersao, APartThatIsNotAWholeNumberFailsWithItsText) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"", "'' is not a valid integer value"},
      {"3.1.x", "'x' is not a valid integer value"},
      {"3.a.99", "'a' is not a valid integer value"},
      {"3.1.", "'' is not a valid integer value"},
      {"3.1.5a", "'5a' is not a valid integer value"},
      // Blanks after the patch are part of it.
      {"3.1.0 ", "'0 ' is not a valid integer value"},
      // Parts are decimal: no hexadecimal forms, no blanks.
      {"3.1.$1F", "'$1F' is not a valid integer value"},
      {"3.1.x5", "'x5' is not a valid integer value"},
      {"3.1.0x1", "'0x1' is not a valid integer value"},
      {"3.1. 5", "' 5' is not a valid integer value"},
      {"3.$A.99", "'$A' is not a valid integer value"},
      // A minor part of 6 characters leaves the patch outside the 7
      // characters read after the first dot.
      {"3.123456.7", "'' is not a valid integer value"},
      {"3..99", "'' is not a valid integer value"},
  };
  for (const auto& [version, message] : cases) {
    try {
      ProximaVersao(version);
      ADD_FAILURE() << "no failure for '" << version << "'";
    } catch (const ConvertError& e) {
      EXPECT_STREQ(e.what(), message) << version;
    }
  }
}

TEST(CompletaComZeros, PadsOrCutsToTwoCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "00"}, {"7", "07"}, {"16", "16"}, {"123", "12"}, {"a", "0a"}};
  for (const auto& [part, padded] : cases) EXPECT_EQ(CompletaComZeros(part), padded) << part;
}

TEST(SecaoAntiga, ComparesPartByPartAgainstTheReference) {
  const std::vector<std::pair<const char*, bool>> cases = {
      {"3.16.46", true},  {"3.16.47", false}, {"3.16.48", false},
      {"3.9.1", true},                                             // minor "9" padded to "09"
      {"3.100.1", true},                                           // minor cut to "10"
      {"4.1.1", false},   {"3.15.10", true},  {"3.15.50", false},  // patch 50 is not below 47
      {"2.20.10", false},                                          // minor 20 is above 16
      {"2.1.1", true},    {"3.16.100", true},                      // patch cut to "10"
      {"3.16. 5 ", true},  // the rest is trimmed before it is split
      {"", true},          // every part "00"
      {"GERAL", false},    // "GE" is above "47"
  };
  for (const auto& [section, old] : cases) {
    EXPECT_EQ(SecaoAntiga(section, "3.16.47"), old) << section;
  }
  // A reference with one-character parts is padded the same way.
  EXPECT_TRUE(SecaoAntiga("3.1.1", "3.1.2"));
  EXPECT_FALSE(SecaoAntiga("3.1.10", "3.1.2"));
}

}  // namespace
}  // namespace korva::versions
