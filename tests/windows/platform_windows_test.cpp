// The Windows side of the platform seam on a real (Wine) file system: names
// in Windows-1252 arriving as the right Unicode names, binary bytes, the
// rename that never replaces and the copy that does, attributes and times,
// the write-beside-and-replace of stored settings, offsets past 4 GiB and
// the loader.
#include <gtest/gtest.h>
#include "platform/windows/win32_api.h"

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/file.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace korva::platform {
namespace {

using testing::TempDir;

// Every byte a text-mode file would change: CR LF, lone LF, lone CR, the old
// end-of-file mark, NUL.
const std::string kBinary = std::string("[A]\r\nk=1\n\r\x1A\x00\xFF", 12) + "fim";

class WindowsPlatform : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(WindowsPlatform, Windows1252NamesAndBinaryBytes) {
  const std::string name = "Atualização Ç€.ini";  // Windows-1252 bytes in this build
  WriteFileBytes(dir_.File(name), kBinary);
  EXPECT_EQ(ReadFileBytes(dir_.File(name)), kBinary);
  EXPECT_EQ(FileSize(dir_.File(name)), static_cast<std::int64_t>(kBinary.size()));
  // The file system holds the Unicode name.
  const std::filesystem::path unicode =
      std::filesystem::path(dir_.Path()) / std::filesystem::path(u8"Atualização Ç€.ini");
  EXPECT_TRUE(std::filesystem::is_regular_file(unicode));
  AppendToFile(dir_.File(name), "\r\n");
  EXPECT_EQ(ReadFileBytes(dir_.File(name)), kBinary + "\r\n");
}

TEST_F(WindowsPlatform, RenameNeverReplacesAndCopyDoes) {
  WriteFileBytes(dir_.File("old"), "old");
  WriteFileBytes(dir_.File("new"), "new, longer");
  EXPECT_FALSE(RenameFile(dir_.File("old"), dir_.File("new")));
  EXPECT_EQ(ReadFileBytes(dir_.File("old")), "old");
  EXPECT_EQ(ReadFileBytes(dir_.File("new")), "new, longer");
  EXPECT_TRUE(RenameFile(dir_.File("old"), dir_.File("moved")));
  EXPECT_FALSE(FileExists(dir_.File("old")));

  EXPECT_TRUE(CopyFile(dir_.File("moved"), dir_.File("new")));
  EXPECT_EQ(ReadFileBytes(dir_.File("new")), "old");
  EXPECT_EQ(ReadFileBytes(dir_.File("moved")), "old");
  EXPECT_FALSE(CopyFile(dir_.File("missing"), dir_.File("new")));
  EXPECT_EQ(ReadFileBytes(dir_.File("new")), "old");
  // Nothing of the copies stays beside them.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.Path())) ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST_F(WindowsPlatform, AttributesAndTimesAreTheFileSystems) {
  const std::string path = dir_.File("EFIN.EXE");
  WriteFileBytes(path, "MZ");
  const LocalDateTime t{2021, 3, 14, 12, 34, 56, 0};
  ASSERT_TRUE(SetFileModificationTime(path, t));
  EXPECT_EQ(GetFileModificationTime(path), t);
  ASSERT_TRUE(SetFileAttributes(path, kAttrReadOnly | kAttrHidden));
  const auto attributes = GetFileAttributes(path);
  ASSERT_TRUE(attributes.has_value());
  EXPECT_EQ(*attributes & (kAttrReadOnly | kAttrHidden), kAttrReadOnly | kAttrHidden);
  EXPECT_NE(::GetFileAttributesW(std::filesystem::path(path).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  // A read-only file refuses to be written as edited, and keeps its bytes.
  EXPECT_THROW(ReplaceFileContent(path, [](File& f) { f.Write("changed"); },
                                  {.mode = ReplaceMode::kAsEdited}),
               FileSystemError);
  EXPECT_EQ(ReadFileBytes(path), "MZ");
  ASSERT_TRUE(SetFileAttributes(path, kAttrArchive));
  EXPECT_EQ(GetFileAttributes(path).value_or(0) & kAttrReadOnly, 0u);
  ASSERT_TRUE(DirectoryExists(dir_.Path()));
  EXPECT_FALSE(FileExists(dir_.Path()));
}

TEST_F(WindowsPlatform, ReplaceWritesBesideAndRenamesOver) {
  const std::string path = dir_.File("KORVA.INI");
  WriteFileBytes(path, "[old]\r\n");
  ReplaceFileContent(path, [](File& f) { f.Write(kBinary); });
  EXPECT_EQ(ReadFileBytes(path), kBinary);
  // A write that fails leaves the file as it was, and nothing beside it.
  EXPECT_THROW(ReplaceFileContent(path,
                                  [](File& f) {
                                    f.Write("half");
                                    throw FileError("stopped");
                                  }),
               FileError);
  EXPECT_EQ(ReadFileBytes(path), kBinary);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.Path())) ++entries;
  EXPECT_EQ(entries, 1u);
  // Over a read-only file when asked to overwrite.
  ASSERT_TRUE(SetFileAttributes(path, kAttrReadOnly));
  ReplaceFileContent(path, [](File& f) { f.Write("new"); });
  EXPECT_EQ(ReadFileBytes(path), "new");
}

TEST_F(WindowsPlatform, ReadsAtOffsetsBeyondFourGigabytes) {
  const std::string path = dir_.File("big.bin");
  const std::int64_t size = 5LL * 1024 * 1024 * 1024;
  {
    // A sparse extension: only the end holds bytes.
    const HANDLE h = ::CreateFileW(std::filesystem::path(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    ASSERT_TRUE(::SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(h));
    ::CloseHandle(h);
  }
  AppendToFile(path, "KORVA");
  File f = File::OpenRead(path);
  EXPECT_EQ(f.Size(), size + 5);
  char buffer[5] = {};
  ASSERT_EQ(f.ReadAt(static_cast<std::uint64_t>(size), buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(buffer, 5), "KORVA");
  EXPECT_EQ(FileSize(path), size + 5);
}

TEST(WindowsLoader, LoadsByExactPathAndLooksUpByName) {
  DynamicLibrary library(std::string(KORVA_BIN_DIR) + "/KorvaLib.dll");
  ASSERT_TRUE(library.IsLoaded()) << library.LoadError();
  EXPECT_NE(library.Lookup("ExisteAtualizacao"), nullptr);
  EXPECT_NE(library.Lookup("GetBuildInfo"), nullptr);
  EXPECT_EQ(library.Lookup("NoSuchEntry"), nullptr);

  TempDir empty;
  DynamicLibrary missing(empty.File("KorvaLib.dll"));
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_FALSE(missing.LoadError().empty());
  EXPECT_EQ(missing.Lookup("GetBuildInfo"), nullptr);
}

}  // namespace
}  // namespace korva::platform
