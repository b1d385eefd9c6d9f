// Archives no archiver writes: crafted names, lying sizes, broken directories.
// Whatever they hold, nothing may land outside the output folder, no file may
// grow past its recorded size and nothing may crash.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "installer/zip/zip_reader.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "support/zip_archives.h"
#include "text/error.h"

namespace korva::installer {
namespace {

using testing::HandArchive;
using testing::HandEntry;
using Tree = std::map<std::string, std::string>;

class ZipHostile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(outside());
    testing::WriteBytes(outside() + "/victim.txt", "keep me");
    std::filesystem::create_directories(out());
  }
  std::string out() const { return tmp.File("out"); }
  std::string outside() const { return tmp.File("outside"); }

  // Writes the archive and extracts "*.EXE" from it, answering each entry
  // failure from `answers` (Ignore when they run out).
  void Extract(const HandArchive& archive, std::vector<MsgButton> answers = {}) {
    Open(archive);
    for (const MsgButton answer : answers) shell.QueueAnswer(answer);
    for (int i = 0; i < 64; ++i) shell.QueueAnswer(kIgnore);
    reader.ExtractFiles("*.EXE");
  }
  void Open(const HandArchive& archive) {
    testing::WriteBytes(tmp.File("pkg.zip"), archive.Build());
    reader.SetBaseFolder(out() + "/");
    reader.Open(tmp.File("pkg.zip"));
  }
  std::string OpenError(const std::string& bytes) {
    testing::WriteBytes(tmp.File("bad.zip"), bytes);
    try {
      reader.Open(tmp.File("bad.zip"));
    } catch (const KorvaError& e) {
      EXPECT_FALSE(reader.IsOpen());
      return e.what();
    }
    return "opened";
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Message& m : shell.messages) texts.push_back(m.text);
    return texts;
  }

  testing::TempDir tmp;
  testing::ScriptedShell shell;
  ZipReader reader{shell};
};

const char* const kSuffix = ". File processing error, possibly disk is full";

TEST_F(ZipHostile, TraversingNamesAreEntryFailuresAndNothingLandsOutside) {
  HandArchive archive;
  // Appended, not "literal" + std::string: GCC 12 at -O3 sees a false overlap
  // there.
  const std::vector<std::string> names = {outside() + "/ABS.EXE",
                                          std::string("/").append(outside()).append("/DBL.EXE"),
                                          "../outside/UP.EXE",
                                          "a/../../outside/MID.EXE",
                                          "C:DRIVE.EXE",
                                          "..\\outside\\BS.EXE",
                                          "a\\..\\..\\outside\\BS2.EXE",
                                          std::string("\\").append(outside()).append("\\ROOT.EXE")};
  for (const std::string& name : names) archive.entries.push_back({.name = name, .data = "evil"});
  archive.entries.push_back({.name = "GOOD.EXE", .data = "good"});
  Extract(archive);

  ASSERT_EQ(shell.messages.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(shell.messages[i],
              (Message{"", "Entry " + names[i] + " would be written outside " + out() + kSuffix,
                       MsgIcon::Question, kAbort | kRetry | kIgnore, kNoButton}));
  }
  EXPECT_EQ(testing::ReadTree(out()), (Tree{{"GOOD.EXE", "good"}}));
  EXPECT_EQ(testing::ReadTree(outside()), (Tree{{"victim.txt", "keep me"}}));
}

TEST_F(ZipHostile, NamesWindowsReadsDifferentlyAreEntryFailuresThere) {
  // On Windows each would write something else than the file it names: a
  // stream of "sub\\D", a device, the file EFIN.EXE without its guard.
  std::vector<std::string> names = {"sub\\D:evil.EXE", "NUL.EXE",       "con .exe",
                                    "AUX:.EXE",        "COM\xB9.EXE",   "lpt\xB2.exe",
                                    "COM0.EXE",        "CONIN$.EXE",    "PRN/EFIN.EXE",
                                    "bin./EFIN.EXE",   "bin /EFIN.EXE", "EFIN.EXE:x.EXE"};
  HandArchive archive;
  for (const std::string& name : names) archive.entries.push_back({.name = name, .data = "evil"});
  // A name stored in UTF-8 (flag bit 11) is read as the same Windows-1252
  // name: "COM¹.EXE" again.
  archive.entries.push_back({.name = "COM\xC2\xB9.EXE", .data = "evil", .flags = 0x0800});
  names.push_back("COM\xB9.EXE");
  // Names that only look like them are files like any other.
  for (const char* name : {"CONSOLE.EXE", "COM10.EXE", "sub/NULO.EXE"}) {
    archive.entries.push_back({.name = name, .data = "good"});
  }
  Extract(archive);
#ifdef _WIN32
  ASSERT_EQ(shell.messages.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(shell.messages[i].text,
              "Entry " + names[i] + " would be written outside " + out() + kSuffix);
  }
  EXPECT_EQ(
      testing::ReadTree(out()),
      (Tree{
          {"CONSOLE.EXE", "good"}, {"COM10.EXE", "good"}, {"sub", "/"}, {"sub/NULO.EXE", "good"}}));
#else
  // Elsewhere a name is what it says: the files are written as named.
  EXPECT_TRUE(shell.messages.empty()) << shell.messages.front().text;
  EXPECT_EQ(testing::ReadTree(out()).count("sub/D:evil.EXE"), 1u);
  EXPECT_EQ(testing::ReadTree(out()).count("NUL.EXE"), 1u);
#endif
  EXPECT_EQ(testing::ReadTree(outside()), (Tree{{"victim.txt", "keep me"}}));
}

