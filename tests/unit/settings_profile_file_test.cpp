#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "settings/profile_file.h"
#include "support/error_text.h"
#include "support/ini_text.h"
#include "support/temp_dir.h"
#include "text/error.h"

namespace korva::settings {
namespace {

using namespace korva::testing;

std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every read rule runs once with CR LF and once with LF line ends.
class ProfileReadRules : public ::testing::TestWithParam<const char*> {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("regras.ini");
};

TEST_P(ProfileReadRules, ReadStringFollowsTheProfileRules) {
  WriteBytes(path_, Lines({"Solta=antes de qualquer seção",
                           "[Geral]",
                           "  Nome  =  valor com  espaços  \t",
                           "Aspas=\"entre aspas\"",
                           "Simples='simples'",
                           "AspaSo=\"sem fim",
                           "Misturadas=\"x'",
                           "SoAspas=\"\"",
                           "AspasDentro=\"  a \"b\" c  \"",
                           "Vazio=",
                           "Brancos=  \t ",
                           "Dup=primeiro",
                           "dup=segundo",
                           "sem igual",
                           ";Comentario=c",
                           "Igual=a=b",
                           "[ geral ]",
                           "Outra=da segunda",
                           "[DBX]",
                           "extensão banco=.FDB",
                           "[CARTÓRIO]",
                           "Database=c:\\dados\\cart.fdb",
                           "[Sem fecho",
                           "Perdida=valor"},
                          GetParam()));
  ProfileFile ini(path_);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"Geral", "Solta", "def"},
      {"", "Solta", "def"},
      {"Geral", "Nome", "valor com  espaços"},
      {"geral", "NOME", "valor com  espaços"},
      {" Geral\t", " Nome ", "valor com  espaços"},
      {"Geral", "Aspas", "entre aspas"},
      {"Geral", "Simples", "simples"},
      {"Geral", "AspaSo", "\"sem fim"},
      {"Geral", "Misturadas", "\"x'"},
      {"Geral", "SoAspas", ""},
      {"Geral", "AspasDentro", "  a \"b\" c  "},
      {"Geral", "Vazio", ""},
      {"Geral", "Brancos", ""},
      {"Geral", "Dup", "primeiro"},
      {"Geral", "DUP", "primeiro"},
      {"Geral", "sem igual", "def"},
      {"Geral", ";Comentario", "def"},
      {"Geral", "Igual", "a=b"},
      {"Geral", "Outra", "def"},
      {"DBX", "Extensão Banco", ".FDB"},
      {"dbx", "EXTENSÃO BANCO", ".FDB"},
      {"cartório", "database", "c:\\dados\\cart.fdb"},
      {"CARTÓRIO", "Perdida", "valor"},
      {"Sem fecho", "Perdida", "def"},
      {"Nada", "Nome", "def"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ini.ReadString(c.section, c.key, "def"), c.expected)
        << "[" << c.section << "] " << c.key;
  }
  EXPECT_EQ(ini.ReadSection("GERAL"),
            (std::vector<std::string>{"Nome", "Aspas", "Simples", "AspaSo", "Misturadas", "SoAspas",
                                      "AspasDentro", "Vazio", "Brancos", "Dup", "dup", "Igual"}));
  EXPECT_TRUE(ini.ValueExists("Geral", "vazio"));
  EXPECT_TRUE(ini.ValueExists("Geral", "DUP"));
  EXPECT_FALSE(ini.ValueExists("Geral", "sem igual"));
  EXPECT_FALSE(ini.ValueExists("Geral", "Outra"));
  EXPECT_FALSE(ini.ValueExists("Nada", "Nome"));
  EXPECT_TRUE(ini.ReadSection("Nada").empty());
}

