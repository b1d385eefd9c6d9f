// Open files and folders, and the one "write beside, flush, rename over", on
// the real file system: what each refuses and with which words, that nothing
// goes through a symbolic link below a folder, and that a replacement leaves
// either the old bytes or the new.
// Runs on Linux only: POSIX permissions, symbolic links and descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace korva::platform {
namespace {

using Cause = FileSystemError::Cause;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

template <typename Action>
FileSystemError Refusal(Action action) {
  try {
    action();
  } catch (const FileSystemError& e) {
    return e;
  }
  return FileSystemError("", "(no error)");
}

unsigned Permissions(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class PlatformFile : public ::testing::Test {
 protected:
  testing::TempDir dir_;
};

TEST_F(PlatformFile, OpenReadTakesOnlyAPlainFile) {
  ASSERT_EQ(::mkfifo(dir_.File("pipe").c_str(), 0600), 0);
  ASSERT_TRUE(CreateDir(dir_.File("folder")));
  const struct {
    std::string name;
    Cause cause;
    std::string what;
  } cases[] = {
      {"missing", Cause::kNotFound, ": No such file or directory"},
      {"folder", Cause::kIsFolder, ": Is a directory"},
      // Refused at once: no writer ever comes.
      {"pipe", Cause::kNotAFile, ": Not a regular file"},
  };
  for (const auto& c : cases) {
    const auto e = Refusal([&] { File::OpenRead(dir_.File(c.name)); });
    EXPECT_EQ(e.WhatCause(), c.cause) << c.name;
    EXPECT_EQ(std::string(e.what()), dir_.File(c.name) + c.what) << c.name;
  }
}

TEST_F(PlatformFile, ReadsAtOffsetsBeyondFourGigabytes) {
  const std::string path = dir_.File("sparse");
  const std::uint64_t far = (std::uint64_t{5} << 30) + 7;
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(far));
    out << "KORVA";
  }
  File file = File::OpenRead(path);
  EXPECT_EQ(file.Size(), static_cast<std::int64_t>(far + 5));
  char buffer[16] = {};
  // Fewer bytes only at the end of the file.
  EXPECT_EQ(file.ReadAt(far, buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(buffer, 5), "KORVA");
  EXPECT_EQ(file.ReadAt(far + 5, buffer, sizeof buffer), 0u);
}

TEST_F(PlatformFile, FinishedFileKeepsItsTimeAndReadOnlyAttribute) {
  const std::string path = dir_.File("MODULO.EXE");
  File file = File::Create(path);
  file.Write("MZ");
  const LocalDateTime time{2019, 7, 14, 9, 30, 42, 0};
  EXPECT_TRUE(file.SetModificationTime(time));
  file.MakeReadOnly();
  file.FlushToDisk();
  file.Close();
  EXPECT_EQ(ReadBytes(path), "MZ");
  EXPECT_EQ(GetFileModificationTime(path), time);
  EXPECT_EQ(*GetFileAttributes(path) & kAttrReadOnly, kAttrReadOnly);
}

TEST_F(PlatformFile, FolderNeverGoesThroughALink) {
  testing::TempDir elsewhere;
  WriteBytes(elsewhere.File("target"), "kept");
  ASSERT_EQ(::symlink(elsewhere.Path().c_str(), dir_.File("linked").c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.File("target").c_str(), dir_.File("file-link").c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.File("new").c_str(), dir_.File("dangling").c_str()), 0);
  WriteBytes(dir_.File("plain"), "x");
  const Folder folder = Folder::Open(dir_.Path());

  EXPECT_EQ(folder.TypeOf("plain"), Folder::EntryType::kFile);
  EXPECT_EQ(folder.TypeOf("linked"), Folder::EntryType::kOther);
  EXPECT_EQ(folder.TypeOf("nothing"), Folder::EntryType::kMissing);
  EXPECT_EQ(Refusal([&] { folder.OpenSubfolder("linked"); }).WhatCause(), Cause::kSymbolicLink);
  EXPECT_EQ(Refusal([&] { folder.OpenSubfolder("nothing"); }).WhatCause(), Cause::kNotFound);
  EXPECT_EQ(Refusal([&] { folder.OpenFile("file-link"); }).Path(), dir_.File("file-link"));
  // A link under the name takes it: nothing is written where it points.
  EXPECT_EQ(Refusal([&] { folder.CreateFile("dangling"); }).WhatCause(), Cause::kExists);
  EXPECT_FALSE(fs::exists(elsewhere.File("new")));

  folder.Remove("file-link");
  EXPECT_EQ(ReadBytes(elsewhere.File("target")), "kept");
  folder.CreateSubfolder("sub");
  folder.CreateSubfolder("sub");  // already there: fine
  File created = folder.OpenSubfolder("sub").CreateFile("new");
  created.Write("made");
  created.Close();
  EXPECT_EQ(ReadBytes(dir_.File("sub/new")), "made");
}

TEST_F(PlatformFile, ReplacementOverwritesWhateverStoodThere) {
  testing::TempDir elsewhere;
  WriteBytes(elsewhere.File("target"), "kept");
  ASSERT_EQ(::symlink(elsewhere.File("target").c_str(), dir_.File("link").c_str()), 0);
  WriteBytes(dir_.File("readonly"), "old");
  ASSERT_EQ(::chmod(dir_.File("readonly").c_str(), 0444), 0);

  for (const std::string name : {"link", "readonly"}) {
    ReplaceFileContent(dir_.File(name), [](File& file) { file.Write("new"); });
    EXPECT_EQ(ReadBytes(dir_.File(name)), "new") << name;
  }
  EXPECT_EQ(ReadBytes(elsewhere.File("target")), "kept");
  EXPECT_FALSE(fs::is_symlink(dir_.File("link")));

  // The caller's own temporary name, for a file only its owner reads.
  ReplaceFileContent(dir_.File("private"), [](File& file) { file.Write("p"); },
                     {.ownerOnly = true, .temporaryPath = dir_.File("private.new")});
  EXPECT_EQ(Permissions(dir_.File("private")), 0600u);
  EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{"link", "private", "readonly"}));
}

