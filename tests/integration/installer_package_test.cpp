// Putting a module package into effect, locally and on branch folders, with
// packages made by Info-ZIP zip.
#include <gtest/gtest.h>

#include <filesystem>

#include "form/form_model.h"
#include "installer/branch_distribution.h"
#include "installer/package_extraction.h"
#include "installer/zip/zip_reader.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "support/zip_archives.h"
#include "text/cp1252.h"
#include "text/error.h"

namespace korva::installer {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ShellQuote;
using Tree = std::map<std::string, std::string>;

// Lets a test change the world while the operator looks at a question.
class ReactingShell : public testing::ScriptedShell {
 public:
  MsgButton ShowMessage(const Message& message) override {
    if (onMessage) onMessage();
    return ScriptedShell::ShowMessage(message);
  }
  std::function<void()> onMessage;
};

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app());
    testing::WriteBytes(app() + "/EFIN.EXE", "version 1");
  }
  std::string app() const { return tmp.File("app"); }

  // Zips the files (relative path -> bytes) into folder/name with Info-ZIP.
  void MakePackage(const std::string& folder, const std::string& name, const Tree& files,
                   const std::string& options = "") {
    const std::string stage = tmp.File("stage-" + std::to_string(++packages_));
    for (const auto& [path, bytes] : files) {
      fs::create_directories(fs::path(stage + "/" + path).parent_path());
      testing::WriteBytes(stage + "/" + path, bytes);
    }
    ASSERT_EQ(testing::RunCommand("cd " + ShellQuote(stage) + " && zip -q -r " + options + " " +
                                  ShellQuote(folder + "/" + name) + " ."),
              0);
  }
  bool Descompacta(const std::string& folder = "") {
    return DescompactaPacote(shell, reader, folder.empty() ? app() : folder, "EFIN.EXE",
                             "efin.zip");
  }

  testing::TempDir tmp;
  ReactingShell shell;
  ZipReader reader{shell};
  int packages_ = 0;
};

TEST_F(PackageTest, FirstUpdateSetsTheOldAsideAndASecondOverwrites) {
  MakePackage(app(), "efin.zip", {{"EFIN.EXE", "version 2"}, {"LEIAME.TXT", "notes"}});
  ASSERT_TRUE(Descompacta());
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(testing::ReadTree(app()), (Tree{{"EFIN.EXE", "version 2"},
                                            {"EFIN.Old", "version 1"},
                                            {"efin.zip", ReadBytes(app() + "/efin.zip")}}));

  // The ".Old" of the first update stays; a read-only executable is replaced.
  fs::remove(app() + "/efin.zip");
  MakePackage(app(), "efin.zip", {{"EFIN.EXE", "version 3"}});
  fs::permissions(app() + "/EFIN.EXE", fs::perms::owner_write, fs::perm_options::remove);
  ASSERT_TRUE(Descompacta());
  EXPECT_EQ(ReadBytes(app() + "/EFIN.EXE"), "version 3");
  EXPECT_EQ(ReadBytes(app() + "/EFIN.Old"), "version 1");
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(SetAsideName("/a.b/EFIN"), "/a.b/EFIN.Old");
}

Message ExtractionFailed(const std::string& folder) {
  return {"KORVA Update",
          "Falha na descompactação do arquivo em\r" + folder +
              "\rEntre em contato com o Suporte "
              "Vestramon.",
          MsgIcon::Error, kOk, kNoButton};
}

TEST_F(PackageTest, APackageWithoutTheModulesExecutableLeavesTheOldOneInPlace) {
  // Other entries are unpacked as ever; the module's own is not among them.
  MakePackage(app(), "efin.zip", {{"bin/EFIN.EXE", "in bin"}}, "-D");
  EXPECT_FALSE(Descompacta());
  EXPECT_EQ(ReadBytes(app() + "/bin/EFIN.EXE"), "in bin");
  EXPECT_EQ(ReadBytes(app() + "/EFIN.EXE"), "version 1");
  EXPECT_FALSE(fs::exists(app() + "/EFIN.Old"));
  EXPECT_EQ(shell.messages, std::vector<Message>{ExtractionFailed(app())});

  // Nothing to unpack at all.
  shell.messages.clear();
  const std::string other = tmp.File("other");
  fs::create_directories(other);
  testing::WriteBytes(other + "/EFIN.EXE", "old");
  MakePackage(other, "efin.zip", {{"LEIAME.TXT", "notes"}});
  EXPECT_FALSE(Descompacta(other));
  EXPECT_EQ(testing::ReadTree(other),
            (Tree{{"EFIN.EXE", "old"}, {"efin.zip", ReadBytes(other + "/efin.zip")}}));
  EXPECT_EQ(shell.messages, std::vector<Message>{ExtractionFailed(other)});
}

