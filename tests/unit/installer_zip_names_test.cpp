#include <gtest/gtest.h>

#include "installer/zip/zip_names.h"

namespace korva::installer {
namespace {

TEST(ZipNames, MaskMatchesWholeNameOrFileNamePartWithoutCase) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  };
  const Case cases[] = {
      {"EFIN.EXE", "*.EXE", true},
      {"efin.exe", "*.EXE", true},
      {"bin/EFIN.EXE", "*.EXE", true},
      {"bin\\EFIN.EXE", "*.EXE", true},
      {"EFIN.EXE.BAK", "*.EXE", false},
      {"bin/", "*.EXE", false},
      {"LEIAME.TXT", "*.EXE", false},
      {".EXE", "*.EXE", true},
      {"EXE", "*.EXE", false},
      {"a.exe/", "*.EXE", true},
      {"CAFÉ.EXE", "café.exe", true},
      {"EFIN.EXE", "E?IN.EXE", true},
      {"EFN.EXE", "E?IN.EXE", false},
      {"bin/EFIN.EXE", "BIN*.EXE", true},
      {"bin/EFIN.EXE", "bin?EFIN.EXE", true},
      {"README", "*.*", false},
      {"a.b", "*.*", true},
      {"x.exe.exe", "*.exe", true},
      {"aaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*c", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EntryMatchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
  }
}

TEST(ZipNames, PathsThatLeaveTheFolderAreRefusedInEveryForm) {
  for (std::string_view name : std::initializer_list<std::string_view>{
           "/x", "//x", "\\x", "\\\\srv\\x", "../x", "..", "a/../../x", "a/..", "a\\..\\..\\x",
           "..\\x", "C:x", "c:/x", "C:\\x", ".../x", ".. /x", "a/. ./x", "\\\\?\\C:\\x",
           std::string_view("a\0b", 3)}) {
    EXPECT_FALSE(SplitEntryPath(name).has_value()) << name;
  }
  using Parts = std::vector<std::string>;
  EXPECT_EQ(SplitEntryPath("bin/EFIN.EXE"), (Parts{"bin", "EFIN.EXE"}));
  EXPECT_EQ(SplitEntryPath("a\\b//./c/"), (Parts{"a", "b", "c"}));
  EXPECT_EQ(SplitEntryPath("..a/b..c/.x"), (Parts{"..a", "b..c", ".x"}));
#ifdef _WIN32
  // A stream "x" of the file "1" there.
  EXPECT_FALSE(SplitEntryPath("1:x").has_value());
#else
  EXPECT_EQ(SplitEntryPath("1:x"), (Parts{"1:x"}));
#endif
}

}  // namespace
}  // namespace korva::installer