TEST_F(PlatformFile, ReplacementAsEditedKeepsTheFileItReplaces) {
  testing::TempDir elsewhere;
  WriteBytes(elsewhere.File("KORVA.INI"), "old");
  ASSERT_EQ(::chmod(elsewhere.File("KORVA.INI").c_str(), 0640), 0);
  ASSERT_EQ(::symlink(elsewhere.File("KORVA.INI").c_str(), dir_.File("KORVA.INI").c_str()), 0);
  const ReplaceOptions asEdited{.mode = ReplaceMode::kAsEdited};

  // Written through the link, with the permissions the file had.
  ReplaceFileContent(
      dir_.File("KORVA.INI"), [](File& file) { file.Write("new"); }, asEdited);
  EXPECT_TRUE(fs::is_symlink(dir_.File("KORVA.INI")));
  EXPECT_EQ(ReadBytes(elsewhere.File("KORVA.INI")), "new");
  EXPECT_EQ(Permissions(elsewhere.File("KORVA.INI")), 0640u);

  WriteBytes(dir_.File("readonly.ini"), "old");
  ASSERT_EQ(::chmod(dir_.File("readonly.ini").c_str(), 0444), 0);
  ASSERT_TRUE(CreateDir(dir_.File("folder.ini")));
  const struct {
    std::string name;
    std::string what;
  } refused[] = {
      {"readonly.ini", ": Permission denied"},
      {"folder.ini", ": Is a directory"},
      {"missing/x.ini", ": No such file or directory"},
  };
  for (const auto& c : refused) {
    const auto e = Refusal([&] {
      ReplaceFileContent(
          dir_.File(c.name), [](File& file) { file.Write("new"); }, asEdited);
    });
    EXPECT_EQ(std::string(e.what()), dir_.File(c.name) + c.what) << c.name;
  }
  EXPECT_EQ(ReadBytes(dir_.File("readonly.ini")), "old");

  // A write that fails half-way leaves the old bytes and no new file.
  const auto e = Refusal([&] {
    ReplaceFileContent(
        dir_.File("KORVA.INI"),
        [](File& file) {
          file.Write("half");
          throw FileSystemError(file.Path(), "No space left on device");
        },
        asEdited);
  });
  EXPECT_EQ(std::string(e.what()), dir_.File("KORVA.INI") + ": No space left on device");
  EXPECT_EQ(ReadBytes(elsewhere.File("KORVA.INI")), "new");
  EXPECT_EQ(Names(dir_.Path()),
            (std::vector<std::string>{"KORVA.INI", "folder.ini", "readonly.ini"}));
  EXPECT_EQ(Names(elsewhere.Path()), (std::vector<std::string>{"KORVA.INI"}));
}

TEST_F(PlatformFile, FoldersAreMadeStepByStepAndAFileInTheWayIsSaid) {
  WriteBytes(dir_.File("file"), "x");
  const struct {
    std::string path;
    std::string what;  // empty: made
  } cases[] = {
      {dir_.File("a/b//c/"), ""},           {dir_.File("a/b/c"), ""},  // already there
      {dir_.File("file"), ": File exists"}, {dir_.File("file/sub"), ": Not a directory"},
      {"", ": No such file or directory"},
  };
  for (const auto& c : cases) {
    const auto e = Refusal([&] { CreateFolders(c.path); });
    const std::string said = c.what.empty() ? e.Reason() : e.what();
    EXPECT_EQ(said, c.what.empty() ? "(no error)" : c.path + c.what) << c.path;
    EXPECT_EQ(ForceDirectories(c.path), c.what.empty()) << c.path;
  }
  EXPECT_TRUE(fs::is_directory(dir_.File("a/b/c")));
}

TEST_F(PlatformFile, CopyReplacesTheTargetAndKeepsTheSourceTime) {
  WriteBytes(dir_.File("source"), "new bytes");
  const timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir_.File("source").c_str(), times, 0), 0);
  WriteBytes(dir_.File("target"), "old");
  ASSERT_EQ(::chmod(dir_.File("target").c_str(), 0444), 0);

  EXPECT_TRUE(CopyFile(dir_.File("source"), dir_.File("target")));
  EXPECT_EQ(ReadBytes(dir_.File("target")), "new bytes");
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500);

  EXPECT_FALSE(CopyFile(dir_.File("missing"), dir_.File("target")));
  EXPECT_FALSE(CopyFile(dir_.File("source"), dir_.File("no/such/folder")));
  EXPECT_EQ(ReadBytes(dir_.File("target")), "new bytes");
  EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{"source", "target"}));
}

TEST(PlatformPaths, SeparatorsBelongToThePlatform) {
  EXPECT_EQ(FileNameOf("/site/Backup/KORVABACKUP.EXE"), "KORVABACKUP.EXE");
  EXPECT_EQ(FileNameOf("KORVA.INI"), "KORVA.INI");
  EXPECT_EQ(IncludeTrailingSeparator("/site"), "/site/");
  EXPECT_EQ(IncludeTrailingSeparator("/site//"), "/site/");
  EXPECT_EQ(ExcludeTrailingSeparator("/site//"), "/site");
  EXPECT_EQ(ExcludeTrailingSeparator("/"), "/");
}

}  // namespace
}  // namespace korva::platform
