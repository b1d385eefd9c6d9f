// "Gerar Script" through its menu handler: the next version's statements from
// the local script file to SCRIPT_<group>.TXT in the working directory, exact
// bytes, and the page the handler insists on.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/site_builder.h"
#include "support/temp_dir.h"

namespace korva {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;
using Files = std::map<std::string, std::string>;

const Message kDone{"KORVA", "Script gerado com sucesso", MsgIcon::Information, kOk, kOk};
const Message kWrongPage{"KORVA", "Você deve estar na página que informa sobre backup",
                         MsgIcon::Information, kOk, kOk};

class ScriptExport : public ::testing::Test {
 protected:
  // The operator's working directory is a scratch one for each test.
  void SetUp() override {
    saved = std::filesystem::current_path();
    std::filesystem::current_path(work.Path());
    s.session.run.scriptFilePath = site.File("scriptEMPRESA.ini");
    s.session.database.nextVersion = "1.0.5";
  }
  void TearDown() override { std::filesystem::current_path(saved); }

  // The local script file: an older section, then the next version's.
  void Script(const std::string& nextSection) {
    WriteBytes(s.session.run.scriptFilePath,
               "[1.0.4]\r\nS1_1=OLD\r\nS2_1=OLD\r\n[1.0.5]\r\n" + nextSection);
  }
  void Export(form::TextControl& page) {
    s.shell.messages.clear();
    s.form.ShowPage(page);
    s.principal.Dispatch([this] { s.principal.GerarScript1Click(); });
    EXPECT_EQ(s.session.currentProfileFile, nullptr);
  }
  void Export() { Export(s.form.TbShtBackup); }
  // Every file in the working directory with its bytes.
  static Files Written() {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator("."))
      if (entry.is_regular_file())
        files[entry.path().filename().string()] = ReadBytes(entry.path().string());
    return files;
  }

  testing::TempDir work;
  testing::TempDir site;
  std::filesystem::path saved;
  testing::SiteSession s{site.Path()};
};

TEST_F(ScriptExport, EachGroupBecomesOneFileOfItsNonEmptyLines) {
  const struct {
    const char* section;
    Files files;
  } cases[] = {
      {"S1_2=b\r\nS2_1=c\r\nS1_1=UPDATE T SET N = 'ação'\r\n",
       {{"SCRIPT_1.TXT", "UPDATE T SET N = 'ação'\r\nb\r\n"}, {"SCRIPT_2.TXT", "c\r\n"}}},
      {"S1_1=a\r\nS1_3=c\r\n", {{"SCRIPT_1.TXT", "a\r\nc\r\n"}}},
      {"S1_1=\r\nS1_2=b\r\n", {{"SCRIPT_1.TXT", "b\r\n"}}},
      {"S1_1=a\r\nS3_1=c\r\n", {{"SCRIPT_1.TXT", "a\r\n"}}},
      {"S1_1500=z\r\nS1_1501=y\r\n", {{"SCRIPT_1.TXT", "z\r\n"}}},
      {"S1_0=a\r\nS2_1=b\r\n", {}},
  };
  for (const auto& c : cases) {
    for (const auto& [name, bytes] : Written()) std::filesystem::remove(name);
    Script(c.section);
    Export();
    EXPECT_EQ(Written(), c.files) << c.section;
    EXPECT_EQ(s.shell.messages, std::vector<Message>{kDone}) << c.section;
  }
}

TEST_F(ScriptExport, AMissingScriptFileWritesNothingAndStillSaysDone) {
  Export(s.form.TbShtVerificaAtualizacoes);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(s.shell.messages, std::vector<Message>{kDone});
}

TEST_F(ScriptExport, ASecondRunReplacesItsFilesAndLeavesLaterGroupsOfAnEarlierExport) {
  WriteBytes("SCRIPT_1.TXT", "older and longer\r\n");
  WriteBytes("SCRIPT_3.TXT", "earlier export\r\n");
  Script("S1_1=a\r\nS2_1=b\r\n");
  Export();
  Export();
  EXPECT_EQ(Written(), (Files{{"SCRIPT_1.TXT", "a\r\n"},
                              {"SCRIPT_2.TXT", "b\r\n"},
                              {"SCRIPT_3.TXT", "earlier export\r\n"}}));
  EXPECT_EQ(s.shell.messages, std::vector<Message>{kDone});
}

TEST_F(ScriptExport, OnAnyOtherPageOnlyThePageMessage) {
  Script("S1_1=a\r\n");
  for (form::TextControl* page : {&s.form.TbShtInicio, &s.form.TbShtLog, &s.form.TbShtConfig}) {
    Export(*page);
    EXPECT_EQ(s.shell.messages, std::vector<Message>{kWrongPage}) << page->Name();
  }
  EXPECT_TRUE(Written().empty());
}

TEST_F(ScriptExport, AFileThatCannotBeWrittenReachesTheErrorDisplayAndKeepsTheOnesBefore) {
  std::filesystem::create_directory("SCRIPT_2.TXT");
  Script("S1_1=a\r\nS2_1=b\r\n");
  Export();
  ASSERT_EQ(s.shell.messages.size(), 1u);
  EXPECT_EQ(s.shell.messages[0].icon, MsgIcon::Error);
  EXPECT_EQ(s.shell.messages[0].text.rfind("SCRIPT_2.TXT", 0), 0u) << s.shell.messages[0].text;
  EXPECT_EQ(Written(), (Files{{"SCRIPT_1.TXT", "a\r\n"}}));
}

}  // namespace
}  // namespace korva
