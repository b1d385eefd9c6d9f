#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "settings/big_ini_file.h"
#include "support/ini_text.h"
#include "support/temp_dir.h"
#include "text/error.h"

namespace korva::settings {
namespace {

using namespace korva::testing;

using Names = std::vector<std::string>;

// A failure names the file and the system's reason, in the system's words:
// on Windows (and Wine, differently again) not the POSIX ones.
void ExpectFailureOf(const std::string& text, const std::string& path,
                     const std::string& posixReason) {
#ifdef _WIN32
  (void)posixReason;
  EXPECT_TRUE(text.starts_with(path + ": ")) << text;
  EXPECT_GT(text.size(), path.size() + 2) << text;
#else
  EXPECT_EQ(text, path + ": " + posixReason);
#endif
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st;
}

class BigIniLineEnds : public ::testing::TestWithParam<const char*> {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("scriptEMPRESA.ini");
  std::string content_ =
      Lines({"linha solta antes de tudo", "; comentário solto", "[3.1.10]", "S1_1=UPDATE A", "",
             "S1_2=  com brancos  ", "sem igual", "[Vazia]", "[3.1.11]", "S1_1=UPDATE B",
             "[3.1.10]", "S1_1=repetida", "[3.1.12]", "S1_1=UPDATE C"},
            GetParam());
};

TEST_P(BigIniLineEnds, ReleaseAfterEraseWritesEachSectionWithOneEmptyLineAfterIt) {
  WriteBytes(path_, content_);
  TBigIniFile ini(path_);
  EXPECT_EQ(ini.ReadSections(), (Names{"3.1.10", "Vazia", "3.1.11", "3.1.12"}));
  ini.EraseSection("3.1.11");
  EXPECT_EQ(ini.ReadSections(), (Names{"3.1.10", "Vazia", "3.1.12"}));
  EXPECT_TRUE(ini.Changed());
  ini.Release();
  // The leading lines, the section without lines, the repeated section and
  // the empty line are gone; the rest is kept as read.
  EXPECT_EQ(ReadBytes(path_),
            "[3.1.10]\r\nS1_1=UPDATE A\r\nS1_2=  com brancos  \r\nsem igual\r\n\r\n"
            "[3.1.12]\r\nS1_1=UPDATE C\r\n\r\n");
  EXPECT_TRUE(ini.ReadSections().empty());
}

TEST_P(BigIniLineEnds, WithoutAnEraseTheFileIsLeftUntouched) {
  WriteBytes(path_, content_ + "\x1A lixo depois do fim");
  const struct stat before = StatOf(path_);
  {
    TBigIniFile ini(path_);
    EXPECT_EQ(ini.ReadSections().size(), 4u);
    ini.EraseSection("não existe");
    EXPECT_FALSE(ini.Changed());
    ini.Release();
  }
  {
    TBigIniFile ini(path_);  // released by its destructor
  }
  EXPECT_EQ(ReadBytes(path_), content_ + "\x1A lixo depois do fim");
  const struct stat after = StatOf(path_);
  EXPECT_EQ(after.st_ino, before.st_ino);
#ifdef _WIN32
  EXPECT_EQ(after.st_mtime, before.st_mtime);
#else
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
#endif
}

INSTANTIATE_TEST_SUITE_P(LineEnds, BigIniLineEnds, ::testing::ValuesIn(kLineEnds), LineEndName);

class BigIni : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("scriptCARTORIO.ini");
};

TEST_F(BigIni, CtrlZEndsTheFileAndWhatFollowsIsLostOnRewrite) {
  WriteBytes(path_, "[A]\r\na=1\r\n[B]\r\nb=2\x1A\r\n[C]\r\nc=3\r\n");
  TBigIniFile ini(path_);
  EXPECT_EQ(ini.ReadSections(), (Names{"A", "B"}));
  ini.EraseSection("A");
  ini.Release();
  EXPECT_EQ(ReadBytes(path_), "[B]\r\nb=2\r\n\r\n");
}

TEST_F(BigIni, EraseFindsTheSectionWithoutRegardToCase) {
  WriteBytes(path_, "[CARTÓRIO]\nx=1\n[Outra]\ny=2\n");
  TBigIniFile ini(path_);
  ini.EraseSection("cartório");
  EXPECT_EQ(ini.ReadSections(), (Names{"Outra"}));
  ini.EraseSection("OUTRA");
  EXPECT_TRUE(ini.ReadSections().empty());
  ini.Release();
  EXPECT_EQ(ReadBytes(path_), "");
}

TEST_F(BigIni, HeadersNeedBracketsAtBothEndsAndKeepTheirBlanks) {
  WriteBytes(path_,
             "[ com brancos ]\n"
             "[X] \n"  // last character is a blank: a line of the section
             " [Y]\n"  // first character is a blank: also a line
             "[]\n"
             "vazio=1\n"
             "[\n"
             "[Z\n"
             "a\rb\r\n"  // a CR on its own is dropped
             "[Fim]\n"
             "f=1");
  TBigIniFile ini(path_);
  EXPECT_EQ(ini.ReadSections(), (Names{" com brancos ", "", "Fim"}));
  ini.EraseSection("Fim");
  ini.Release();
  EXPECT_EQ(ReadBytes(path_),
            "[ com brancos ]\r\n[X] \r\n [Y]\r\n\r\n"
            "[]\r\nvazio=1\r\n[\r\n[Z\r\nab\r\n\r\n");
}

TEST_F(BigIni, AMissingFileHasNoSectionsAndIsNotCreated) {
  {
    TBigIniFile ini(path_);
    EXPECT_TRUE(ini.ReadSections().empty());
    ini.EraseSection("3.1.1");
    ini.Release();
  }
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(BigIni, AFileThatCannotBeRewrittenFailsAndKeepsItsContent) {
  const std::string original = "[A]\r\na=1\r\n[B]\r\nb=1\r\n";
  WriteBytes(path_, original);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  TBigIniFile ini(path_);
  ini.EraseSection("A");
  try {
    ini.Release();
    FAIL() << "no failure";
  } catch (const FileError& e) {
    ExpectFailureOf(e.what(), path_, "Permission denied");
  }
  EXPECT_EQ(ReadBytes(path_), original);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, Names{"scriptCARTORIO.ini"});
}

TEST_F(BigIni, AFolderUnderTheNameFailsToOpen) {
  try {
    TBigIniFile ini(dir_.Path());
    FAIL() << "no failure";
  } catch (const FileError& e) {
    ExpectFailureOf(e.what(), dir_.Path(), "Is a directory");
  }
}

TEST_F(BigIni, BadInputNeverBreaksOpenOrRelease) {
  std::mt19937 random(7);
  std::string garbage(1 << 20, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  std::string hugeLine = "[S]\n";
  hugeLine.append(50u << 20, 'x');
  hugeLine += "\n[T]\nt=1\n";
  const std::vector<std::string> files = {
      garbage,
      std::string(1 << 20, 'y'),  // no line end
      "[sem fecho\nA=1\n",
      std::string("[S]\0\n[N\0]\nk\0=1\n", 15),
      hugeLine,
  };
  for (const std::string& bytes : files) {
    WriteBytes(path_, bytes);
    TBigIniFile ini(path_);
    const Names sections = ini.ReadSections();
    if (!sections.empty()) ini.EraseSection(sections.back());
    ini.Release();
    // What was rewritten opens again to the same sections.
    TBigIniFile again(path_);
    if (!sections.empty()) {
      const Names rest = again.ReadSections();
      EXPECT_LE(rest.size(), sections.size());
    }
  }
  // The 50 MB line survives the rewrite whole.
  const std::string after = ReadBytes(path_);
  EXPECT_EQ(after.size(), 5 + (50u << 20) + 2 + 2);
  EXPECT_EQ(after.substr(0, 5), "[S]\r\n");
}

TEST_F(BigIni, NulBytesAreKeptAsRead) {
  WriteBytes(path_, std::string("[S]\0\n[N\0]\nk\0=1\n[T]\nt\n", 21));
  TBigIniFile ini(path_);
  EXPECT_EQ(ini.ReadSections(), (Names{std::string("N\0", 2), "T"}));
  ini.EraseSection("T");
  ini.Release();
  EXPECT_EQ(ReadBytes(path_), std::string("[N\0]\r\nk\0=1\r\n\r\n", 14));
}

}  // namespace
}  // namespace korva::settings
