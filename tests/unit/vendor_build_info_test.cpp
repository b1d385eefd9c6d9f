// GetBuildInfo of the real KorvaLib.dll, through the bridge: KORVA-BUILDINFO
// blocks in any file, version resources of real Windows executables made by
// the MinGW resource compiler and linker, and hostile files of both kinds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "support/build_info.h"
#include "support/temp_dir.h"
#include "vendor/vendor_library.h"

namespace korva::vendor {
namespace {

using testing::BuildInfoBlock;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// The MinGW tools and the module executables are Linux programs: the Windows
// build, run under Wine, cannot start them.
#ifdef _WIN32
#define SKIP_WITHOUT_LINUX_PROGRAMS() GTEST_SKIP() << "needs Linux programs (MinGW tools)"
#else
#define SKIP_WITHOUT_LINUX_PROGRAMS() (void)0
#endif

class BuildInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::OverrideExecutablePath(std::string(KORVA_BIN_DIR) + "/korvaupdate");
  }
  void TearDown() override { platform::OverrideExecutablePath(std::nullopt); }

  // A file holding exactly these bytes.
  std::string FileOf(const std::string& bytes) {
    // A new file each time: truncating one makes the file system flush it.
    ::unlink(dir_.File("file.bin").c_str());
    WriteBytes(dir_.File("file.bin"), bytes);
    return dir_.File("file.bin");
  }
  // The item of such a file.
  std::string Of(const std::string& bytes, const std::string& key = "BUILD") {
    return GetBuildInfo(FileOf(bytes), key);
  }
  // Each key's item of the file.
  static void ExpectItems(const std::string& path,
                          const std::vector<std::pair<const char*, const char*>>& items) {
    for (const auto& [key, item] : items) EXPECT_EQ(GetBuildInfo(path, key), item) << key;
  }

  TempDir dir_;
};

// A literal with its NUL bytes.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string Junk(std::size_t size, unsigned seed) {
  std::string junk(size, '\0');
  for (auto& c : junk) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return junk;
}

// ---------------------------------------------------------------------------
// KORVA-BUILDINFO blocks

TEST_F(BuildInfo, BlockAmongBinaryData) {
  const std::string file =
      Junk(5000, 1) + '\0' +
      BuildInfoBlock({{"BUILD", "3.16.47"}, {"PRODUCT", "Módulo Financeiro"}}) + Junk(5000, 2);
  ExpectItems(FileOf(file), {{"BUILD", "3.16.47"},
                             {"build", "3.16.47"},
                             {"PRODUCT", "Módulo Financeiro"},
                             {"COMPANY", ""},
                             {"", ""}});
}

TEST_F(BuildInfo, BlockLinesAndValues) {
  EXPECT_EQ(Of("KORVA-BUILDINFO\r\nBUILD=1.2.3\r\nKORVA-BUILDINFO-END\r\n"), "1.2.3");
  EXPECT_EQ(Of(Bytes("KORVA-BUILDINFO\nBUILD=1.2.3\nKORVA-BUILDINFO-END\0rest")), "1.2.3");
  EXPECT_EQ(Of("KORVA-BUILDINFO\nBUILD=1.2.3\nKORVA-BUILDINFO-END"), "1.2.3");
  // Values are taken as they stand, blanks and "=" included.
  EXPECT_EQ(Of("KORVA-BUILDINFO\nBUILD= 1.2.3 =x\nKORVA-BUILDINFO-END\n"), " 1.2.3 =x");
  EXPECT_EQ(Of("KORVA-BUILDINFO\nBUILD=\nKORVA-BUILDINFO-END\n"), "");
  // Longer than the bridge's first buffer: asked again, whole.
  const std::string longValue(20000, '\xE9');
  EXPECT_EQ(Of(BuildInfoBlock({{"BUILD", longValue}})), longValue);
}