#ifndef _WIN32  // symbolic links need a privilege Windows users rarely have
TEST_F(ZipHostile, SymbolicLinksInTheFolderAreNeverFollowed) {
  std::filesystem::create_directory_symlink(outside(), out() + "/bin");
  std::filesystem::create_symlink(outside() + "/victim.txt", out() + "/LINK.EXE");
  HandArchive archive;
  archive.entries.push_back({.name = "bin/EFIN.EXE", .data = "evil"});
  archive.entries.push_back({.name = "LINK.EXE", .data = "new"});
  Extract(archive);

  EXPECT_EQ(Texts(), (std::vector<std::string>{"Folder " + out() +
                                               "/bin is a symbolic link, which extraction does not "
                                               "follow" +
                                               kSuffix}));
  // The link named like the target is replaced by the file, not written through.
  EXPECT_EQ(testing::ReadTree(out()), (Tree{{"LINK.EXE", "new"}, {"bin", "-> " + outside()}}));
  EXPECT_EQ(testing::ReadTree(outside()), (Tree{{"victim.txt", "keep me"}}));
}
#endif

TEST_F(ZipHostile, LyingSizesNeverWriteMoreThanRecorded) {
  const std::string big(5'000'000, 'z');
  HandArchive archive;
  // A bomb: five megabytes that claim to be ten bytes.
  archive.entries.push_back({.name = "BOMB.EXE", .data = big, .uncompressedSize = 10});
  // Fewer bytes than recorded.
  archive.entries.push_back({.name = "SHORT.EXE", .data = "abc", .uncompressedSize = 4});
  // Stored data whose two sizes disagree: refused before anything is touched.
  archive.entries.push_back(
      {.name = "OLD.EXE", .data = "0123456789", .method = 0, .uncompressedSize = 20});
  testing::WriteBytes(out() + "/OLD.EXE", "previous");
  Extract(archive);

  EXPECT_EQ(
      Texts(),
      (std::vector<std::string>{
          std::string("Size error in BOMB.EXE: the data holds more than the recorded 10 bytes") +
              kSuffix,
          std::string("Size error in SHORT.EXE: 3 bytes instead of the recorded 4") + kSuffix,
          std::string("Size error in OLD.EXE: stored 10 bytes, recorded 20") + kSuffix}));
  EXPECT_EQ(
      testing::ReadTree(out()),
      (Tree{{"BOMB.EXE", std::string(10, 'z')}, {"OLD.EXE", "previous"}, {"SHORT.EXE", "abc"}}));
}

TEST_F(ZipHostile, UndecodableEntriesFailAndLeaveTheOldFile) {
  HandArchive archive;
  archive.entries.push_back({.name = "LOCKED.EXE", .data = "secret", .flags = 0x0001});
  archive.entries.push_back({.name = "BZIP.EXE", .data = "x", .method = 12, .payload = "x"});
  archive.entries.push_back(
      {.name = "BIG.EXE", .data = "x", .method = 0, .compressedSize = 0xFFFFFFFF});
  archive.entries.push_back({.name = "DAMAGED.EXE", .data = "x", .payload = "\xff\xff\xff"});
  for (const char* name : {"LOCKED.EXE", "BZIP.EXE"}) {
    testing::WriteBytes(out() + "/" + name, "previous");
  }
  Extract(archive);

  EXPECT_EQ(
      Texts(),
      (std::vector<std::string>{
          std::string("Entry LOCKED.EXE is encrypted and no password is set") + kSuffix,
          std::string("Entry BZIP.EXE uses compression method 12, which is not supported") +
              kSuffix,
          std::string("Entry BIG.EXE needs ZIP64 extensions, which are not supported") + kSuffix,
          std::string("The compressed data of DAMAGED.EXE is damaged") + kSuffix}));
  EXPECT_EQ(testing::ReadBytes(out() + "/LOCKED.EXE"), "previous");
  EXPECT_EQ(testing::ReadBytes(out() + "/BZIP.EXE"), "previous");
  EXPECT_FALSE(std::filesystem::exists(out() + "/BIG.EXE"));
}

