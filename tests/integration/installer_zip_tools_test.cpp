// Packages made by the archivers people actually use, read by our reader and
// by Info-ZIP unzip: the same bytes, times and read-only state must come out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "installer/zip/zip_reader.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "support/zip_archives.h"

namespace korva::installer {
namespace {

namespace fs = std::filesystem;
using testing::ShellQuote;

struct Tool {
  const char* name;
  const char* program;
  // Run in the source folder; writes ../pkg.zip.
  const char* command;
};

// Python's zipfile: deflated, stored, or written to a pipe, which cannot
// seek back and so gets data descriptors.
const char* const kPythonMaker = R"(import os, sys, zipfile
mode = sys.argv[1]
method = zipfile.ZIP_STORED if mode == 'stored' else zipfile.ZIP_DEFLATED
out = sys.stdout.buffer if mode == 'stream' else open('../pkg.zip', 'wb')
with zipfile.ZipFile(out, 'w', method) as zf:
    for folder, dirs, files in sorted(os.walk('.')):
        for name in sorted(dirs + files):
            zf.write(os.path.join(folder, name))
)";

const Tool kTools[] = {
    {"InfoZipDeflated", "zip", "zip -q -r ../pkg.zip ."},
    {"InfoZipStored", "zip", "zip -q -r -0 ../pkg.zip ."},
    {"InfoZipWithoutFolders", "zip", "zip -q -r -D ../pkg.zip ."},
    {"PythonDeflated", "/usr/bin/python3", "/usr/bin/python3 ../make.py deflated"},
    {"PythonStored", "/usr/bin/python3", "/usr/bin/python3 ../make.py stored"},
    {"PythonStreamed", "/usr/bin/python3", "/usr/bin/python3 ../make.py stream | cat > ../pkg.zip"},
    {"SevenZip", "7z", "7z a -tzip -bd -bso0 ../pkg.zip ."},
    {"Bsdtar", "bsdtar", "bsdtar --format zip -cf ../pkg.zip ."},
    {"Jar", "jar", "jar cfM ../pkg.zip ."},
};

std::string Mixed(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes;
  while (bytes.size() < size) {
    if (random() % 2) {
      for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(random());
    } else {
      for (int i = 0; i < 200; ++i) bytes += "MOV AX, " + std::to_string(i) + "\r\n";
    }
  }
  bytes.resize(size);
  return bytes;
}

struct SourceFile {
  const char* path;
  std::string bytes;
  const char* time;
  bool readOnly;
};

class ZipTools : public ::testing::TestWithParam<Tool> {
 protected:
  void SetUp() override {
    if (!testing::ToolAvailable(GetParam().program)) GTEST_SKIP() << GetParam().program;
    const SourceFile files[] = {
        {"EFIN.EXE", Mixed(3'000'000, 1), "2023-05-06 07:08:10", false},
        {"bin/ECAD.EXE", Mixed(200'000, 2), "2019-12-31 23:59:58", false},
        {"RO.EXE", "read-only", "2024-02-29 12:00:00", true},
        {"EMPTY.EXE", "", "2001-01-01 00:00:00", false},
        {"lower.exe", Mixed(1000, 3), "2022-07-15 18:30:44", false},
        {"LEIAME.TXT", "not an executable", "2022-07-15 18:30:44", false},
        {"docs/NOTES.TXT", "notes", "2022-07-15 18:30:44", false},
    };
    for (const SourceFile& f : files) {
      const std::string path = Source(f.path);
      fs::create_directories(fs::path(path).parent_path());
      testing::WriteBytes(path, f.bytes);
      ASSERT_EQ(testing::RunCommand("touch -d " + ShellQuote(f.time) + " " + ShellQuote(path)), 0);
      if (f.readOnly) fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
    }
    testing::WriteBytes(tmp.File("make.py"), kPythonMaker);
    ASSERT_EQ(testing::RunCommand("cd " + ShellQuote(tmp.File("src")) + " && { " +
                                  GetParam().command + "; } >/dev/null"),
              0);
  }
  std::string Source(const std::string& relative) const { return tmp.File("src/" + relative); }

  testing::TempDir tmp;
};

struct FileState {
  std::int64_t mtime;
  bool writable;
  bool operator==(const FileState&) const = default;
};

FileState StateOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {st.st_mtime, (st.st_mode & S_IWUSR) != 0};
}

TEST_P(ZipTools, ExtractsTheExecutablesAsUnzipDoes) {
  testing::ScriptedShell shell;
  ZipReader reader(shell);
  reader.SetBaseFolder(tmp.File("ours") + "/");
  reader.Open(tmp.File("pkg.zip"));
  reader.ExtractFiles("*.EXE");
  reader.Close();
  EXPECT_TRUE(shell.messages.empty()) << shell.messages.front().text;

  ASSERT_EQ(testing::RunCommand("unzip -qq -o -C " + ShellQuote(tmp.File("pkg.zip")) +
                                " '*.exe' -d " + ShellQuote(tmp.File("theirs"))),
            0);
  const auto ours = testing::ReadTree(tmp.File("ours"));
  EXPECT_EQ(ours, testing::ReadTree(tmp.File("theirs")));
  std::vector<std::string> names;
  for (const auto& [name, bytes] : ours) {
    names.push_back(name);
    if (bytes == "/") continue;
    EXPECT_EQ(bytes, testing::ReadBytes(Source(name))) << name;
    EXPECT_EQ(StateOf(tmp.File("ours/" + name)).mtime, StateOf(Source(name)).mtime) << name;
    EXPECT_EQ(StateOf(tmp.File("ours/" + name)).writable,
              StateOf(tmp.File("theirs/" + name)).writable)
        << name;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"EFIN.EXE", "EMPTY.EXE", "RO.EXE", "bin",
                                             "bin/ECAD.EXE", "lower.exe"}));
}

INSTANTIATE_TEST_SUITE_P(Archivers, ZipTools, ::testing::ValuesIn(kTools),
                         [](const ::testing::TestParamInfo<Tool>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace korva::installer
