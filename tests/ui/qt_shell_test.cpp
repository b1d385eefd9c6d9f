// QtShell's real message boxes (caption, icon, buttons, preselected button,
// line breaks, accents), answered through its test hook, and its other duties.
#include <QCursor>
#include <QGuiApplication>
#include <sstream>

#include "records/pending_list_report.h"
#include "support/site_builder.h"
#include "text/cp1252.h"
#include "ui/window_harness.h"

namespace korva::testing {
namespace {

class QtShellTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Show()); }

  const qt::QtShell::ShownMessage& Show(const Message& message) {
    h.shell.ShowMessage(message);
    return h.shell.ShownMessages().back();
  }

  WindowHarness h;
};

TEST_F(QtShellTest, BoxesCarryTheStatedCaptionIconButtonsAndPreselection) {
  const auto& saved = Show({"KORVA", "Dados gravados com sucesso", MsgIcon::Information, kOk, kOk});
  EXPECT_EQ(saved.caption, "KORVA");
  EXPECT_EQ(saved.text, "Dados gravados com sucesso");
  EXPECT_EQ(saved.icon, QMessageBox::Information);
  EXPECT_EQ(saved.buttons, QMessageBox::Ok);
  EXPECT_EQ(saved.defaultButton, QMessageBox::Ok);

  const auto& question = Show({"KORVA - Atualizações de Banco de Dados",
                               "Existem 2 conexões ativas.\rDeseja continuar mesmo assim?",
                               MsgIcon::Question, kYes | kNo, kNo});
  EXPECT_EQ(question.caption, Utf16(u"KORVA - Atualiza\u00e7\u00f5es de Banco de Dados"));
  EXPECT_EQ(question.text,
            Utf16(u"Existem 2 conex\u00f5es ativas.\nDeseja continuar mesmo assim?"));
  EXPECT_EQ(question.icon, QMessageBox::Question);
  EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(question.defaultButton, QMessageBox::No);
  EXPECT_EQ(question.answer, kNo);  // nothing queued: the preselected button

  const auto& warning = Show({"KORVA - Atualizações", "Falha na conexão com o servidor KORVA",
                              MsgIcon::Warning, kOk, kNoButton});
  EXPECT_EQ(warning.icon, QMessageBox::Warning);
  EXPECT_EQ(warning.defaultButton, QMessageBox::Ok);

  // No preselection named: the first button as a box lays them out.
  EXPECT_EQ(
      Show({"KORVA", "x", MsgIcon::Error, kAbort | kRetry | kIgnore, kNoButton}).defaultButton,
      QMessageBox::Abort);
  EXPECT_EQ(Show({"KORVA", "x", MsgIcon::Question, kYes | kNo | kCancel, kNoButton}).defaultButton,
            QMessageBox::Yes);
  EXPECT_EQ(Show({"KORVA", "x", MsgIcon::Question, kOk | kCancel, kNoButton}).defaultButton,
            QMessageBox::Ok);
  EXPECT_EQ(Show({"KORVA", "x", MsgIcon::Error, kOk, kNoButton}).icon, QMessageBox::Critical);
}

TEST_F(QtShellTest, AnEmptyCaptionShowsTheApplicationTitle) {
  EXPECT_EQ(Show({"", "Connection refused", MsgIcon::Error, kOk, kOk}).caption, "KORVA Update");
  h.shell.SetApplicationTitle("45% KORVA Update");
  EXPECT_EQ(Show({"", "Transfer aborted", MsgIcon::Error, kOk, kOk}).caption, "45% KORVA Update");
  EXPECT_EQ(h.window.windowIconText(), "45% KORVA Update");
  EXPECT_EQ(h.shell.ApplicationTitle(), "45% KORVA Update");
}

TEST_F(QtShellTest, QueuedAnswersAreTheOperatorsClicksInOrder) {
  h.shell.QueueAnswer(kYes);
  h.shell.QueueAnswer(kNo);
  EXPECT_EQ(h.shell.ShowMessage({"KORVA", "1?", MsgIcon::Question, kYes | kNo, kNo}), kYes);
  EXPECT_EQ(h.shell.ShowMessage({"KORVA", "2?", MsgIcon::Question, kYes | kNo, kYes}), kNo);
  EXPECT_EQ(h.shell.ShowMessage({"KORVA", "3?", MsgIcon::Question, kYes | kNo, kYes}), kYes);
  h.shell.QueueAnswer(kRetry);
  EXPECT_EQ(h.shell.ShowMessage({"KORVA", "4", MsgIcon::Error, kRetry | kCancel, kRetry}), kRetry);
}

TEST_F(QtShellTest, AnAnswerTheBoxDoesNotOfferNeitherHangsNorInventsAButton) {
  h.shell.QueueAnswer(kYes);
  const MsgButton answer = h.shell.ShowMessage({"KORVA", "Só OK", MsgIcon::Information, kOk, kOk});
  EXPECT_EQ(answer, kOk);
  h.shell.QueueAnswer(kOk);
  EXPECT_EQ(h.shell.ShowMessage({"KORVA", "?", MsgIcon::Question, kYes | kNo | kCancel, kYes}),
            kCancel);
}

TEST_F(QtShellTest, ABoxWithoutButtonsStillHasOneToCloseIt) {
  const auto& box = Show({"KORVA", "x", MsgIcon::None, kNoButton, kNoButton});
  EXPECT_EQ(box.buttons, QMessageBox::Ok);
  EXPECT_EQ(box.icon, QMessageBox::NoIcon);
  EXPECT_EQ(box.answer, kOk);
}

TEST_F(QtShellTest, TextsAreWindows1252WithCarriageReturnsAsLineBreaks) {
  const auto& box = Show({"KORVA",
                          "Não foi possível se conectar ao servidor de Banco de Dados.\r"
                          "Verifique os seguintes passos:\r1. Se seu servidor está ligado.\r\n"
                          "€ — ç",
                          MsgIcon::Error, kOk, kOk});
  EXPECT_EQ(box.text, Utf16(u"N\u00e3o foi poss\u00edvel se conectar ao servidor de Banco de "
                            u"Dados.\nVerifique os seguintes passos:\n1. Se seu servidor est\u00e1 "
                            u"ligado.\n\u20ac \u2014 \u00e7"));
  // Plain text: markup in a message is shown as typed.
  EXPECT_EQ(Show({"KORVA", "<b>x</b> & y", MsgIcon::Error, kOk, kOk}).text, "<b>x</b> & y");
}

TEST_F(QtShellTest, BusyPointerIsSetOnceAndRestored) {
  h.shell.SetBusyCursor(true);
  h.shell.SetBusyCursor(true);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  h.shell.SetBusyCursor(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  h.shell.SetBusyCursor(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(QtShellTest, EndProgramHidesTheWindowAndIsRemembered) {
  EXPECT_FALSE(h.shell.EndRequested());
  h.shell.EndProgram();
  EXPECT_TRUE(h.shell.EndRequested());
  EXPECT_FALSE(h.window.isVisible());
}

TEST_F(QtShellTest, TheTitleSetBeforeTheWindowExistsReachesIt) {
  qt::QtShell shell;
  shell.EnableTestHooks();
  shell.SetApplicationTitle("KORVA Update");
  form::FormModel form;
  Principal principal(form, shell, h.clock);
  qt::MainWindow window(form, principal, shell);
  EXPECT_EQ(window.windowIconText(), "KORVA Update");
  EXPECT_EQ(shell.Window(), &window);
}

}  // namespace
}  // namespace korva::testing

KORVA_UI_TEST_MAIN()
