#include "records/update_log.h"

#include <gtest/gtest.h>

#include "form/form_model.h"
#include "platform/files.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "text/error.h"

namespace korva::records {
namespace {

class UpdateLogTest : public ::testing::Test {
 protected:
  UpdateLogTest() : logPath(dir.File("LogUpdate.txt")), log(form.ChkLBxLog, shell, logPath) {}

  void Fill(int lines) {
    for (int i = 0; i < lines; ++i) log.LogAddLine("linha " + std::to_string(i));
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& item : form.ChkLBxLog.Items()) texts.push_back(item.text);
    return texts;
  }

  testing::TempDir dir;
  std::string logPath;
  form::FormModel form;
  testing::ScriptedShell shell;
  UpdateLog log;
};

TEST_F(UpdateLogTest, MakeRoomDropsTheTwoOldestOnlyWhenExactlyFull) {
  Fill(15);
  log.LogMakeRoom();
  EXPECT_EQ(form.ChkLBxLog.Count(), 15);

  log.LogAddLine("linha 15");
  log.LogMakeRoom();
  ASSERT_EQ(form.ChkLBxLog.Count(), 14);
  EXPECT_EQ(Texts().front(), "linha 2");
  EXPECT_EQ(Texts().back(), "linha 15");

  Fill(3);  // 17: past the mark, the list just grows
  log.LogMakeRoom();
  EXPECT_EQ(form.ChkLBxLog.Count(), 17);
}

TEST_F(UpdateLogTest, MakeRoomKeepsMarksAndTheSelectedLine) {
  Fill(16);
  log.LogCheckLine(1);  // goes with the two oldest
  log.LogCheckLine(2);
  log.LogCheckLine(9);
  log.LogSelectLastLine();
  log.LogMakeRoom();

  const auto& items = form.ChkLBxLog.Items();
  ASSERT_EQ(items.size(), 14u);
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(items[i].checked, i == 0 || i == 7) << "line " << i;
  }
  EXPECT_EQ(form.ChkLBxLog.SelectedIndex(), 13);
  EXPECT_EQ(items[13].text, "linha 15");
}

TEST_F(UpdateLogTest, ReplaceLastLineKeepsItsMarkAndNewLinesStartUnchecked) {
  log.LogAddLine("Aplicando grupo 1");
  log.LogCheckLastLine();
  log.LogReplaceLastLine("Aplicando grupo 2");
  ASSERT_EQ(form.ChkLBxLog.Count(), 1);
  EXPECT_EQ(form.ChkLBxLog.Items()[0].text, "Aplicando grupo 2");
  EXPECT_TRUE(form.ChkLBxLog.Items()[0].checked);

  log.LogAddLine("Próximo");
  EXPECT_FALSE(form.ChkLBxLog.Items()[1].checked);
  log.LogCheckLine(1);
  log.LogCheckLine(1);  // already checked: stays so
  EXPECT_TRUE(form.ChkLBxLog.Items()[1].checked);
}

TEST_F(UpdateLogTest, EveryVisibleChangeIsPaintedBeforeItReturns) {
  int before = shell.repaints;
  log.LogAddLine("a");
  EXPECT_GT(shell.repaints, before);
  before = shell.repaints;
  log.LogCheckLastLine();
  EXPECT_GT(shell.repaints, before);
  before = shell.repaints;
  log.LogReplaceLastLine("b");
  EXPECT_GT(shell.repaints, before);
  before = shell.repaints;
  log.LogSelectLastLine();
  EXPECT_GT(shell.repaints, before);
  EXPECT_EQ(form.ChkLBxLog.SelectedIndex(), 0);
  Fill(15);
  before = shell.repaints;
  log.LogMakeRoom();
  EXPECT_GT(shell.repaints, before);
  before = shell.repaints;
  log.LogClear();
  EXPECT_GT(shell.repaints, before);
  EXPECT_EQ(form.ChkLBxLog.Count(), 0);
  EXPECT_EQ(form.ChkLBxLog.SelectedIndex(), -1);
}

TEST_F(UpdateLogTest, IndexesThatNameNoLineRaise) {
  EXPECT_THROW(log.LogCheckLastLine(), KorvaError);
  EXPECT_THROW(log.LogReplaceLastLine("x"), KorvaError);
  log.LogSelectLastLine();  // nothing to select: nothing happens
  EXPECT_EQ(form.ChkLBxLog.SelectedIndex(), -1);
  log.LogAddLine("a");
  EXPECT_THROW(log.LogCheckLine(1), KorvaError);
  EXPECT_THROW(log.LogCheckLine(-1), KorvaError);
  EXPECT_FALSE(form.ChkLBxLog.Items()[0].checked);
}

TEST_F(UpdateLogTest, WriteFileAppendsCrLfLinesInTheCodePage) {
  log.LogWriteFile("Módulo instalação concluída");
  log.LogWriteFile("Segunda linha");
  // One byte per accented letter: ó, ç, ã, í.
  EXPECT_EQ(testing::ReadBytes(logPath),
            "M\xF3"
            "dulo instala\xE7\xE3o conclu\xED"
            "da\r\nSegunda linha\r\n");
}

TEST_F(UpdateLogTest, ARefusedNameCannotBreakItsLineInTwo) {
  log.LogRefusal("a\r\nArquivo b.ini", "nome inválido");
  EXPECT_EQ(testing::ReadBytes(logPath), "Arquivo a??Arquivo b.ini recusado: nome inv\xE1lido\r\n");
}

TEST_F(UpdateLogTest, OnScreenLinesNeverTouchTheFile) {
  Fill(16);
  log.LogMakeRoom();
  log.LogCheckLastLine();
  log.LogClear();
  EXPECT_FALSE(platform::FileExists(logPath));
}

TEST_F(UpdateLogTest, AFileThatCannotBeWrittenRaisesAndLeavesNothing) {
  // A folder that does not exist and a path that is a folder: neither can be
  // opened for appending, whoever runs the test.
  logPath = dir.File("sem-pasta/LogUpdate.txt");
  EXPECT_THROW(log.LogWriteFile("linha"), FileError);
  EXPECT_FALSE(platform::DirectoryExists(dir.File("sem-pasta")));
  logPath = dir.Path();
  EXPECT_THROW(log.LogWriteFile("linha"), FileError);
}

}  // namespace
}  // namespace korva::records