TEST_F(BuildInfo, WhatIsNotABlockIsPassedOver) {
  const std::string good = BuildInfoBlock({{"BUILD", "good"}});
  const char* broken[] = {
      "xKORVA-BUILDINFO\nBUILD=bad\nKORVA-BUILDINFO-END\n",  // not at a line start
      "\nKORVA-BUILDINFO\nBUILD=bad\nno equals sign\nKORVA-BUILDINFO-END\n",
      "\nKORVA-BUILDINFO\nBU ILD=bad\nKORVA-BUILDINFO-END\n",  // blank in the key
      "\nKORVA-BUILDINFO\n=bad\nKORVA-BUILDINFO-END\n",        // no key
      "\nKORVA-BUILDINFO\nBUILD=b\rad\nKORVA-BUILDINFO-END\n",
      "\nKORVA-BUILDINFO x\nBUILD=bad\nKORVA-BUILDINFO-END\n",
      "\nKORVA-BUILDINFO\nBUILD=bad\n",  // never ends before the good one starts
  };
  for (const char* b : broken) {
    EXPECT_EQ(Of(std::string(b) + good), "good") << b;
    EXPECT_EQ(Of(b), "") << b;
  }
  // Markers by the thousand cost no more than any other bytes.
  std::string markers;
  for (int i = 0; i < 200000; ++i) markers += "KORVA-BUILDINFO\n";
  EXPECT_EQ(Of(markers + good), "good");
  // A NUL inside the block ends it as a block.
  EXPECT_EQ(Of(Bytes("\nKORVA-BUILDINFO\nBUILD=bad\0\nKORVA-BUILDINFO-END\n") + good), "good");
  // A key longer than 64 characters.
  EXPECT_EQ(Of("\nKORVA-BUILDINFO\n" + std::string(65, 'K') + "=bad\nKORVA-BUILDINFO-END\n" + good),
            "good");
  // A block larger than 64 KiB.
  const std::string huge = BuildInfoBlock({{"BUILD", "bad"}, {"PAD", std::string(70000, 'p')}});
  EXPECT_EQ(Of(huge + good), "good");
  EXPECT_EQ(Of(huge), "");
}

TEST_F(BuildInfo, FirstValidBlockAndFirstItemWin) {
  EXPECT_EQ(Of(BuildInfoBlock({{"BUILD", "1"}, {"BUILD", "2"}}) + BuildInfoBlock({{"BUILD", "3"}})),
            "1");
  // The first block answers, also for what it does not hold.
  EXPECT_EQ(Of(BuildInfoBlock({{"PRODUCT", "x"}}) + BuildInfoBlock({{"BUILD", "3"}})), "");
}

TEST_F(BuildInfo, BlockFoundWhereverReadsSplitTheFile) {
  // Reads go in 256 KiB pieces; a marker cut by any of them is still found.
  const std::string block = BuildInfoBlock({{"BUILD", "cut"}});
  for (std::size_t piece : {256u * 1024, 2 * 256u * 1024 - 14}) {
    for (std::size_t back = 0; back <= 20; ++back) {
      std::string file(piece - back, 'z');
      file += block;
      EXPECT_EQ(Of(file), "cut") << "block at " << piece - back;
    }
  }
}

TEST_F(BuildInfo, FilesWithoutBuildInformation) {
  EXPECT_EQ(GetBuildInfo(dir_.File("missing.exe"), "BUILD"), "");
  EXPECT_EQ(GetBuildInfo("", "BUILD"), "");
  EXPECT_EQ(GetBuildInfo(dir_.Path(), "BUILD"), "");
#ifndef _WIN32  // no device files or named pipes in the folder tree
  EXPECT_EQ(GetBuildInfo("/dev/zero", "BUILD"), "");
#endif
  EXPECT_EQ(Of(""), "");
  EXPECT_EQ(Of(Junk(100000, 4)), "");
#ifndef _WIN32
  // Opening a pipe nobody writes to must not wait.
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(GetBuildInfo(dir_.File("fifo"), "BUILD"), "");
#endif
  // Only the first 256 MiB are searched: a block past them is not found.
  const std::string path = dir_.File("sparse.bin");
  WriteBytes(path, "");
  ASSERT_EQ(::truncate(path.c_str(), 300ll * 1024 * 1024), 0);
  platform::AppendToFile(path, BuildInfoBlock({{"BUILD", "far"}}));
  EXPECT_EQ(GetBuildInfo(path, "BUILD"), "");
}