TEST_F(PackageTest, AMissingOrUnreadablePackageLeavesTheOldVersionRunnable) {
  EXPECT_FALSE(Descompacta());
  EXPECT_EQ(
      shell.messages,
      (std::vector<Message>{{"KORVA Update", "Arquivo não localizado:\r" + app() + "/efin.zip",
                             MsgIcon::Error, kOk, kNoButton}}));
  EXPECT_EQ(testing::ReadTree(app()), (Tree{{"EFIN.EXE", "version 1"}}));

  // A download cut short: the open error reaches the caller, after the put-back.
  MakePackage(app(), "efin.zip", {{"EFIN.EXE", "version 2"}});
  fs::resize_file(app() + "/efin.zip", fs::file_size(app() + "/efin.zip") / 2);
  EXPECT_THROW(Descompacta(), KorvaError);
  EXPECT_EQ(ReadBytes(app() + "/EFIN.EXE"), "version 1");
  EXPECT_FALSE(fs::exists(app() + "/EFIN.Old"));
  EXPECT_EQ(shell.messages.size(), 1u);

  // An earlier ".Old" is never moved back over the executable.
  testing::WriteBytes(app() + "/EFIN.Old", "version 0");
  fs::remove(app() + "/EFIN.EXE");
  EXPECT_THROW(Descompacta(), KorvaError);
  EXPECT_EQ(testing::ReadTree(app()),
            (Tree{{"EFIN.Old", "version 0"}, {"efin.zip", ReadBytes(app() + "/efin.zip")}}));
}

// With the maker's key a package is extracted only through the handle its
// check held: one that is there by name only (it came after the check) is
// never opened.
TEST_F(PackageTest, WithTheKeyAPackageNotHeldFromItsCheckIsNeverOpened) {
  MakePackage(app(), "efin.zip", {{"EFIN.EXE", "version 2"}});
  delivery::HeldPackage notHeld;
  EXPECT_FALSE(DescompactaPacote(shell, reader, app(), "EFIN.EXE", "efin.zip", &notHeld));
  EXPECT_EQ(shell.messages, std::vector<Message>{ExtractionFailed(app())});
  EXPECT_EQ(ReadBytes(app() + "/EFIN.EXE"), "version 1");
  EXPECT_FALSE(reader.IsOpen());
}

TEST_F(PackageTest, ACorruptExecutableIsPutToTheOperatorAndNeverReplacesTheOldOne) {
  MakePackage(app(), "efin.zip", {{"EFIN.EXE", "version 2 body"}, {"EXTRA.EXE", "x"}}, "-0");
  std::string bytes = ReadBytes(app() + "/efin.zip");
  const auto at = bytes.find("version 2 body");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'V';
  testing::WriteBytes(app() + "/efin.zip", bytes);
  const Message crc{"", "CRC error in EFIN.EXE. File processing error, possibly disk is full",
                    MsgIcon::Question, kAbort | kRetry | kIgnore, kNoButton};
  // Ignore (the other entries go on) and Abort (they do not): either way the
  // module keeps its old executable, and nothing of the bad one is left.
  for (const MsgButton answer : {kIgnore, kAbort}) {
    shell.messages.clear();
    shell.QueueAnswer(answer);
    EXPECT_FALSE(Descompacta());
    EXPECT_EQ(shell.messages, (std::vector<Message>{crc, ExtractionFailed(app())}));
    reader.Close();
    fs::remove(app() + "/EXTRA.EXE");
    EXPECT_EQ(testing::ReadTree(app()), (Tree{{"EFIN.EXE", "version 1"}, {"efin.zip", bytes}}));
  }

  // A second update (the ".Old" taken): the executable that stood there stays
  // whole too.
  testing::WriteBytes(app() + "/EFIN.Old", "version 0");
  shell.messages.clear();
  shell.QueueAnswer(kIgnore);
  EXPECT_FALSE(Descompacta());
  EXPECT_EQ(ReadBytes(app() + "/EFIN.EXE"), "version 1");
  EXPECT_EQ(ReadBytes(app() + "/EFIN.Old"), "version 0");
}

