// The window mirrors the form model when the logic asks for a repaint, and
// writes what the operator types, selects and checks back into the model.
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>

#include "records/update_log.h"
#include "ui/window_harness.h"

namespace korva::testing {
namespace {

using form::StepIndicator;

class WindowMirrorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Show()); }

  bool Shown(const char* name) { return h.Find(name)->isVisibleTo(&h.window); }
  QString Text(const char* name) { return h.Find<QLabel>(name)->text(); }

  // Keys as a keyboard layout with accented letters sends them.
  static void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(widget, &press);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(widget, &release);
    }
  }

  WindowHarness h;
};

TEST_F(WindowMirrorTest, ACatalogueCheckOnTheFirstPageShowsAsItRuns) {
  h.form.SetCaption(form::FormModel::ComposeMainTitle("3.17.2.118"));
  h.form.StatusBar.SetPanelText(0, "Servidor: srv1/3052");
  h.form.StatusBar.SetPanelText(2, "BD Usuário: 3.1.9");
  h.form.PnlDownload.SetVisible(true);
  h.form.TBtnConectando.SetImage(StepIndicator::Image::Done);
  h.form.TBtnVerificando.SetImage(StepIndicator::Image::Transfer);
  h.form.GaugeDownload.SetMaxValue(20480);
  h.form.GaugeDownload.SetProgress(10240);
  h.form.STxtKBPS.SetText("4,00 KB/s");
  // Nothing shows before the logic asks for it: runs do not return to the
  // event loop, so the repaint is what makes each step visible.
  EXPECT_FALSE(Shown("PnlDownload"));
  h.shell.Repaint();

  EXPECT_EQ(h.window.windowTitle(),
            Utf16(u"           KORVA - Atualiza\u00e7\u00e3o de Sistemas / Banco de Dados -  "
                  u"Vers\u00e3o: 3.17.2.118"));
  EXPECT_EQ(h.window.findChild<QLabel*>("StatusBarPanel0")->text(), "Servidor: srv1/3052");
  EXPECT_EQ(h.window.findChild<QLabel*>("StatusBarPanel2")->text(),
            Utf16(u"BD Usu\u00e1rio: 3.1.9"));
  EXPECT_TRUE(Shown("PnlDownload"));
  EXPECT_FALSE(h.Find<QLabel>("TBtnConectando")->pixmap().isNull());
  EXPECT_FALSE(h.Find<QLabel>("TBtnVerificando")->pixmap().isNull());
  EXPECT_TRUE(h.Find<QLabel>("TBtnDesconectando")->pixmap().isNull());
  EXPECT_NE(h.Find<QLabel>("TBtnConectando")->pixmap().toImage(),
            h.Find<QLabel>("TBtnVerificando")->pixmap().toImage());
  EXPECT_EQ(h.Find<QProgressBar>("GaugeDownload")->value(), 50);
  EXPECT_EQ(h.Find<QProgressBar>("GaugeDownload")->text(), "50%");
  EXPECT_EQ(Text("STxtKBPS"), "4,00 KB/s");

  // A gauge whose maximum is 0 stays at 0 %.
  h.form.GgDownModulo.SetMaxValue(0);
  h.form.GgDownModulo.SetProgress(700);
  h.shell.Repaint();
  EXPECT_EQ(h.Find<QProgressBar>("GgDownModulo")->value(), 0);
}

TEST_F(WindowMirrorTest, PendingListBackupFiguresAndButtonsFollowTheModel) {
  h.form.TVAtualizacoes.SetNodes({{"BANCO DE DADOS KORVA - Atualizar para versão 3.17.4", {}},
                                  {"MÓDULO Contábil - Reinstalação", {}}});
  h.form.BtbtnIniciarAtualizacao.SetEnabled(true);
  h.form.StTxtNumUsers.SetText("2");
  h.form.MmComputadoresConectados.SetLines({"CAIXA-01", "GERÊNCIA"});
  h.form.RdGrpMetodoFTP.SetItemIndex(1);
  h.ShowPage(h.form.TbShtVerificaAtualizacoes);

  auto* tree = h.Find<QTreeWidget>("TVAtualizacoes");
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(1)->text(0),
            Utf16(u"M\u00d3DULO Cont\u00e1bil - Reinstala\u00e7\u00e3o"));
  EXPECT_TRUE(h.Find("BtbtnIniciarAtualizacao")->isEnabled());
  EXPECT_EQ(Text("StTxtNumUsers"), "2");
  EXPECT_EQ(h.Find<QPlainTextEdit>("MmComputadoresConectados")->toPlainText(),
            Utf16(u"CAIXA-01\nGER\u00caNCIA"));
  EXPECT_TRUE(h.Find<QRadioButton>("RdGrpMetodoFTP_1")->isChecked());

  // Nothing selected: no radio button checked.
  h.form.RdGrpMetodoFTP.SetItemIndex(-1);
  h.form.TVAtualizacoes.Clear();
  h.shell.Repaint();
  EXPECT_FALSE(h.Find<QRadioButton>("RdGrpMetodoFTP_0")->isChecked());
  EXPECT_FALSE(h.Find<QRadioButton>("RdGrpMetodoFTP_1")->isChecked());
  EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(WindowMirrorTest, TheUpdateLogIsOnScreenWhenEachCallReturns) {
  h.ShowPage(h.form.TbShtLog);
  std::string logPath;
  records::UpdateLog log(h.form.ChkLBxLog, h.shell, logPath);
  auto* list = h.Find<QListWidget>("ChkLBxLog");

  log.LogAddLine("Download do pacote da versão 3.17.3");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), Utf16(u"Download do pacote da vers\u00e3o 3.17.3"));
  EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
  log.LogCheckLastLine();
  EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
  for (int i = 1; i < 16; ++i) log.LogAddLine("Aplicando grupo " + std::to_string(i));
  log.LogSelectLastLine();
  EXPECT_EQ(list->currentRow(), 15);
  log.LogMakeRoom();
  ASSERT_EQ(list->count(), 14);
  EXPECT_EQ(list->item(0)->text(), "Aplicando grupo 2");
  EXPECT_EQ(list->currentRow(), 13);
  log.LogReplaceLastLine("Aplicando grupo 99");
  EXPECT_EQ(list->item(13)->text(), "Aplicando grupo 99");
  for (int i = 0; i < 10; ++i) log.LogAddLine("mais " + std::to_string(i));
  log.LogSelectLastLine();
  // The newest line is scrolled into view although the list takes no input.
  const QRect last = list->visualItemRect(list->item(list->count() - 1));
  EXPECT_TRUE(list->viewport()->rect().contains(last));
  log.LogClear();
  EXPECT_EQ(list->count(), 0);
}