TEST_F(BuildInfo, ModuleExecutablesForTests) {
  SKIP_WITHOUT_LINUX_PROGRAMS();
  const std::string path = dir_.File("EFIN.EXE");
  testing::WriteModuleExecutable(path, "3.16.47");
  EXPECT_EQ(GetBuildInfo(path, "BUILD"), "3.16.47");
  // Still a program that runs.
  EXPECT_EQ(std::system(("'" + path + "'").c_str()), 0);
}

// ---------------------------------------------------------------------------
// Windows PE version resources, built with the real MinGW tools.

struct Tools {
  std::string windres;
  std::string ld;
};
const Tools kPe64{"x86_64-w64-mingw32-windres", "x86_64-w64-mingw32-ld"};
const Tools kPe32{"i686-w64-mingw32-windres", "i686-w64-mingw32-ld"};

// The resource script is Windows-1252, as this source's literals are.
std::string LinkPe(const TempDir& dir, const std::string& name, const std::string& script,
                   const Tools& tools = kPe64) {
  WriteBytes(dir.File(name + ".rc"), script);
  const std::string command = tools.windres + " --preprocessor=cat -c 1252 -i '" +
                              dir.File(name + ".rc") + "' -O coff -o '" + dir.File(name + ".o") +
                              "' && " + tools.ld + " --subsystem windows -e 0 -o '" +
                              dir.File(name) + "' '" + dir.File(name + ".o") + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "failed: " << command;
  return dir.File(name);
}

const std::string kModuleScript = R"(1 VERSIONINFO
FILEVERSION 3,16,47,0
PRODUCTVERSION 3,16,47,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "041604E4"
    BEGIN
      VALUE "CompanyName", "KORVA Sistemas"
      VALUE "FileDescription", "Módulo Financeiro — “Contas” €"
      VALUE "BUILD", "3.16.47"
      VALUE "Empty", ""
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x0416, 1252
  END
END
)";

TEST_F(BuildInfo, VersionResourceOfRealExecutables) {
  SKIP_WITHOUT_LINUX_PROGRAMS();
  for (const Tools* tools : {&kPe64, &kPe32}) {
    const std::string exe = LinkPe(dir_, "EFIN.EXE", kModuleScript, *tools);
    SCOPED_TRACE(tools->ld);
    ExpectItems(exe, {{"BUILD", "3.16.47"},
                      {"build", "3.16.47"},
                      {"CompanyName", "KORVA Sistemas"},
                      {"FileDescription", "Módulo Financeiro — “Contas” €"},
                      {"Empty", ""},
                      {"ProductName", ""},
                      {"StringFileInfo", ""}});
  }
}

TEST_F(BuildInfo, StringTableOfTheFirstTranslation) {
  SKIP_WITHOUT_LINUX_PROGRAMS();
  const std::string tables = R"(1 VERSIONINFO
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "BUILD", "english"
    END
    BLOCK "041604E4"
    BEGIN
      VALUE "BUILD", "portugues"
    END
  END
)";
  const std::string translated = LinkPe(dir_, "translated.exe", tables + R"(  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x0416, 1252, 0x0409, 1200
  END
END
)");
  EXPECT_EQ(GetBuildInfo(translated, "BUILD"), "portugues");
  const std::string untranslated = LinkPe(dir_, "untranslated.exe", tables + "END\n");
  EXPECT_EQ(GetBuildInfo(untranslated, "BUILD"), "english");
}