class BranchTest : public PackageTest {
 protected:
  void SetUp() override {
    PackageTest::SetUp();
    MakePackage(app(), "efin.zip", {{"EFIN.EXE", "version 2"}, {"LEIAME.TXT", "notes"}});
    for (const char* b : {"b1", "filial-são"}) {
      fs::create_directories(tmp.File(b));
      testing::WriteBytes(tmp.File(b) + "/EFIN.EXE", "version 1");
    }
    testing::WriteBytes(tmp.File("plain-file"), "");
  }
  std::vector<form::CheckList::Item> Lines() const { return form.ChkLstBxEmpresas.Items(); }
  void Distribute(const std::string& executable = "EFIN.EXE",
                  const std::string& package = "efin.zip") {
    CopiaParaFiliais({{&form.SrvRemoto1, &form.SrvRemoto2, &form.SrvRemoto3},
                      form.ChkLstBxEmpresas,
                      form.LblGravando},
                     shell, reader, app(), executable, package);
  }
  form::FormModel form;
};

TEST_F(BranchTest, ARefusedBranchIsSkippedAndTheNextOneReached) {
  const std::string unreachable = tmp.File("plain-file/sub");
  form.SrvRemoto1.SetText(unreachable);
  form.SrvRemoto2.SetText(tmp.File("filial-são"));
  form.SrvRemoto3.SetText("   ");
  shell.QueueAnswer(kNo);
  Distribute();

  EXPECT_EQ(shell.messages,
            (std::vector<Message>{{"KORVA",
                                   "Não foi possível copiar atualização para o servidor\r" +
                                       unreachable + "\rTenta novamente ?",
                                   MsgIcon::Question, kYes | kNo, kNoButton}}));
  EXPECT_TRUE(form.ChkLstBxEmpresas.Visible());
  EXPECT_EQ(Lines(), (std::vector<form::CheckList::Item>{{"Local    [OK]", true},
                                                         {"Filial 2   [OK]", true}}));
  EXPECT_EQ(form.LblGravando.Text(), "Gravando em: " + text::Upper1252(tmp.File("filial-são")));
  EXPECT_NE(form.LblGravando.Text().find("FILIAL-SÃO"), std::string::npos);
  EXPECT_EQ(testing::ReadTree(tmp.File("filial-são")),
            (Tree{{"EFIN.EXE", "version 2"}, {"EFIN.Old", "version 1"}}));
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_GT(shell.repaints, 0);
}

TEST_F(BranchTest, YesRetriesTheCopyAsOftenAsAsked) {
  const std::string later = tmp.File("later");
  form.SrvRemoto3.SetText(later);
  int questions = 0;
  shell.onMessage = [&] {
    if (++questions == 2) fs::create_directories(later);
  };
  shell.QueueAnswer(kYes);
  shell.QueueAnswer(kYes);
  Distribute();
  EXPECT_EQ(questions, 2);
  EXPECT_EQ(Lines(), (std::vector<form::CheckList::Item>{{"Local    [OK]", true},
                                                         {"Filial 3   [OK]", true}}));
  EXPECT_EQ(testing::ReadTree(later), (Tree{{"EFIN.EXE", "version 2"}}));
}

TEST_F(BranchTest, ATrailingBlankCopiesBesideButExtractsFromTheTypedFolder) {
  const std::string typed = tmp.File("b1") + " ";
  form.SrvRemoto1.SetText(typed);
  Distribute();
  EXPECT_EQ(
      shell.messages,
      (std::vector<Message>{{"KORVA Update", "Arquivo não localizado:\r" + typed + "/efin.zip",
                             MsgIcon::Error, kOk, kNoButton}}));
  EXPECT_EQ(Lines(), (std::vector<form::CheckList::Item>{{"Local    [OK]", true}}));
  // The copy stays where it went.
  EXPECT_EQ(testing::ReadTree(tmp.File("b1")),
            (Tree{{"EFIN.EXE", "version 1"}, {"efin.zip", ReadBytes(app() + "/efin.zip")}}));
}

TEST_F(BranchTest, EachCallStartsTheListAfreshAndReadsTheFieldsAgain) {
  MakePackage(app(), "ecad.zip", {{"ECAD.EXE", "cad 2"}});
  form.SrvRemoto1.SetText(tmp.File("b1"));
  Distribute();
  EXPECT_EQ(Lines().size(), 2u);
  form.SrvRemoto1.SetText("");
  form.SrvRemoto2.SetText(tmp.File("b1"));
  Distribute("ECAD.EXE", "ecad.zip");
  EXPECT_EQ(Lines(), (std::vector<form::CheckList::Item>{{"Local    [OK]", true},
                                                         {"Filial 2   [OK]", true}}));
  EXPECT_EQ(testing::ReadTree(tmp.File("b1")),
            (Tree{{"ECAD.EXE", "cad 2"}, {"EFIN.EXE", "version 2"}, {"EFIN.Old", "version 1"}}));
}

}  // namespace
}  // namespace korva::installer