TEST_P(ProfileReadRules, ReadIntegerTakesOnlyWholeNumbers) {
  WriteBytes(path_, Lines({"[UPDATE]",
                           "TIPO_FTP=0x1",
                           "hexmaior=0X1F",
                           "ruim=1a",
                           "vazio=",
                           "dolar=$1F",
                           "neg=-5",
                           "mais=+7",
                           "xis=x10",
                           "grande=2147483647",
                           "excede=2147483648",
                           "menor=-2147483648",
                           "hexcheio=$FFFFFFFF",
                           "sinalhex=-0x1",
                           "zerox=0x",
                           "aspas=\" 12\"",
                           "fimbranco=\"12 \"",
                           "decimal=1.5",
                           "espaco=1 2",
                           "cifrao=$"},
                          GetParam()));
  ProfileFile ini(path_);
  struct Case {
    const char* key;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {"TIPO_FTP", 1},       {"hexmaior", 31}, {"ruim", -99},        {"vazio", -99},
      {"dolar", 31},         {"neg", -5},      {"mais", 7},          {"xis", 16},
      {"grande", INT32_MAX}, {"excede", -99},  {"menor", INT32_MIN}, {"hexcheio", -1},
      {"sinalhex", -99},     {"zerox", -99},   {"aspas", 12},        {"fimbranco", -99},
      {"decimal", -99},      {"espaco", -99},  {"cifrao", -99},      {"ausente", -99},
  };
  for (const Case& c : cases) EXPECT_EQ(ini.ReadInteger("UPDATE", c.key, -99), c.expected) << c.key;
  EXPECT_EQ(ini.ReadInteger("OUTRA", "TIPO_FTP", 3), 3);
}

TEST_P(ProfileReadRules, LongValuesAreCutTo2047Characters) {
  const std::string value(3000, 'v');
  // Not "literal" + std::string: GCC 12 at -O3 sees a false overlap there.
  std::string quoted(2048, 'q');
  quoted.front() = quoted.back() = '"';
  WriteBytes(path_, Lines({"[S]", "Longo=" + value, "Citado=\"" + value + "\"", "Justo=" + quoted,
                           "Depois=ok"},
                          GetParam()));
  ProfileFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "Longo", ""), value.substr(0, 2047));
  EXPECT_EQ(ini.ReadString("S", "Citado", ""), value.substr(0, 2047));
  EXPECT_EQ(ini.ReadString("S", "Justo", ""), std::string(2046, 'q'));
  EXPECT_EQ(ini.ReadString("S", "Depois", ""), "ok");
}

// A script package: S<group>_<line> keys. The key-name list holds 16 384
// bytes (each name plus one, the list one more): S1_1..S1_999 take 6 885 of
// them, 1 187 names of 7 characters the next 9 496, leaving room for one
// character of S1_2187.
TEST_P(ProfileReadRules, TheKeyListStopsAt16384BytesWhileReadStringFindsEveryKey) {
  std::vector<std::string> lines{"[3.1.12]"};
  for (int i = 1; i <= 3000; ++i) {
    lines.push_back("S1_" + std::to_string(i) + "=UPDATE T SET C = " + std::to_string(i));
  }
  lines.push_back("[OUTRA]");
  lines.push_back("S1_1=outra");
  WriteBytes(path_, Lines(lines, GetParam()));
  ProfileFile ini(path_);
  const auto names = ini.ReadSection("3.1.12");
  ASSERT_EQ(names.size(), 2187u);
  EXPECT_EQ(names.front(), "S1_1");
  EXPECT_EQ(names[2185], "S1_2186");
  EXPECT_EQ(names.back(), "S");
  EXPECT_TRUE(ini.ValueExists("3.1.12", "S1_1"));
  EXPECT_TRUE(ini.ValueExists("3.1.12", "s1_2186"));
  EXPECT_FALSE(ini.ValueExists("3.1.12", "S1_2187"));
  EXPECT_FALSE(ini.ValueExists("3.1.12", "S1_3000"));
  // The cut name is in the list as it stands.
  EXPECT_TRUE(ini.ValueExists("3.1.12", "S"));
  EXPECT_EQ(ini.ReadString("3.1.12", "S1_2187", ""), "UPDATE T SET C = 2187");
  EXPECT_EQ(ini.ReadString("3.1.12", "S1_3000", ""), "UPDATE T SET C = 3000");
  for (int i = 1; i <= 3000; i += 97) {
    EXPECT_EQ(ini.ReadString("3.1.12", "S1_" + std::to_string(i), ""),
              "UPDATE T SET C = " + std::to_string(i));
  }
}

TEST_P(ProfileReadRules, AMissingFileGivesDefaults) {
  ProfileFile ini(dir_.File("nao-existe.ini"));
  EXPECT_EQ(ini.ReadString("A", "B", "padrão"), "padrão");
  EXPECT_EQ(ini.ReadInteger("A", "B", 7), 7);
  EXPECT_TRUE(ini.ReadSection("A").empty());
  EXPECT_FALSE(ini.ValueExists("A", "B"));
  // A folder under the name is no file either.
  ProfileFile folder(dir_.Path());
  EXPECT_EQ(folder.ReadString("A", "B", "padrão"), "padrão");
}

