// The window as designed: fixed size and frame, the side panel, the page area,
// "&Fechar" over every page, the status bar; every text fits its control, no
// control of a page lies under "&Fechar", the log shows 16 whole lines.
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyle>
#include <algorithm>

#include "ui/window_harness.h"

namespace korva::testing {
namespace {

class WindowLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Show()); }

  QRect RectIn(const char* name, QWidget* ancestor) {
    QWidget* w = h.Find(name);
    return QRect(w->mapTo(ancestor, QPoint(0, 0)), w->size());
  }

  WindowHarness h;
};

TEST_F(WindowLayoutTest, FixedSizeWindowWithoutMaximiseButton) {
  EXPECT_EQ(h.window.objectName(), "TFrmKorvaUpdate");
  EXPECT_EQ(h.window.size(), QSize(655, 469));
  EXPECT_EQ(h.window.minimumSize(), QSize(655, 469));
  EXPECT_EQ(h.window.maximumSize(), QSize(655, 469));
  const Qt::WindowFlags flags = h.window.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_EQ(h.window.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_FALSE(h.window.windowIcon().isNull());
}

TEST_F(WindowLayoutTest, SidePanelPageAreaCloseButtonAndStatusBarWhereDesigned) {
  EXPECT_EQ(RectIn("Panel2", &h.window), QRect(0, 0, 151, 450));
  EXPECT_EQ(RectIn("Panel1", &h.window), QRect(151, 0, 508, 450));
  EXPECT_EQ(RectIn("PgCtrlPrincipal", h.Find("Panel1")).size(), QSize(501, 448));
  EXPECT_EQ(RectIn("BtBtnFechar", h.Find("Panel1")), QRect(341, 402, 162, 37));
  EXPECT_TRUE(h.Find("BtBtnFechar")->font().bold());
  EXPECT_EQ(h.Find<QPushButton>("BtBtnFechar")->text(), "&Fechar");
  EXPECT_EQ(RectIn("ImgLogo", h.Find("Panel2")).size(), QSize(155, 45));
  EXPECT_EQ(RectIn("ImgLateral", h.Find("Panel2")), QRect(0, 66, 150, 315));
  EXPECT_EQ(h.Find<QLabel>("ImgLateral")->pixmap().size(), QSize(150, 315));
  EXPECT_EQ(h.Find<QLabel>("ImgLogo")->pixmap().size(), QSize(155, 45));
  EXPECT_EQ(h.Find<QLabel>("ImgIcone")->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(RectIn("LblTipoTeste", h.Find("Panel2")), QRect(34, 179, 25, 97));
  EXPECT_EQ(RectIn("LblScript", h.Find("Panel2")), QRect(91, 75, 59, 73));
  EXPECT_TRUE(h.Find<QLabel>("LblSuporte")->text().startsWith("Suporte: "));

  EXPECT_EQ(RectIn("StatusBar", &h.window), QRect(0, 450, 655, 19));
  const int widths[] = {320, 130, 130, 75};
  int left = 0;
  for (int i = 0; i < 4; ++i) {
    auto* panel = h.window.findChild<QLabel*>(QStringLiteral("StatusBarPanel%1").arg(i));
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->x(), left) << i;
    EXPECT_GE(panel->width(), widths[i] - 2) << i;
    EXPECT_LE(panel->width(), widths[i]) << i;
    EXPECT_TRUE(panel->alignment() & Qt::AlignHCenter);
    left += widths[i];
  }
}

TEST_F(WindowLayoutTest, FecharIsOverEveryPageAndNoPageControlLiesUnderIt) {
  QWidget* pageArea = h.Find("Panel1");
  const QRect fechar = RectIn("BtBtnFechar", pageArea);
  for (form::TextControl* page : h.form.Pages()) {
    h.ShowPage(*page);
    QWidget* fecharWidget = h.Find("BtBtnFechar");
    EXPECT_TRUE(fecharWidget->isVisible()) << page->Name();
    // It is the widget found at its own centre, above the page.
    EXPECT_EQ(h.window.childAt(fecharWidget->mapTo(&h.window, fecharWidget->rect().center())),
              fecharWidget)
        << page->Name();
    for (form::Control* control : h.form.AllControls()) {
      if (control->parent != page->Name()) continue;
      const QRect r = RectIn(control->Name().c_str(), pageArea);
      EXPECT_FALSE(r.intersects(fechar)) << control->Name() << " lies under Fechar";
      EXPECT_TRUE(QRect(0, 0, 501, 448).contains(r)) << control->Name() << " leaves its page";
    }
  }
}

TEST_F(WindowLayoutTest, EveryControlIsOneWidgetOrMenuActionInItsParentsWidget) {
  for (form::Control* control : h.form.AllControls()) {
    const QString name = QString::fromLatin1(control->Name().c_str());
    QWidget* parent = control->parent.empty() ? &h.window : h.window.WidgetOf(control->parent);
    ASSERT_NE(parent, nullptr) << control->Name();
    if (control->kind == form::Kind::MenuItem || control->kind == form::Kind::RadioMenuItem) {
      auto* menu = qobject_cast<QMenu*>(parent);
      ASSERT_NE(menu, nullptr) << control->Name();
      const QList<QAction*> actions = menu->actions();
      EXPECT_EQ(std::count_if(actions.begin(), actions.end(),
                              [&](QAction* a) { return a->objectName() == name; }),
                1)
          << control->Name();
      continue;
    }
    const QList<QWidget*> named = h.window.findChildren<QWidget*>(name);
    ASSERT_EQ(named.size(), 1) << control->Name();
    EXPECT_EQ(named[0], h.window.WidgetOf(control->Name())) << control->Name();
    EXPECT_EQ(named[0]->parentWidget(), parent) << control->Name() << " not in " << control->parent;
  }
}

TEST_F(WindowLayoutTest, EveryControlLiesInsideItsParentAndTheWindow) {
  auto* stack = h.Find<QStackedWidget>("PgCtrlPrincipal");
  for (form::TextControl* page : h.form.Pages()) {
    h.ShowPage(*page);
    QWidget* pageWidget = stack->currentWidget();
    for (form::Control* control : h.form.AllControls()) {
      QWidget* w = h.Find(control->Name().c_str());
      if (!w || w->isWindow() || w->parentWidget() == &h.window || w->parentWidget() == stack) {
        continue;
      }
      // Pages that are not showing are not laid out.
      const bool onAPage =
          w->parentWidget() != h.Find("Panel1") && w->parentWidget() != h.Find("Panel2");
      if (onAPage && !pageWidget->isAncestorOf(w)) continue;
      // The design's logo and page area are wider than the room they get.
      if (control->Name() == "ImgLogo" || control->Name() == "Panel1") continue;
      EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
          << control->Name() << " leaves " << control->parent;
      EXPECT_TRUE(h.window.rect().contains(RectIn(control->Name().c_str(), &h.window)))
          << control->Name();
    }
  }
}

TEST_F(WindowLayoutTest, EveryTextFitsItsControlUnclipped) {
  for (form::TextControl* page : h.form.Pages()) {
    h.ShowPage(*page);
    for (auto* label : h.window.findChildren<QLabel*>()) {
      if (label->text().isEmpty() || !label->isVisible()) continue;
      const QFontMetrics metrics(label->font());
      const QRect need = metrics.boundingRect(QRect(0, 0, 2000, 2000), Qt::AlignLeft | Qt::AlignTop,
                                              label->text());
      const QRect room = label->contentsRect();
      EXPECT_LE(need.width(), room.width()) << label->objectName().toStdString();
      EXPECT_LE(need.height(), room.height()) << label->objectName().toStdString();
    }
    for (auto* button : h.window.findChildren<QPushButton*>()) {
      if (!button->isVisible()) continue;
      const QFontMetrics metrics(button->font());
      QString text = button->text();
      text.remove(QLatin1Char('&'));
      EXPECT_LE(metrics.horizontalAdvance(text) + 12, button->width())
          << button->objectName().toStdString();
      EXPECT_GE(button->height(), metrics.height() + 6) << button->objectName().toStdString();
    }
    for (auto* radio : h.window.findChildren<QRadioButton*>()) {
      if (!radio->isVisible()) continue;
      EXPECT_GE(radio->width(), radio->sizeHint().width()) << radio->objectName().toStdString();
      EXPECT_GE(radio->height(), radio->sizeHint().height()) << radio->objectName().toStdString();
    }
    for (auto* box : h.window.findChildren<QGroupBox*>()) {
      if (!box->isVisible()) continue;
      const QFontMetrics metrics(box->font());
      EXPECT_LE(metrics.horizontalAdvance(box->title()) + 16, box->width())
          << box->objectName().toStdString();
    }
  }
}

TEST_F(WindowLayoutTest, FontsAreTheDesignsAtTheirPointSizes) {
  const QFont base = h.Find("Label3")->font();
  EXPECT_EQ(base.pixelSize(), 11);  // 8 points on the 96-dpi layout
  EXPECT_FALSE(base.bold());
  EXPECT_EQ(h.Find("Label2")->font().pixelSize(), 13);
  EXPECT_TRUE(h.Find("Label2")->font().bold());
  EXPECT_TRUE(h.Find("Label10")->font().underline());
  const QFont memo = h.Find("Memo1")->font();
  EXPECT_EQ(memo.pixelSize(), 13);
  EXPECT_TRUE(memo.bold());
  EXPECT_TRUE(h.Find("GroupBox1")->font().bold());
  EXPECT_EQ(h.Find("GroupBox1")->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  // The tree inside the frame keeps the window's font.
  EXPECT_FALSE(h.Find("TVAtualizacoes")->font().bold());
  for (const char* link : {"Label8", "LblSite", "Label6"}) {
    EXPECT_TRUE(h.Find(link)->font().underline()) << link;
    EXPECT_EQ(h.Find(link)->palette().color(QPalette::WindowText), QColor(0, 0, 128)) << link;
  }
}

TEST_F(WindowLayoutTest, TheLogShowsSixteenWholeLinesOfThirteenPixels) {
  for (int i = 0; i < 17; ++i) h.form.ChkLBxLog.Add("linha " + std::to_string(i));
  h.ShowPage(h.form.TbShtLog);
  auto* list = h.Find<QListWidget>("ChkLBxLog");
  EXPECT_EQ(list->size(), QSize(493, 212));
  EXPECT_EQ(list->visualItemRect(list->item(0)).height(), 13);
  const QRect viewport = list->viewport()->rect();
  EXPECT_TRUE(viewport.contains(list->visualItemRect(list->item(15))));
  EXPECT_FALSE(viewport.contains(list->visualItemRect(list->item(16))));
  // Disabled, yet drawn in the colours of an enabled list.
  EXPECT_FALSE(list->isEnabled());
  EXPECT_EQ(list->palette().color(QPalette::Disabled, QPalette::Text),
            list->palette().color(QPalette::Active, QPalette::Text));
}

}  // namespace
}  // namespace korva::testing

KORVA_UI_TEST_MAIN()
