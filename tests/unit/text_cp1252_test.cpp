#include <gtest/gtest.h>

#include "text/cp1252.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::text {
namespace {

TEST(Cp1252, LiteralsAreWindows1252Bytes) {
  // The build compiles literals to the program's code page.
  EXPECT_EQ(std::string("ção"), std::string("\xE7\xE3o"));
}

TEST(Cp1252, CaseFoldingTreatsAccentedLettersAsTheProfileFunctionsDo) {
  EXPECT_TRUE(SameText1252("cartório", "CARTÓRIO"));
  EXPECT_TRUE(SameText1252("Extensão Banco", "EXTENSÃO BANCO"));
  EXPECT_FALSE(SameText1252("cartorio", "CARTÓRIO"));
  EXPECT_EQ(Upper1252("ação çé ÿ š œ ž ß µ ÷"), "AÇÃO ÇÉ Ÿ Š Œ Ž ß µ ÷");
  EXPECT_EQ(UpperAscii("efin.zip çã"), "EFIN.ZIP çã");
  EXPECT_LT(CompareText1252("abc", "ABD"), 0);
  EXPECT_EQ(CompareText1252("Ábc", "ábC"), 0);
  EXPECT_GT(CompareText1252("abcd", "ABC"), 0);
}

TEST(Cp1252, ConvertsToAndFromUtf8) {
  EXPECT_EQ(ToUtf8("Atualização — €"), "Atualiza\xC3\xA7\xC3\xA3o \xE2\x80\x94 \xE2\x82\xAC");
  EXPECT_EQ(FromUtf8("Atualiza\xC3\xA7\xC3\xA3o \xE2\x80\x94 \xE2\x82\xAC"), "Atualização — €");
  // Characters the code page cannot hold, and broken UTF-8.
  EXPECT_EQ(FromUtf8("\xE4\xB8\xAD"), "?");
  EXPECT_EQ(FromUtf8("a\xC3"), "a\xC3");
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(FromUtf8(ToUtf8(all)), all);
}

TEST(Strings, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(Trim(" \t\r\n 12.345/0001 \x01"), "12.345/0001");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \r\n"), "  a");
  EXPECT_EQ(Trim("   "), "");
}

TEST(Strings, WholeNumbersFollowTheConversionRule) {
  EXPECT_EQ(StrToInt("80"), 80);
  EXPECT_EQ(StrToInt("  -5"), -5);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x1"), 1);
  EXPECT_EQ(StrToInt("x10"), 16);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  for (const char* bad :
       {"", "80a", "2147483648", " ", "5 ", "$", "0x", "+", "1.5", "$100000000"}) {
    EXPECT_FALSE(TryStrToInt(bad).has_value()) << bad;
  }
  try {
    StrToInt("80a");
    FAIL();
  } catch (const KorvaError& e) {
    EXPECT_STREQ(e.what(), "'80a' is not a valid integer value");
  }
}

TEST(Strings, FormatFillsPlaceholdersInOrder) {
  EXPECT_EQ(Format("Unable to write to %s", {"/x/y.ini"}), "Unable to write to /x/y.ini");
  EXPECT_EQ(Format("%s%%-%s", {"a", "b"}), "a%-b");
}

}  // namespace
}  // namespace korva::text
