// Clicks through the real window: navigation, the hidden menus, the abort
// button during an operation, closing, the self-update question, the links.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>

#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/error.h"
#include "ui/window_harness.h"

namespace korva::testing {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Show()); }

  QWidget* CurrentPage() { return h.Find<QStackedWidget>("PgCtrlPrincipal")->currentWidget(); }

  void Click(const char* name) {
    QWidget* widget = h.Find(name);
    ASSERT_NE(widget, nullptr) << name;
    ASSERT_TRUE(widget->isVisible()) << name;
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
  }

  // Opens a hot area's menu with the secondary button and clicks one item.
  void ClickMenuItem(const char* hotArea, const char* menuName, const char* itemName) {
    QWidget* area = h.Find(hotArea);
    ASSERT_NE(area, nullptr);
    QTest::mouseClick(area, Qt::RightButton, {}, area->rect().center());
    auto* menu = h.Find<QMenu>(menuName);
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); })) << menuName << " did not open";
    QAction* action = menu->findChild<QAction*>(QString::fromLatin1(itemName));
    ASSERT_NE(action, nullptr);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    ASSERT_TRUE(WaitFor([&] { return !menu->isVisible(); }));
  }

  QAction* MenuAction(const char* menuName, const char* itemName) {
    return h.Find<QMenu>(menuName)->findChild<QAction*>(QString::fromLatin1(itemName));
  }

  // The test menu's items as the model holds them and as the menu shows them;
  // internet mode is in force exactly while its item is checked.
  void ExpectTestMenu(bool local, bool internet) {
    EXPECT_EQ(h.form.AtualizacaoLocal.Checked(), local);
    EXPECT_EQ(h.form.AtualizarPelaInternet.Checked(), internet);
    EXPECT_EQ(h.form.InternetMode(), internet);
    EXPECT_EQ(MenuAction("PpMnTesteVESTRAMON", "AtualizacaoLocal")->isChecked(), local);
    EXPECT_EQ(MenuAction("PpMnTesteVESTRAMON", "AtualizarPelaInternet")->isChecked(), internet);
  }

  WindowHarness h;
};