TEST_F(WindowMirrorTest, OnlyChangedControlsAreCopiedIntoTheWindow) {
  auto* label = h.Find<QLabel>("LblConectando");
  label->setText("altered on screen");
  h.form.STxtKBPS.SetText("Transf. completada");
  h.shell.Repaint();
  EXPECT_EQ(label->text(), "altered on screen");
  EXPECT_EQ(Text("STxtKBPS"), "Transf. completada");
}

TEST_F(WindowMirrorTest, TypedTextReachesTheModelInTheCodePage) {
  h.ShowPage(h.form.TbShtConfig);
  auto* edit = h.Find<QLineEdit>("SrvRemoto1");
  Type(edit, Utf16(u"\\\\SERVIDOR\\Cart\u00f3rio "));
  EXPECT_EQ(h.form.SrvRemoto1.Text(), "\\\\SERVIDOR\\Cartório ");
  // A character the code page lacks is kept, and shown, as '?'.
  Type(edit, Utf16(u"\u0142"));
  EXPECT_EQ(h.form.SrvRemoto1.Text(), "\\\\SERVIDOR\\Cartório ?");
  EXPECT_EQ(edit->text(), Utf16(u"\\\\SERVIDOR\\Cart\u00f3rio ?"));

  auto* password = h.Find<QLineEdit>("EdtProxy_Senha");
  QTest::keyClicks(password, "s3nh@");
  EXPECT_EQ(h.form.EdtProxy_Senha.Text(), "s3nh@");
  EXPECT_EQ(password->displayText(), "*****");
}

TEST_F(WindowMirrorTest, RadioClicksSetTheIndexAndRunTheGroupsHandler) {
  h.ShowPage(h.form.TbShtConfig);
  int clicks = 0;
  h.form.RdGrpModotAtualizacao.onClick = [&] { ++clicks; };
  auto click = [&](const char* name) {
    QWidget* radio = h.Find(name);
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
  };
  click("RdGrpMetodoFTP_1");
  EXPECT_EQ(h.form.RdGrpMetodoFTP.ItemIndex(), 1);
  click("RdGrpModotAtualizacao_0");
  EXPECT_EQ(h.form.RdGrpModotAtualizacao.ItemIndex(), 0);
  EXPECT_EQ(clicks, 1);
  click("RdGrpModotAtualizacao_0");  // already selected
  EXPECT_EQ(clicks, 1);

  // While an operation runs a click is ignored, and the buttons show the model.
  h.principal.Dispatch([&] {
    QTimer::singleShot(0, &h.window, [&] { click("RdGrpModotAtualizacao_1"); });
    h.shell.ProcessPendingInput();
  });
  EXPECT_EQ(h.form.RdGrpModotAtualizacao.ItemIndex(), 0);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(h.Find<QRadioButton>("RdGrpModotAtualizacao_0")->isChecked());
  EXPECT_FALSE(h.Find<QRadioButton>("RdGrpModotAtualizacao_1")->isChecked());
}

TEST_F(WindowMirrorTest, BranchListChecksGoBackIntoTheModel) {
  h.form.ChkLstBxEmpresas.Add("Local    [OK]");
  h.form.ChkLstBxEmpresas.SetChecked(0, true);
  h.form.ChkLstBxEmpresas.Add("Filial 1   [OK]");
  h.form.ChkLstBxEmpresas.SetVisible(true);
  h.ShowPage(h.form.TbShtLog);
  auto* list = h.Find<QListWidget>("ChkLstBxEmpresas");
  ASSERT_TRUE(list->isVisible());
  EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
  const QRect row = list->visualItemRect(list->item(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(row.left() + 7, row.center().y()));
  EXPECT_TRUE(h.form.ChkLstBxEmpresas.Items()[1].checked);
  EXPECT_EQ(h.form.ChkLstBxEmpresas.SelectedIndex(), 1);
}

}  // namespace
}  // namespace korva::testing

KORVA_UI_TEST_MAIN()