INSTANTIATE_TEST_SUITE_P(LineEnds, ProfileReadRules, ::testing::ValuesIn(kLineEnds), LineEndName);

class ProfileWrites : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("KORVA.INI");
};

TEST_F(ProfileWrites, CreatesTheFileSectionAndKeyWithCrLf) {
  ProfileFile ini(path_);
  ini.WriteString("UPDATE", "PASTA", "c:\\korva");
  EXPECT_EQ(ReadBytes(path_), "[UPDATE]\r\nPASTA=c:\\korva\r\n");
  ini.WriteString("UPDATE", "TIPO_FTP", "1");
  ini.WriteString("BACKUP", "Ultimo", "");
  ini.WriteInteger("UPDATE", "PORTA", -21);
  EXPECT_EQ(ReadBytes(path_),
            "[UPDATE]\r\nPASTA=c:\\korva\r\nTIPO_FTP=1\r\nPORTA=-21\r\n[BACKUP]\r\nUltimo=\r\n");
  EXPECT_EQ(ini.ReadInteger("UPDATE", "PORTA", 0), -21);
  EXPECT_EQ(ini.ReadString("BACKUP", "Ultimo", "def"), "");
  // A long value is written whole; reads cut it.
  const std::string value(3000, 'z');
  ini.WriteString("BACKUP", "Ultimo", value);
  EXPECT_EQ(ReadBytes(path_),
            "[UPDATE]\r\nPASTA=c:\\korva\r\nTIPO_FTP=1\r\nPORTA=-21\r\n[BACKUP]\r\nUltimo=" +
                value + "\r\n");
  EXPECT_EQ(ini.ReadString("BACKUP", "Ultimo", ""), value.substr(0, 2047));
}

TEST_F(ProfileWrites, ReplacesTheFirstKeyInPlaceAndKeepsEveryOtherLine) {
  // LF lines stay LF; only the written line gets CR LF.
  WriteBytes(path_,
             "; configuração da estação\n"
             "[UPDATE]\n"
             "  tipo_ftp = 0  ; antigo\n"
             "# outro comentário\n"
             "TIPO_FTP=segundo\n"
             "\n"
             "[update]\n"
             "TIPO_FTP=repetida\n");
  ProfileFile ini(path_);
  ini.WriteString("Update", "TIPO_FTP", "1");
  EXPECT_EQ(ReadBytes(path_),
            "; configuração da estação\n"
            "[UPDATE]\n"
            "tipo_ftp=1\r\n"
            "# outro comentário\n"
            "TIPO_FTP=segundo\n"
            "\n"
            "[update]\n"
            "TIPO_FTP=repetida\n");
  EXPECT_EQ(ini.ReadInteger("UPDATE", "TIPO_FTP", 0), 1);
}

TEST_F(ProfileWrites, ANewKeyGoesAfterTheLastLineOfItsSection) {
  WriteBytes(path_,
             "[A]\r\n"
             "k=1\r\n"
             "; fim de A\r\n"
             "\r\n"
             "  \r\n"
             "[B]\r\n"
             "k=2");
  ProfileFile ini(path_);
  ini.WriteString("A", "novo", "x");
  ini.WriteString("B", "novo", "y");
  EXPECT_EQ(ReadBytes(path_),
            "[A]\r\n"
            "k=1\r\n"
            "; fim de A\r\n"
            "novo=x\r\n"
            "\r\n"
            "  \r\n"
            "[B]\r\n"
            "k=2\r\n"
            "novo=y\r\n");
}

TEST_F(ProfileWrites, ANewSectionGoesAtTheEndOfTheFile) {
  WriteBytes(path_, "[A]\nk=1");
  ProfileFile ini(path_);
  ini.WriteString("CARTÓRIO", "Database", "c:\\dados\\cart.fdb");
  EXPECT_EQ(ReadBytes(path_), "[A]\nk=1\r\n[CARTÓRIO]\r\nDatabase=c:\\dados\\cart.fdb\r\n");
  // Found again without regard to case, accents included.
  ini.WriteString("cartório", "database", "d:\\x.fdb");
  EXPECT_EQ(ReadBytes(path_), "[A]\nk=1\r\n[CARTÓRIO]\r\nDatabase=d:\\x.fdb\r\n");
  // A "[" line without "]" is no section: the key is added as new one.
  WriteBytes(path_, "[Sem fecho\nk=1\n");
  ini.WriteString("Sem fecho", "k", "2");
  EXPECT_EQ(ReadBytes(path_), "[Sem fecho\nk=1\n[Sem fecho]\r\nk=2\r\n");
}

