// The version order of ExisteAtualizacao, asked of the real KorvaLib.dll
// through the bridge, as the catalogue check and the window start-up ask it.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "vendor/vendor_library.h"

namespace korva::vendor {
namespace {

class VersionOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::OverrideExecutablePath(std::string(KORVA_BIN_DIR) + "/korvaupdate");
  }
  void TearDown() override { platform::OverrideExecutablePath(std::nullopt); }

  // Checks both directions: at most one of two versions is later.
  static void ExpectOrder(const std::string& later, const std::string& earlier) {
    EXPECT_TRUE(ExisteAtualizacao(later, earlier)) << later << " after " << earlier;
    EXPECT_FALSE(ExisteAtualizacao(earlier, later)) << earlier << " after " << later;
  }
  static void ExpectSame(const std::string& a, const std::string& b) {
    EXPECT_FALSE(ExisteAtualizacao(a, b)) << a << " after " << b;
    EXPECT_FALSE(ExisteAtualizacao(b, a)) << b << " after " << a;
  }
};

TEST_F(VersionOrder, ComparesPartByPartAsNumbers) {
  ExpectOrder("3.16.47", "3.2.9");
  ExpectOrder("3.16.48", "3.16.47");
  ExpectOrder("3.17.0", "3.16.99");
  ExpectOrder("4.0.0", "3.99.99");
  ExpectOrder("3.1.100", "3.1.99");
  ExpectOrder("10.0.0", "9.99.99");
  // Longer than any machine number.
  ExpectOrder("3.2.100000000000000000000000", "3.2.99999999999999999999999");
}

TEST_F(VersionOrder, FollowsTheNextVersionSteps) {
  // The order in which ProximaVersao steps through the script packages.
  ExpectOrder("3.1.99", "3.1.98");
  ExpectOrder("3.2.00", "3.1.99");
  ExpectOrder("3.2.1", "3.2.00");
  ExpectOrder("3.2.2", "3.2.1");
  ExpectOrder("2.10.00", "2.09.99");
}

TEST_F(VersionOrder, EqualVersionsAreNotLater) {
  ExpectSame("3.16.47", "3.16.47");
  ExpectSame("3.2.00", "3.2.0");
  ExpectSame("03.002.0", "3.2.000");
  // Missing parts count as zero.
  ExpectSame("3.2", "3.2.0");
  ExpectOrder("3.2.0.1", "3.2");
  ExpectOrder("3.2.1", "3.2");
}

TEST_F(VersionOrder, BaselineOfTheEmpresaEdition) {
  // baselineReached: recorded version later than 3.16.47.
  EXPECT_FALSE(ExisteAtualizacao("3.16.47", "3.16.47"));
  EXPECT_FALSE(ExisteAtualizacao("3.16.46", "3.16.47"));
  EXPECT_FALSE(ExisteAtualizacao("3.9.99", "3.16.47"));
  EXPECT_TRUE(ExisteAtualizacao("3.16.48", "3.16.47"));
  EXPECT_TRUE(ExisteAtualizacao("3.100.1", "3.16.47"));
}

TEST_F(VersionOrder, EmptyVersions) {
  EXPECT_FALSE(ExisteAtualizacao("", "3.1.0"));
  EXPECT_FALSE(ExisteAtualizacao("", ""));
  EXPECT_TRUE(ExisteAtualizacao("3.1.0", ""));
  EXPECT_TRUE(ExisteAtualizacao("0.0.0", ""));
  // A blank CHAR column is an empty version.
  EXPECT_TRUE(ExisteAtualizacao("3.1.0", "          "));
  EXPECT_FALSE(ExisteAtualizacao("   ", "3.1.0"));
}

TEST_F(VersionOrder, BlanksAroundVersionsAndPartsDoNotCount) {
  // Module versions come from CHAR(10) columns, padded with blanks.
  ExpectSame("3.2.1", "3.2.1     ");
  ExpectOrder("3.2.2", "3.2.1     ");
  ExpectSame(" 3.2.1\t", "3.2.1");
  ExpectSame("3. 2 .1", "3.2.1");
}

TEST_F(VersionOrder, PartsThatAreNotNumbers) {
  // The same text at the same place lets the comparison go on.
  ExpectOrder("3.a.6", "3.a.5");
  // Different texts, or text against a number, give no order: no update.
  ExpectSame("3.a.5", "3.b.5");
  ExpectSame("3.1.x", "3.1.0");
  ExpectSame("3..17", "3.16.0");
  ExpectSame("3.2.", "3.2.0");
  ExpectSame("-3.2.1", "3.2.1");
  // A difference before the text decides.
  ExpectOrder("4.a.0", "3.b.0");
}

}  // namespace
}  // namespace korva::vendor
