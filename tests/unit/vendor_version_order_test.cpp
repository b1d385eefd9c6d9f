// The version order of ExisteAtualizacao, asked of the real KorvaLib.dll
// through the bridge, as the catalogue check and the window start-up ask it.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "platform/files.h"
#include "vendor/vendor_library.h"

namespace korva::vendor {
namespace {

struct Pair {
  const char* a;
  const char* b;
};

class VersionOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::OverrideExecutablePath(std::string(KORVA_BIN_DIR) + "/korvaupdate");
  }
  void TearDown() override { platform::OverrideExecutablePath(std::nullopt); }
  // Whether each a is later than its b; b is never later than a.
  static void ExpectOrder(std::span<const Pair> pairs, bool aIsLater) {
    for (const auto& [a, b] : pairs) {
      EXPECT_EQ(ExisteAtualizacao(a, b), aIsLater) << a << " after " << b;
      EXPECT_FALSE(ExisteAtualizacao(b, a)) << b << " after " << a;
    }
  }
};

TEST_F(VersionOrder, LaterVersions) {
  // a is later than b, and so b is not later than a.
  const Pair later[] = {{"3.16.47", "3.2.9"},
                        {"3.16.48", "3.16.47"},
                        {"3.17.0", "3.16.99"},
                        {"4.0.0", "3.99.99"},
                        {"10.0.0", "9.99.99"},
                        {"3.1.100", "3.1.99"},
                        // The steps of ProximaVersao, in the order the script packages follow.
                        {"3.1.99", "3.1.98"},
                        {"3.2.00", "3.1.99"},
                        {"3.2.1", "3.2.00"},
                        {"2.10.00", "2.09.99"},
                        // More parts, blanks of CHAR columns, numbers of any length.
                        {"3.2.0.1", "3.2"},
                        {"3.2.1", "3.2"},
                        {"3.2.2", "3.2.1     "},
                        {"3.2.100000000000000000000000", "3.2.99999999999999999999999"},
                        // The same text at the same place lets the comparison go on.
                        {"3.a.6", "3.a.5"},
                        {"4.a.0", "3.b.0"},
                        // An empty current version: any offered version is an update.
                        {"3.1.0", ""},
                        {"0.0.0", ""},
                        {"3.1.0", "          "}};
  ExpectOrder(later, true);
}

TEST_F(VersionOrder, NeitherIsLater) {
  const Pair same[] = {{"3.16.47", "3.16.47"},
                       {"3.2.00", "3.2.0"},
                       {"03.002.0", "3.2.000"},
                       {"3.2", "3.2.0"},
                       {"3.2.1", "3.2.1     "},
                       {" 3.2.1\t", "3.2.1"},
                       {"3. 2 .1", "3.2.1"},
                       {"", ""},
                       {"", "   "},
                       // Different texts, or text against a number: no order, so no update.
                       {"3.a.5", "3.b.5"},
                       {"3.1.x", "3.1.0"},
                       {"3..17", "3.16.0"},
                       {"3.2.", "3.2.0"},
                       {"-3.2.1", "3.2.1"}};
  ExpectOrder(same, false);
  // An empty offered version is never an update.
  EXPECT_FALSE(ExisteAtualizacao("", "3.1.0"));
  EXPECT_FALSE(ExisteAtualizacao("   ", "3.1.0"));
}

TEST_F(VersionOrder, BaselineOfTheEmpresaEdition) {
  // baselineReached: the recorded version is later than 3.16.47.
  EXPECT_FALSE(ExisteAtualizacao("3.16.47", "3.16.47"));
  EXPECT_FALSE(ExisteAtualizacao("3.9.99", "3.16.47"));
  EXPECT_TRUE(ExisteAtualizacao("3.16.48", "3.16.47"));
  EXPECT_TRUE(ExisteAtualizacao("3.100.1", "3.16.47"));
}

}  // namespace
}  // namespace korva::vendor