TEST_F(ProfileWrites, ARefusedWriteFailsAndLeavesTheFileAsItWas) {
  const std::string original = "[UPDATE]\r\nTIPO_FTP=0\r\n";
  WriteBytes(path_, original);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  ProfileFile ini(path_);
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("UPDATE", "TIPO_FTP", "1"); }),
            "Unable to write to " + path_);
  EXPECT_EQ(ReadBytes(path_), original);
  EXPECT_EQ(ini.ReadInteger("UPDATE", "TIPO_FTP", 9), 0);

  const std::string missing = dir_.File("sem-pasta/KORVA.INI");
  ProfileFile nowhere(missing);
  EXPECT_EQ(ErrorOf([&] { nowhere.WriteInteger("UPDATE", "TIPO_FTP", 1); }),
            "Unable to write to " + missing);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("sem-pasta")));

  ProfileFile folder(dir_.Path());
  EXPECT_EQ(ErrorOf([&] { folder.WriteString("A", "B", "C"); }),
            "Unable to write to " + dir_.Path());

  // Nothing is left beside the file.
  EXPECT_EQ(FolderListing(dir_.Path()), std::vector<std::string>{"KORVA.INI"});
}

TEST_F(ProfileWrites, TextsThatALineCannotHoldAreRefusedBeforeAnythingIsWritten) {
  const std::string original = "[A]\r\nk=1\r\n";
  WriteBytes(path_, original);
  ProfileFile ini(path_);
  const std::string refused =
      "Unable to write to " + path_ + ": a section, key or value that a profile line cannot hold";
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("A", "k", "1\r\n[B]\r\nx=2"); }), refused);
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("A", "k", "a\rb"); }), refused);
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("A", "a=b", "1"); }), refused);
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("A", "  ", "1"); }), refused);
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("A", ";nota", "1"); }), refused);
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("A", "[B]", "1"); }), refused);
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("A]x", "k", "1"); }), refused);
  EXPECT_EQ(ReadBytes(path_), original);
}

#ifndef _WIN32  // POSIX permissions and symbolic links
TEST_F(ProfileWrites, WritingKeepsTheFilePermissionsAndWritesThroughALink) {
  WriteBytes(path_, "[A]\r\nk=1\r\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  const std::string link = dir_.File("atalho.ini");
  ASSERT_EQ(::symlink(path_.c_str(), link.c_str()), 0);
  ProfileFile ini(link);
  ini.WriteString("A", "k", "2");
  EXPECT_EQ(ReadBytes(path_), "[A]\r\nk=2\r\n");
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}
#endif

// Another program changes the file between two reads; the next read sees it.
class ProfileChangesOnDisk : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("pacote.ini");
};

// Same-size rewrites right after a read, by this process and by another one.
TEST_F(ProfileChangesOnDisk, ASameSizeRewriteRightAwayIsSeen) {
  ProfileFile ini(path_);
#ifdef _WIN32
  const int rewrites = 200;  // no shell of the Linux side to rewrite it
#else
  const int rewrites = 220;
#endif
  for (int i = 0; i < rewrites; ++i) {
    const std::string value = std::to_string(1000 + i);
    if (i < 200) {
      WriteBytes(path_, "[S]\r\nS1_1=" + value + "\r\n");
    } else {
      const std::string command = "printf '[S]\\r\\nS1_1=" + value + "\\r\\n' > '" + path_ + "'";
      ASSERT_EQ(std::system(command.c_str()), 0);
    }
    ASSERT_EQ(ini.ReadString("S", "S1_1", ""), value) << i;
    ASSERT_TRUE(ini.ValueExists("S", "S1_1"));
  }
}

