#include "app/qt/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStackedWidget>

#include "app/qt/qt_shell.h"
#include "app/qt/qt_text.h"

// Resources of a static library are linked in only when something names them.
static void InitPictures() {
  Q_INIT_RESOURCE(pictures);
}

namespace korva::qt {
namespace {

// The layout is fixed in pixels, so fonts are sized in pixels as a 96-dpi
// screen renders their points: the texts fit their controls on any screen.
int PixelsOf(int points) {
  return (points * 96 + 36) / 72;
}

QFont FontOf(const form::Font& f) {
  QFont font = MainWindow::DefaultFont();
  // Families named by the design (Arial, Verdana) are taken by the font
  // configuration's nearest installed match.
  if (!f.family.empty()) font.setFamilies({QString::fromLatin1(f.family.c_str())});
  font.setPixelSize(PixelsOf(f.pointSize));
  font.setBold(f.bold);
  font.setUnderline(f.underline);
  return font;
}

}  // namespace

MainWindow::MainWindow(form::FormModel& form, Principal& principal, QtShell& shell)
    : QWidget(nullptr), FormMirror(form, principal), shell_(shell) {
  InitPictures();
  Build();
  Start([this] { shell_.AttachWindow(this); });
}

MainWindow::~MainWindow() {
  if (shell_.Window() == this) shell_.AttachWindow(nullptr);
}

QFont MainWindow::DefaultFont() {
  // Metrically the Arial of the design's time; the nearest installed face to
  // its 8-point sans serif that keeps Portuguese accents crisp.
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(PixelsOf(8));
  return font;
}

void MainWindow::Build() {
  setObjectName(QString::fromLatin1(kWindowClass));
  // Fixed size: a border that does not resize, the system menu and the
  // minimise button, no maximise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(form::FormModel::kClientWidth, form::FormModel::kClientHeight);
  setFont(DefaultFont());
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);
  setWindowIcon(QIcon(Picture("icone")));
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }

  // The design's order: a control's parent is built before it, and of two
  // controls that overlap the later lies above.
  for (form::Control* control : form_.AllControls()) {
    QWidget* parent = control->parent.empty() ? this : widgets_.at(control->parent);
    ControlWidget made = MakeControlWidget(*control, parent, *this);
    if (made.widget) Place(*control, made.widget, parent);
    if (made.apply) AddView(control, std::move(made.apply));
  }
}

void MainWindow::Place(const form::Control& control, QWidget* widget, QWidget* parent) {
  widget->setObjectName(QString::fromLatin1(control.Name().c_str()));
  if (auto* stack = qobject_cast<QStackedWidget*>(parent)) {
    stack->addWidget(widget);
  } else if (!widget->isWindow()) {
    const form::Geometry& g = control.geometry;
    widget->setGeometry(g.left, g.top, g.width, g.height);
  }
  // Every control names its own font: one inside a frame with a font of its
  // own (the pending-update tree) must not take the frame's.
  widget->setFont(FontOf(control.font));
  widgets_[control.Name()] = widget;
}

void MainWindow::ShowCaption(const std::string& caption) {
  setWindowTitle(ToQString(caption));
}

void MainWindow::ShowPage(const form::Control& page) {
  auto* stack = static_cast<QStackedWidget*>(widgets_.at("PgCtrlPrincipal"));
  stack->setCurrentWidget(widgets_.at(page.Name()));
}

void MainWindow::RepaintNow() {
  Mirror();
  if (isVisible()) repaint();
}

QWidget* MainWindow::WidgetOf(const std::string& controlName) const {
  auto found = widgets_.find(controlName);
  return found == widgets_.end() ? nullptr : found->second;
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) Shown();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Activated();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (CloseAllowed()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace korva::qt
