// Names from outside used below a folder of ours: module executables from the
// database (folder parts allowed) and the client identifier (a bare name);
// and the parts of a name that Windows reads as something else than a file,
// the way a hostile package would try them: devices with and without
// extensions, in any case, with blanks before the dot and the Windows-1252
// superscript digits; streams; trailing dots and blanks; and the names that
// only look like them, which stay files.
#include <gtest/gtest.h>

#include "platform/relative_names.h"

namespace korva::platform {
namespace {

TEST(RelativeNames, OnlyNamesThatStayInTheirFolderAndOpenNoDevice) {
  struct Case {
    std::string name;
    bool staysBelow, bare;
  };
  const Case cases[] = {
      {"EFIN.EXE", true, true},
      {"bin\\EFIN.EXE", true, false},
      {"bin/EFIN.EXE", true, false},
      {"12345678000190.ini", true, true},
      {"CONSOLE.EXE", true, true},
      {"COM10.EXE", true, true},
      {"..\\..\\X.EXE", false, false},
      {"../../X.EXE", false, false},
      {"a/.. /X.EXE", false, false},
      {"x..ini", true, false},  // ".." in a bare name: never taken
      {"\\\\srv\\x.exe", false, false},
      {"/x.exe", false, false},
      {"C:X.EXE", false, false},
      {"X.EXE:fluxo", false, false},
      {"12.345.678/0001-90.ini", true, false},
      {std::string("a\0b.exe", 7), false, false},
      {"a\r\nb.exe", false, false},
      {"a\x7F.exe", false, false},
      {"", false, false},
      {"CON", false, false},
      {"nul.ini", false, false},
      {"bin/AUX.EXE", false, false},
      {"com1.exe", false, false},
      {"LPT\xB9.zip", false, false},  // LPT¹
      {"CONIN$", false, false},
      {"PRN .txt", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StaysBelowFolder(c.name), c.staysBelow) << c.name;
    EXPECT_EQ(IsBareFileName(c.name), c.bare) << c.name;
  }
}

TEST(RelativeNames, DevicesStreamsAndDroppedEndingsAreReadDifferently) {
  for (std::string_view name :
       {"CON", "con", "Prn", "AUX", "NUL", "CONIN$", "conout$", "COM0", "COM1", "com9", "LPT0",
        "LPT9", "COM\xB9", "com\xB2", "LPT\xB3", "lpt\xB9.txt",  // the superscript one, two, three
        "NUL.EXE", "nul.tar.gz", "CON .txt", "AUX  .EXE", "COM1.exe",
        // Streams and drives.
        "EFIN.EXE:evil", "D:evil.EXE", "a:", ":", "EFIN.EXE::$DATA",
        // Endings Windows drops: "EFIN.EXE." is EFIN.EXE.
        "EFIN.EXE.", "EFIN.EXE ", "bin.", "bin ", "nul.", "CON .", "x. ."}) {
    EXPECT_TRUE(WindowsReadsNameDifferently(name)) << name;
  }
  // clang-format off
  for (std::string_view name : {"", "CONSOLE", "CONSOLE.EXE", "COM", "LPT.EXE", "COM10",
                                "LPT12.txt", "COMA", "xCON", "CON_", "NULL.EXE", "AUXILIAR.EXE",
                                "CONIN", "EFIN.EXE", ".EXE", "..a", "a b.EXE", "COM\xB9" "0",
                                "COM\xB4", "LPT\xBC"}) {
    // clang-format on
    EXPECT_FALSE(WindowsReadsNameDifferently(name)) << name;
  }
}

TEST(RelativeNames, OnlyWindowsReadsThemSo) {
  for (std::string_view name : {"NUL.EXE", "D:evil.EXE", "EFIN.EXE.", "EFIN.EXE"}) {
#ifdef _WIN32
    EXPECT_EQ(SystemReadsNameDifferently(name), WindowsReadsNameDifferently(name)) << name;
#else
    EXPECT_FALSE(SystemReadsNameDifferently(name)) << name;
#endif
  }
}

}  // namespace
}  // namespace korva::platform