#ifndef _WIN32  // the change time that tells is POSIX's
TEST_F(ProfileChangesOnDisk, ASettledCopyStillSeesRewritesWithTheOldTimeRestored) {
  WriteBytes(path_, "[S]\r\nA=1\r\n");
  ProfileFile ini(path_);
  ::usleep(150'000);  // the copy is past the time stamp window
  EXPECT_EQ(ini.ReadString("S", "A", ""), "1");
  EXPECT_EQ(ini.ReadString("S", "A", ""), "1");
  struct stat before {};
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  // Same size, in place, and the modification time put back as tools that
  // keep times do: only the change time tells.
  const int fd = ::open(path_.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "2", 1, 7), 1);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::futimens(fd, times), 0);
  ::close(fd);
  EXPECT_EQ(ini.ReadString("S", "A", ""), "2");
}
#endif

TEST_F(ProfileChangesOnDisk, ReplacementAndDeletionAreSeen) {
  WriteBytes(path_, "[S]\r\nA=1\r\n");
  ProfileFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "A", ""), "1");
  const std::string other = dir_.File("novo.ini");
  WriteBytes(other, "[S]\r\nA=2\r\n");
  std::filesystem::rename(other, path_);  // replaces, on Windows too
  EXPECT_EQ(ini.ReadString("S", "A", ""), "2");
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  EXPECT_EQ(ini.ReadString("S", "A", "sumiu"), "sumiu");
  WriteBytes(path_, "[S]\r\nA=3\r\n");
  EXPECT_EQ(ini.ReadString("S", "A", ""), "3");
  // Our own write is seen by every reader of the file.
  ProfileFile writer(path_);
  writer.WriteString("S", "A", "4");
  EXPECT_EQ(ini.ReadString("S", "A", ""), "4");
}

// Whatever the bytes, reads never fail and give defaults where nothing
// readable is; a write keeps the bytes it does not replace.
class ProfileBadInput : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("ruim.ini");
};

TEST_F(ProfileBadInput, GarbageNulBytesAndHeadersWithoutBracketGiveDefaults) {
  std::mt19937 random(1234);
  std::string garbage(1 << 20, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  const std::vector<std::string> files = {
      garbage,
      std::string(1 << 20, 'x'),             // no line end at all
      "[S\r\nA=1\r\n",                       // header without "]"
      std::string("[S]\r\nA\0B=1\r\n", 12),  // NUL inside a name
      std::string("\0\0\0[S]\0\r\n", 9),
      "\r\r\r\n\n\r",
      "[S]\r\n=sem nome\r\n",
  };
  for (const std::string& bytes : files) {
    WriteBytes(path_, bytes);
    ProfileFile ini(path_);
    EXPECT_EQ(ini.ReadString("S", "A", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("S", "A", 5), 5);
    EXPECT_FALSE(ini.ValueExists("S", "A"));
    ini.ReadSection("S");
  }
  WriteBytes(path_, std::string("[S]\r\nA\0B=1\r\nC=x\0y\r\n", 19));
  ProfileFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", std::string("A\0B", 3), ""), "1");
  EXPECT_EQ(ini.ReadString("S", "C", ""), std::string("x\0y", 3));
}

TEST_F(ProfileBadInput, A50MegabyteLineIsReadAndKeptByAWrite) {
  std::string big = "[S]\nK=";
  big.append(50u << 20, 'a');
  big += "\n[T]\nx=1\n";
  WriteBytes(path_, big);
  ProfileFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2047, 'a'));
  EXPECT_EQ(ini.ReadString("T", "x", ""), "1");
  ini.WriteString("T", "x", "2");
  const std::string after = ReadBytes(path_);
  EXPECT_EQ(after.size(), big.size() + 1);
  EXPECT_EQ(after.substr(after.size() - 6), "\nx=2\r\n");
  EXPECT_EQ(after.compare(0, big.size() - 4, big, 0, big.size() - 4), 0);
}

TEST_F(ProfileBadInput, AWriteIntoGarbageKeepsEveryByte) {
  std::mt19937 random(99);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(random() % 256);
  // Whatever the garbage holds, a section named by 0x01 bytes is in none of it.
  WriteBytes(path_, garbage);
  ProfileFile ini(path_);
  ini.WriteString("\x01\x01\x01", "k", "v");
  const std::string after = ReadBytes(path_);
  ASSERT_GE(after.size(), garbage.size());
  EXPECT_EQ(after.substr(0, garbage.size()), garbage);
  EXPECT_EQ(ini.ReadString("\x01\x01\x01", "k", ""), "v");
}

}  // namespace
}  // namespace korva::settings