TEST_F(ZipHostile, RetryRedoesTheEntryAndAbortEndsThePass) {
  HandArchive archive;
  archive.entries.push_back({.name = "BAD.EXE", .data = "payload", .crc = 1});
  archive.entries.push_back({.name = "NEXT.EXE", .data = "next"});
  Extract(archive, {kRetry, kAbort});

  const std::string text = std::string("CRC error in BAD.EXE") + kSuffix;
  EXPECT_EQ(Texts(), (std::vector<std::string>{text, text}));
  // The failed file stays as written, with the entry's time; the pass ended
  // before NEXT.EXE.
  EXPECT_EQ(testing::ReadTree(out()), (Tree{{"BAD.EXE", "payload"}}));
  struct stat st {};
  ASSERT_EQ(::stat((out() + "/BAD.EXE").c_str(), &st), 0);
  struct tm tm {};
#ifdef _WIN32
  localtime_s(&tm, &st.st_mtime);
#else
  localtime_r(&st.st_mtime, &tm);
#endif
  EXPECT_EQ((std::vector<int>{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec}),
            (std::vector<int>{2021, 3, 14, 12, 34, 56}));
}

TEST_F(ZipHostile, BrokenDirectoriesFailAtOpen) {
  HandArchive good;
  good.entries.push_back({.name = "A.EXE", .data = std::string(3000, 'a')});
  good.entries.push_back({.name = "B.EXE", .data = "bbbb"});
  const std::string bytes = good.Build();

  HandArchive overlapping = good;
  overlapping.entries[1].localHeaderOffset = 0;
  HandArchive outsideFile = good;
  outsideFile.directoryOffset = 0x7FFFFFF0;
  HandArchive huge = good;
  huge.entryCount = 0xFFFE;
  HandArchive localPastDirectory = good;
  localPastDirectory.entries[1].localHeaderOffset = 0x10000000;

  EXPECT_NE(OpenError(overlapping.Build()).find("overlap"), std::string::npos);
  EXPECT_NE(OpenError(outsideFile.Build()).find("central directory"), std::string::npos);
  EXPECT_NE(OpenError(huge.Build()).find("entry count"), std::string::npos);
  EXPECT_NE(OpenError(localPastDirectory.Build()).find("lies outside the file"), std::string::npos);
  EXPECT_NE(OpenError(std::string(100, 'x')).find("is not a valid ZIP archive"), std::string::npos);
  EXPECT_NE(OpenError("").find("too short"), std::string::npos);
  // A ZIP64 end locator in front of the end record.
  std::string zip64 = bytes;
  zip64.insert(zip64.size() - 22, std::string("PK\x06\x07", 4) + std::string(16, '\0'));
  EXPECT_NE(OpenError(zip64).find("ZIP64"), std::string::npos);
  // Every download cut short fails at open.
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_NE(OpenError(bytes.substr(0, n)), "opened") << n;
  }
  EXPECT_EQ(OpenError(bytes), "opened");
}

TEST_F(ZipHostile, UnusualButValidLayoutsAreRead) {
  HandArchive archive;
  // A stub in front (self-extractor), a comment of the maximal length holding
  // a false end record, a data descriptor, a UTF-8 name.
  archive.prefix = std::string(777, 'S');
  archive.comment = std::string(65535 - 22, 'c');
  archive.comment.replace(100, 4, "PK\x05\x06");
  archive.entries.push_back({.name = "DD.EXE", .data = "described", .dataDescriptor = true});
  archive.entries.push_back({.name = "CAF\xC3\x89.EXE", .data = "utf8", .flags = 0x0800});
  archive.entries.push_back({.name = "ST.EXE", .data = "stored", .method = 0});
  Extract(archive);

  EXPECT_EQ(Texts(), std::vector<std::string>{});
  EXPECT_EQ(testing::ReadTree(out()),
            (Tree{{"CAFÉ.EXE", "utf8"}, {"DD.EXE", "described"}, {"ST.EXE", "stored"}}));
}

}  // namespace
}  // namespace korva::installer