TEST_F(BuildInfo, ExecutableWithoutVersionResource) {
  SKIP_WITHOUT_LINUX_PROGRAMS();
  const std::string icon = R"(1 RCDATA
BEGIN
  "KORVA-BUILDINFO\nBUILD=not-a-version-resource\nKORVA-BUILDINFO-END\n"
END
)";
  // A PE answers from its version resource only; the same bytes without the
  // PE signature are read as any other file.
  std::string pe = ReadBytes(LinkPe(dir_, "data.exe", icon));
  EXPECT_EQ(Of(pe), "");
  pe[0] = 'X';
  EXPECT_EQ(Of(pe), "not-a-version-resource");
}

// Where the parts of a linked PE are, to damage them on purpose.
struct PeLayout {
  std::size_t peHeader = 0;
  std::size_t sectionTable = 0;
  std::size_t sectionCount = 0;
  std::size_t rsrcRaw = 0;  // file offset of the resource section
};

// Little-endian fields of `bytes` bytes.
std::uint32_t Get(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}
void Put(std::string& b, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

PeLayout Layout(const std::string& pe) {
  PeLayout l;
  l.peHeader = Get(pe, 0x3C, 4);
  l.sectionCount = Get(pe, l.peHeader + 6, 2);
  l.sectionTable = l.peHeader + 24 + Get(pe, l.peHeader + 20, 2);
  for (std::size_t i = 0; i < l.sectionCount; ++i) {
    const std::size_t at = l.sectionTable + i * 40;
    if (pe.compare(at, 5, ".rsrc") == 0) l.rsrcRaw = Get(pe, at + 20, 4);
  }
  return l;
}

class HostilePe : public BuildInfo {
 protected:
  void SetUp() override {
    BuildInfo::SetUp();
    SKIP_WITHOUT_LINUX_PROGRAMS();
    pe_ = ReadBytes(LinkPe(dir_, "EFIN.EXE", kModuleScript));
    layout_ = Layout(pe_);
    ASSERT_NE(layout_.rsrcRaw, 0u);
    ASSERT_EQ(Of(pe_), "3.16.47");
  }
  std::string pe_;
  PeLayout layout_;
};

TEST_F(HostilePe, TruncatedAnywhere) {
  for (std::size_t size = 0; size < pe_.size(); size += 3) {
    const std::string got = Of(pe_.substr(0, size));
    EXPECT_TRUE(got.empty() || got == "3.16.47") << size << ": " << got;
  }
}

TEST_F(HostilePe, OffsetsPointingOutside) {
  const std::size_t root = layout_.rsrcRaw;
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    int bytes;
  } cases[] = {
      {"PE header far away", 0x3C, 0xFFFFFFF0u, 4},
      {"PE header at the end", 0x3C, static_cast<std::uint32_t>(pe_.size() - 2), 4},
      {"optional header size huge", layout_.peHeader + 20, 0xFFFF, 2},
      {"many sections", layout_.peHeader + 6, 0xFFFF, 2},
      {"type directory entry count", root + 14, 0xFFFF, 2},
      {"type subdirectory outside", root + 16 + 4, 0xFFFFFFF0u, 4},
      {"type entry not a directory", root + 16 + 4, 0x00000010u, 4},
      // The type entry leads back to the root directory: a loop at every level.
      {"resource tree loop", root + 16 + 4, 0x80000000u, 4},
  };
  for (std::size_t i = 0; i < layout_.sectionCount; ++i) {
    const std::size_t s = layout_.sectionTable + i * 40;
    const bool resources = pe_.compare(s, 5, ".rsrc") == 0;
    std::string damaged = pe_;
    Put(damaged, s + 20, 0xFFFFFF00u, 4);  // raw data past the end of the file
    EXPECT_EQ(Of(damaged), resources ? "" : "3.16.47") << "section " << i;
    damaged = pe_;
    Put(damaged, s + 16, 0xFFFFFFF0u, 4);  // raw size past the end of the file
    const std::string got = Of(damaged);
    EXPECT_TRUE(got.empty() || got == "3.16.47") << got;
  }
  for (const Case& c : cases) {
    std::string damaged = pe_;
    Put(damaged, c.at, c.value, c.bytes);
    EXPECT_EQ(Of(damaged), "") << c.what;
  }
}

}  // namespace
}  // namespace korva::vendor
