// Names from outside used below a folder of ours: module executables from the
// database (folder parts allowed) and the client identifier (a bare name).
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

}  // namespace
}  // namespace korva::platform
