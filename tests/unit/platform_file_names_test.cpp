// Names Windows reads as something other than a file of that name, the way
// a hostile package would try them: devices with and without extensions,
// in any case, with blanks before the dot and the Windows-1252 superscript
// digits; streams; trailing dots and blanks. And the names that only look
// like them, which stay files.
#include <gtest/gtest.h>

#include "platform/file_names.h"

namespace korva::platform {
namespace {

TEST(FileNames, DevicesStreamsAndDroppedEndingsAreReadDifferently) {
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
  for (std::string_view name : {"",
                                "CONSOLE",
                                "CONSOLE.EXE",
                                "COM",
                                "LPT.EXE",
                                "COM10",
                                "LPT12.txt",
                                "COMA",
                                "xCON",
                                "CON_",
                                "NULL.EXE",
                                "AUXILIAR.EXE",
                                "CONIN",
                                "EFIN.EXE",
                                ".EXE",
                                "..a",
                                "a b.EXE",
                                "COM\xB9"
                                "0",
                                "COM\xB4",
                                "LPT\xBC"}) {
    EXPECT_FALSE(WindowsReadsNameDifferently(name)) << name;
  }
}

TEST(FileNames, OnlyWindowsReadsThemSo) {
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