TEST_F(MainWindowTest, OpensOnTheFirstPageWithTheInitialStates) {
  EXPECT_EQ(CurrentPage()->objectName(), "TbShtInicio");
  EXPECT_FALSE(h.Find("PnlDownload")->isVisibleTo(&h.window));
  EXPECT_FALSE(h.Find("BtbtnIniciarAtualizacao")->isEnabled());
  EXPECT_FALSE(h.Find("BtBtnContinuar")->isEnabled());
  EXPECT_FALSE(h.Find("ChkLBxLog")->isEnabled());
  EXPECT_TRUE(h.Find<QRadioButton>("RGBackup_1")->isChecked());
  EXPECT_TRUE(h.Find<QRadioButton>("RdGrpModotAtualizacao_1")->isChecked());
  EXPECT_EQ(h.Find<QLineEdit>("EdtProxy_Senha")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(h.Find("BtBtnAbortar")->toolTip(), Utf16(u"Abortar transmiss\u00e3o de arquivo"));
  EXPECT_TRUE(MenuAction("PpMnTesteVESTRAMON", "AtualizarPelaInternet")->isChecked());
  EXPECT_FALSE(MenuAction("PpMnTesteVESTRAMON", "AtualizacaoLocal")->isChecked());
}

TEST_F(MainWindowTest, ConfigurationPageReturnsToThePageThatWasShowing) {
  Click("FltBtnConfig");
  EXPECT_EQ(CurrentPage()->objectName(), "TbShtConfig");
  EXPECT_TRUE(h.Find("BtBtnFechar")->isVisible());
  Click("BitBtn1");
  EXPECT_EQ(CurrentPage()->objectName(), "TbShtInicio");

  // From another page: the way back leads there, not to the first page.
  h.ShowPage(h.form.TbShtLog);
  h.principal.Dispatch([&] { h.principal.BtBtnConfigClick(); });
  h.shell.Repaint();
  EXPECT_EQ(CurrentPage()->objectName(), "TbShtConfig");
  Click("BitBtn1");
  EXPECT_EQ(CurrentPage()->objectName(), "TbShtLog");
}

TEST_F(MainWindowTest, TestMenuItemsBehaveAsRadioItemsThatCanBothBeOff) {
  ClickMenuItem("LblTipoTeste", "PpMnTesteVESTRAMON", "AtualizacaoLocal");
  ExpectTestMenu(/*local=*/true, /*internet=*/false);

  // The checked item clicked again: neither is checked, still local mode.
  ClickMenuItem("LblTipoTeste", "PpMnTesteVESTRAMON", "AtualizacaoLocal");
  ExpectTestMenu(false, false);

  ClickMenuItem("LblTipoTeste", "PpMnTesteVESTRAMON", "AtualizarPelaInternet");
  ExpectTestMenu(false, true);

  // Clicking internet mode while it is checked leaves both off too.
  ClickMenuItem("LblTipoTeste", "PpMnTesteVESTRAMON", "AtualizarPelaInternet");
  ExpectTestMenu(false, false);
  EXPECT_TRUE(h.shell.ShownMessages().empty());
}

TEST_F(MainWindowTest, PrimaryButtonOnAHotAreaOpensNothing) {
  QWidget* area = h.Find("LblTipoTeste");
  QTest::mouseClick(area, Qt::LeftButton, {}, area->rect().center());
  // Whatever the click set going has been handled.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_FALSE(h.Find<QMenu>("PpMnTesteVESTRAMON")->isVisible());
}

TEST_F(MainWindowTest, AbortSetsBothFlagsAlsoWhileAnOperationRuns) {
  h.ShowPage(h.form.TbShtLog);
  Click("BtBtnAbortar");
  EXPECT_TRUE(h.principal.Session().transfer.transferAbortRequested);
  EXPECT_TRUE(h.principal.Session().transfer.runAbortRequested);
  EXPECT_TRUE(h.form.TbShtLog.Visible());
  EXPECT_EQ(CurrentPage()->objectName(), "TbShtLog");

  h.principal.Session().transfer.transferAbortRequested = false;
  h.principal.Session().transfer.runAbortRequested = false;
  TempDir dir;
  const std::string clientFile = dir.File("12345678000190.ini");
  platform::WriteFileBytes(clientFile, "[BDKORVA]\r\n");
  h.principal.Session().records.clientVersionFilePath = clientFile;

  // A transfer waiting for the network handles the window's input: the
  // operator presses "&Abortar", "&Fechar", and closes the window.
  bool sawAbort = false;
  const bool ran = h.principal.Dispatch([&] {
    QTimer::singleShot(0, &h.window, [&] { Click("BtBtnAbortar"); });
    QTimer::singleShot(0, &h.window, [&] { Click("BtBtnFechar"); });
    QTimer::singleShot(0, &h.window, [&] { h.window.close(); });
    for (int slice = 0; slice < 5; ++slice) h.shell.ProcessPendingInput();
    sawAbort = h.principal.Session().transfer.transferAbortRequested;
    // Still here: the second click was ignored and the close waits.
    EXPECT_TRUE(h.window.isVisible());
    EXPECT_TRUE(platform::FileExists(clientFile));
  });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(sawAbort);
  EXPECT_TRUE(h.principal.Session().transfer.runAbortRequested);
  // The deferred close ran when the operation returned; "&Fechar" did not.
  EXPECT_FALSE(h.window.isVisible());
  EXPECT_TRUE(platform::FileExists(clientFile));
}

TEST_F(MainWindowTest, CloseDeletesTheClientVersionFileThenClosesTheWindow) {
  TempDir dir;
  const std::string clientFile = dir.File("12345678000190.ini");
  platform::WriteFileBytes(clientFile, "[BDKORVA]\r\nVERSAO=3.17.2\r\n");
  const std::string other = dir.File("LogUpdate.txt");
  platform::WriteFileBytes(other, "linha\r\n");
  h.principal.Session().records.clientVersionFilePath = clientFile;

  Click("BtBtnFechar");
  EXPECT_FALSE(platform::FileExists(clientFile));
  EXPECT_TRUE(platform::FileExists(other));
  EXPECT_FALSE(h.window.isVisible());
  EXPECT_TRUE(h.shell.ShownMessages().empty());
}

TEST_F(MainWindowTest, CloseWithoutAClientVersionFileClosesFromEveryPage) {
  for (form::TextControl* page : h.form.Pages()) {
    WindowHarness other;
    ASSERT_TRUE(other.Show());
    other.ShowPage(*page);
    QWidget* fechar = other.Find("BtBtnFechar");
    ASSERT_TRUE(fechar->isVisible()) << page->Name();
    QTest::mouseClick(fechar, Qt::LeftButton, {}, fechar->rect().center());
    EXPECT_FALSE(other.window.isVisible()) << page->Name();
  }
}

TEST_F(MainWindowTest, SelfUpdateAskedAndCancelledDoesNothing) {
  h.shell.QueueAnswer(kCancel);
  Click("Label8");
  ASSERT_EQ(h.shell.ShownMessages().size(), 1u);
  const auto& box = h.shell.ShownMessages()[0];
  EXPECT_EQ(box.caption, "KORVA Update");
  EXPECT_EQ(box.icon, QMessageBox::Information);
  EXPECT_EQ(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.defaultButton, QMessageBox::Ok);
  EXPECT_EQ(box.text, Utf16(u"Este procedimento ir\u00e1 abrir o seu navegador de internet\n"
                            "e permitir que localize e atualize o programa KORVA UPDATE.\n"
                            u"Voc\u00ea dever\u00e1 substituir o arquivo existente."));
  EXPECT_EQ(box.answer, kCancel);
  EXPECT_TRUE(h.shell.OpenedAddresses().empty());
  EXPECT_TRUE(h.window.isVisible());
}

TEST_F(MainWindowTest, SelfUpdateConfirmedOpensTheProgramAddressAndCloses) {
  h.shell.QueueAnswer(kOk);
  Click("Label8");
  ASSERT_EQ(h.shell.ShownMessages().size(), 1u);
  EXPECT_EQ(h.shell.ShownMessages()[0].answer, kOk);
  ASSERT_EQ(h.shell.OpenedAddresses().size(), 1u);
  EXPECT_EQ(h.shell.OpenedAddresses()[0],
            "http://suporte.korva.com.br/Korva_utilitarios/korvaupdate.exe");
  EXPECT_FALSE(h.window.isVisible());
}

TEST_F(MainWindowTest, SiteLinksOpenTheMakerAddressAsShown) {
  Click("LblSite");
  h.ShowPage(h.form.TbShtVerificaAtualizacoes);
  Click("Label6");
  EXPECT_EQ(h.shell.OpenedAddresses(),
            (std::vector<std::string>{"http://www.korva.com.br", "http://www.korva.com.br"}));
  EXPECT_EQ(h.Find<QLabel>("LblSite")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(h.window.isVisible());
}

TEST_F(MainWindowTest, ScriptMenuAnswersOnlyOnTheBackupAndPendingPages) {
  const QString elsewhere = Utf16(u"Voc\u00ea deve estar na p\u00e1gina que informa sobre backup");
  // On the backup and pending pages, with no script file yet: nothing to
  // write, and the export says it is done.
  const QString done = QStringLiteral("Script gerado com sucesso");
  const std::pair<form::TextControl*, QString> answers[] = {
      {&h.form.TbShtInicio, elsewhere},          {&h.form.TbShtLog, elsewhere},
      {&h.form.TbShtConfig, elsewhere},          {&h.form.TbShtBackup, done},
      {&h.form.TbShtVerificaAtualizacoes, done},
  };
  for (const auto& [page, text] : answers) {
    h.shell.ClearRecords();
    h.ShowPage(*page);
    ClickMenuItem("LblScript", "PMnScript", "GerarScript1");
    ASSERT_EQ(h.shell.ShownMessages().size(), 1u) << page->Name();
    const auto& box = h.shell.ShownMessages()[0];
    EXPECT_EQ(box.caption, "KORVA");
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
  }
}

TEST_F(MainWindowTest, RefreshingTheConnectionFiguresShowsThemOnTheBackupPage) {
  h.form.StTxtNumUsers.SetText("stale");
  h.form.StTxtUsuariosConectados.SetText("stale");
  h.ShowPage(h.form.TbShtBackup);
  Click("BitBtn2");
  // Only the window's own connection is attached to the main database.
  EXPECT_EQ(h.Find<QLabel>("StTxtNumUsers")->text(), "0");
  EXPECT_EQ(h.Find<QLabel>("StTxtUsuariosConectados")->text(), "0");
  EXPECT_TRUE(h.shell.ShownMessages().empty());
}

TEST_F(MainWindowTest, FailuresOfAHandlerReachTheGeneralErrorDisplay) {
  h.window.BindClick(h.form.BtBtnNovasAtualizacoes, [] { throw KorvaError("Connection refused"); });
  Click("BtBtnNovasAtualizacoes");
  ASSERT_EQ(h.shell.ShownMessages().size(), 1u);
  const auto& box = h.shell.ShownMessages()[0];
  EXPECT_EQ(box.caption, "KORVA Update");  // no caption: the application title
  EXPECT_EQ(box.text, "Connection refused");
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.buttons, QMessageBox::Ok);
  EXPECT_TRUE(h.window.isVisible());
}

}  // namespace
}  // namespace korva::testing

KORVA_UI_TEST_MAIN()
