// The bridge to KorvaLib.dll: where it loads the library from, the failure
// texts, and that nothing of the library stays loaded between calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

#include "platform/files.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "text/error.h"
#include "vendor/vendor_library.h"

// The test program's own build information, found through "SELF". The only
// whole block in this program: the others are put together at run time.
[[gnu::used]] const char kOwnBuildInfo[] =
    "\nKORVA-BUILDINFO\nBUILD=9.8.7\nPRODUCT=vendor_library_test\nKORVA-BUILDINFO-END\n";

namespace korva::vendor {
namespace {

using testing::ErrorOf;
using testing::TempDir;

const std::string kBin = KORVA_BIN_DIR;

bool KorvaLibMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("KorvaLib.dll") != std::string::npos) return true;
  return false;
}

void CopyLibrary(const std::string& from, const std::string& to) {
  ASSERT_TRUE(platform::CopyFile(from, to)) << from;
}

class VendorLibrary : public ::testing::Test {
 protected:
  void TearDown() override { platform::OverrideExecutablePath(std::nullopt); }
  void RunFrom(const std::string& folder) {
    platform::OverrideExecutablePath(folder + "/korvaupdate");
  }
};

TEST_F(VendorLibrary, LoadsTheLibraryBesideTheExecutable) {
  // The whole path is trimmed of blanks.
  platform::OverrideExecutablePath("  \t" + kBin + "/korvaupdate");
  EXPECT_TRUE(ExisteAtualizacao("3.16.48", "3.16.47"));
  EXPECT_EQ(GetBuildInfo("SELF", "BUILD"), "9.8.7");
  EXPECT_EQ(GetBuildInfo("SELF", "product"), "vendor_library_test");
  EXPECT_EQ(GetBuildInfo("SELF", "COMPANY"), "");
#ifndef _WIN32
  // "SELF" is the calling program.
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(GetBuildInfo(std::string(self, static_cast<std::size_t>(n)), "BUILD"), "9.8.7");
#endif
  // Nothing of it stays loaded after a call.
  EXPECT_FALSE(KorvaLibMapped());
}

TEST_F(VendorLibrary, NoLibraryToLoad) {
  TempDir empty, notALibrary;
  testing::WriteBytes(notALibrary.File("KorvaLib.dll"), "MZ this is not a shared library\n");
  for (const TempDir* folder : {&empty, &notALibrary}) {
    RunFrom(folder->Path());
    EXPECT_EQ(ErrorOf<KorvaError>([] { ExisteAtualizacao("3.1.1", "3.1.0"); }),
              "KorvaLib.Dll não disponível.");
    EXPECT_EQ(ErrorOf<KorvaError>([] { GetBuildInfo("SELF", "BUILD"); }),
              "KorvaLib.Dll não disponível.");
  }
}

TEST_F(VendorLibrary, LibraryWithoutTheEntryPoints) {
  RunFrom(kBin + "/without-entry-points");
  EXPECT_EQ(ErrorOf<KorvaError>([] { ExisteAtualizacao("3.1.1", "3.1.0"); }),
            "Ponto de Entrada não encontrado na Dll do KORVA - ExisteAtualizacao");
  EXPECT_EQ(ErrorOf<KorvaError>([] { GetBuildInfo("SELF", "BUILD"); }),
            "Ponto de Entrada não encontrado na Dll do KORVA - GetBuildInfo");
  EXPECT_FALSE(KorvaLibMapped());
}

TEST_F(VendorLibrary, EachCallLoadsTheLibraryAfresh) {
  // The library beside the executable may be replaced between two calls; the
  // second call must use the new one.
  TempDir folder;
  CopyLibrary(kBin + "/KorvaLib.dll", folder.File("KorvaLib.dll"));
  RunFrom(folder.Path());
  EXPECT_TRUE(ExisteAtualizacao("3.1.1", "3.1.0"));

  CopyLibrary(kBin + "/without-entry-points/KorvaLib.dll", folder.File("KorvaLib.dll"));
  EXPECT_EQ(ErrorOf<KorvaError>([] { ExisteAtualizacao("3.1.1", "3.1.0"); }),
            "Ponto de Entrada não encontrado na Dll do KORVA - ExisteAtualizacao");

  ASSERT_TRUE(platform::DeleteFile(folder.File("KorvaLib.dll")));
  EXPECT_EQ(ErrorOf<KorvaError>([] { ExisteAtualizacao("3.1.1", "3.1.0"); }),
            "KorvaLib.Dll não disponível.");
  EXPECT_FALSE(KorvaLibMapped());
}

}  // namespace
}  // namespace korva::vendor
