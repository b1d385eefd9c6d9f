// GetBuildInfo of the real KorvaLib.dll, through the bridge: KORVA-BUILDINFO
// blocks in any file, version resources of real Windows executables made by
// the MinGW resource compiler and linker, and hostile files of both kinds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

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

class BuildInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::OverrideExecutablePath(std::string(KORVA_BIN_DIR) + "/korvaupdate");
  }
  void TearDown() override { platform::OverrideExecutablePath(std::nullopt); }

  // The item of a file holding exactly these bytes.
  std::string Of(const std::string& bytes, const std::string& key = "BUILD") {
    // A new file each time: truncating one makes the file system flush it.
    ::unlink(dir_.File("file.bin").c_str());
    WriteBytes(dir_.File("file.bin"), bytes);
    return GetBuildInfo(dir_.File("file.bin"), key);
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
  EXPECT_EQ(Of(file, "BUILD"), "3.16.47");
  EXPECT_EQ(Of(file, "build"), "3.16.47");
  EXPECT_EQ(Of(file, "PRODUCT"), "Módulo Financeiro");
  EXPECT_EQ(Of(file, "COMPANY"), "");
  EXPECT_EQ(Of(file, ""), "");
}

TEST_F(BuildInfo, BlockLineEnds) {
  EXPECT_EQ(Of("KORVA-BUILDINFO\r\nBUILD=1.2.3\r\nKORVA-BUILDINFO-END\r\n"), "1.2.3");
  EXPECT_EQ(Of(Bytes("KORVA-BUILDINFO\nBUILD=1.2.3\nKORVA-BUILDINFO-END\0rest")), "1.2.3");
  EXPECT_EQ(Of("KORVA-BUILDINFO\nBUILD=1.2.3\nKORVA-BUILDINFO-END"), "1.2.3");
  // Values are taken as they stand, blanks and "=" included.
  EXPECT_EQ(Of("KORVA-BUILDINFO\nBUILD= 1.2.3 =x\nKORVA-BUILDINFO-END\n"), " 1.2.3 =x");
  EXPECT_EQ(Of("KORVA-BUILDINFO\nBUILD=\nKORVA-BUILDINFO-END\n"), "");
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

TEST_F(BuildInfo, LongValueComesBackWhole) {
  const std::string value = Junk(20000, 3);
  std::string clean;
  for (char c : value) clean += (c == '\0' || c == '\n' || c == '\r') ? 'x' : c;
  EXPECT_EQ(Of(BuildInfoBlock({{"BUILD", clean}})), clean);
}

TEST_F(BuildInfo, ReadingIsBoundedInLargeFiles) {
  // Only the first 256 MiB are searched: a block past them is not found.
  const std::string path = dir_.File("sparse.bin");
  WriteBytes(path, "");
  ASSERT_EQ(::truncate(path.c_str(), 300ll * 1024 * 1024), 0);
  platform::AppendToFile(path, BuildInfoBlock({{"BUILD", "far"}}));
  EXPECT_EQ(GetBuildInfo(path, "BUILD"), "");
}

TEST_F(BuildInfo, FilesWithoutBuildInformation) {
  EXPECT_EQ(GetBuildInfo(dir_.File("missing.exe"), "BUILD"), "");
  EXPECT_EQ(GetBuildInfo("", "BUILD"), "");
  EXPECT_EQ(GetBuildInfo(dir_.Path(), "BUILD"), "");
  EXPECT_EQ(GetBuildInfo("/dev/zero", "BUILD"), "");
  EXPECT_EQ(Of(""), "");
  EXPECT_EQ(Of(Junk(100000, 4)), "");
  // Opening a pipe nobody writes to must not wait.
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(GetBuildInfo(dir_.File("fifo"), "BUILD"), "");
}

TEST_F(BuildInfo, ModuleExecutablesForTests) {
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
  for (const Tools* tools : {&kPe64, &kPe32}) {
    const std::string exe = LinkPe(dir_, "EFIN.EXE", kModuleScript, *tools);
    EXPECT_EQ(GetBuildInfo(exe, "BUILD"), "3.16.47") << tools->ld;
    EXPECT_EQ(GetBuildInfo(exe, "build"), "3.16.47");
    EXPECT_EQ(GetBuildInfo(exe, "CompanyName"), "KORVA Sistemas");
    EXPECT_EQ(GetBuildInfo(exe, "FileDescription"), "Módulo Financeiro — “Contas” €");
    EXPECT_EQ(GetBuildInfo(exe, "Empty"), "");
    EXPECT_EQ(GetBuildInfo(exe, "ProductName"), "");
    EXPECT_EQ(GetBuildInfo(exe, "StringFileInfo"), "");
  }
}

TEST_F(BuildInfo, StringTableOfTheFirstTranslation) {
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

std::uint32_t Get32(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
         static_cast<unsigned char>(b[at + 2]) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint16_t Get16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
void Put16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}

PeLayout Layout(const std::string& pe) {
  PeLayout l;
  l.peHeader = Get32(pe, 0x3C);
  l.sectionCount = Get16(pe, l.peHeader + 6);
  l.sectionTable = l.peHeader + 24 + Get16(pe, l.peHeader + 20);
  for (std::size_t i = 0; i < l.sectionCount; ++i) {
    const std::size_t at = l.sectionTable + i * 40;
    if (pe.compare(at, 5, ".rsrc") == 0) l.rsrcRaw = Get32(pe, at + 20);
  }
  return l;
}

class HostilePe : public BuildInfo {
 protected:
  void SetUp() override {
    BuildInfo::SetUp();
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
    bool wide;
  } cases[] = {
      {"PE header far away", 0x3C, 0xFFFFFFF0u, true},
      {"PE header at the end", 0x3C, static_cast<std::uint32_t>(pe_.size() - 2), true},
      {"optional header size huge", layout_.peHeader + 20, 0xFFFF, false},
      {"many sections", layout_.peHeader + 6, 0xFFFF, false},
      {"type directory entry count", root + 14, 0xFFFF, false},
      {"type subdirectory outside", root + 16 + 4, 0xFFFFFFF0u, true},
      {"type entry not a directory", root + 16 + 4, 0x00000010u, true},
  };
  for (std::size_t i = 0; i < layout_.sectionCount; ++i) {
    const std::size_t s = layout_.sectionTable + i * 40;
    const bool resources = pe_.compare(s, 5, ".rsrc") == 0;
    std::string damaged = pe_;
    Put32(damaged, s + 20, 0xFFFFFF00u);  // raw data past the end of the file
    EXPECT_EQ(Of(damaged), resources ? "" : "3.16.47") << "section " << i;
    damaged = pe_;
    Put32(damaged, s + 16, 0xFFFFFFF0u);  // raw size past the end of the file
    const std::string got = Of(damaged);
    EXPECT_TRUE(got.empty() || got == "3.16.47") << got;
  }
  for (const Case& c : cases) {
    std::string damaged = pe_;
    if (c.wide) {
      Put32(damaged, c.at, c.value);
    } else {
      Put16(damaged, c.at, static_cast<std::uint16_t>(c.value));
    }
    EXPECT_EQ(Of(damaged), "") << c.what;
  }
}

TEST_F(HostilePe, ResourceTreeThatLoops) {
  // The type entry leads back to the root directory itself, at every level.
  std::string damaged = pe_;
  Put32(damaged, layout_.rsrcRaw + 16 + 4, 0x80000000u);
  EXPECT_EQ(Of(damaged), "");
}

TEST_F(HostilePe, DamagedVersionData) {
  const std::size_t at = pe_.find(std::string("V\0S\0_\0V\0E\0R", 11));
  ASSERT_NE(at, std::string::npos);
  const std::size_t info = at - 6;  // wLength, wValueLength, wType, then the key
  std::string damaged = pe_;
  Put16(damaged, info, 0xFFFF);  // longer than the resource
  EXPECT_EQ(Of(damaged), "");
  damaged = pe_;
  Put16(damaged, info, 0);
  EXPECT_EQ(Of(damaged), "");

  // A child of length zero, and a key with no end: no loop, no read beyond.
  const std::size_t sfi = pe_.find(std::string("S\0t\0r\0i\0n\0g\0F", 13));
  ASSERT_NE(sfi, std::string::npos);
  damaged = pe_;
  Put16(damaged, sfi - 6, 0);
  EXPECT_EQ(Of(damaged), "");
  const std::size_t build = pe_.find(std::string("B\0U\0I\0L\0D\0\0\0", 12));
  ASSERT_NE(build, std::string::npos);
  damaged = pe_;
  Put16(damaged, build - 6, 8);  // the String block ends inside its key
  EXPECT_EQ(Of(damaged), "");
}

TEST_F(HostilePe, EveryByteDamaged) {
  // Whatever one byte of the headers or the resources holds, the call returns
  // some text. Bytes are changed in place: rewriting the file each time is slow.
  const std::string path = dir_.File("damaged.exe");
  WriteBytes(path, pe_);
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const std::size_t headers = layout_.sectionTable + layout_.sectionCount * 40;
  for (std::size_t at = 0; at < pe_.size(); ++at) {
    if (at >= headers && at < layout_.rsrcRaw) continue;  // code and imports: never read
    for (unsigned char value : {0x00, 0x80, 0xFF}) {
      ASSERT_EQ(::pwrite(fd, &value, 1, static_cast<off_t>(at)), 1);
      GetBuildInfo(path, "BUILD");
    }
    ASSERT_EQ(::pwrite(fd, &pe_[at], 1, static_cast<off_t>(at)), 1);
  }
  ::close(fd);
  EXPECT_EQ(GetBuildInfo(path, "BUILD"), "3.16.47");
}

}  // namespace
}  // namespace korva::vendor
