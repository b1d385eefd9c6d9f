#include "app/qt/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStackedWidget>
#include <exception>

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
    : QWidget(nullptr), form_(form), principal_(principal), shell_(shell) {
  InitPictures();
  Build();
  BindHandlers();
  shell_.AttachWindow(this);
  Mirror();
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
    if (made.apply) {
      views_.push_back(View{control, made.widget, ~std::uint64_t{0}, std::move(made.apply)});
    }
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

void MainWindow::BindHandlers() {
  // Which control's click runs which handler.
  using Handler = void (Principal::*)();
  static const std::pair<const char*, Handler> kClicks[] = {
      {"BtBtnFechar", &Principal::BtBtnFecharClick},
      {"FltBtnConfig", &Principal::BtBtnConfigClick},
      {"BitBtn1", &Principal::BitBtn1Click},
      {"LblSite", &Principal::LblSiteClick},
      {"Label6", &Principal::LblSiteClick},
      {"Label8", &Principal::Label8Click},
      {"BtBtnGravaConfig", &Principal::BtBtnGravaConfigClick},
      {"BtBtnNovasAtualizacoes", &Principal::BtBtnNovasAtualizacoesClick},
      {"BtBtnGravar", &Principal::BtBtnGravarClick},
      {"BtBtImpimirAtualizacao", &Principal::BtBtImpimirAtualizacaoClick},
      {"BtbtnIniciarAtualizacao", &Principal::BtbtnIniciarAtualizacaoClick},
      {"BtBtnContinuar", &Principal::BtBtnContinuarClick},
      {"BitBtn2", &Principal::BitBtn2Click},
      {"GerarScript1", &Principal::GerarScript1Click},
  };
  Principal& p = principal_;
  for (const auto& [control, handler] : kClicks)
    BindClick(control, [&p, handler] { (p.*handler)(); });
  // Both items of the test menu share one handler, told which was clicked.
  for (form::MenuItem* item : {&form_.AtualizacaoLocal, &form_.AtualizarPelaInternet})
    BindClick(item->Name(), [&p, item] { p.AtualizacaoLocalClick(*item); });
}

void MainWindow::BindClick(const std::string& controlName, std::function<void()> handler) {
  clicks_[controlName] = std::move(handler);
}

void MainWindow::Click(form::Control& control) {
  // "&Abortar" must reach a running transfer: it only sets two flags, so it
  // runs beside the operation instead of being turned away as a second click.
  if (&control == &form_.BtBtnAbortar) {
    principal_.BtBtnAbortarClick();
    return;
  }
  auto found = clicks_.find(control.Name());
  if (found == clicks_.end()) return;
  RunClick(&control, found->second);
}

void MainWindow::Choose(form::Control& control, std::function<void()> choice) {
  if (!choice) {
    auto found = clicks_.find(control.Name());
    if (found != clicks_.end()) choice = found->second;
  }
  RunClick(&control, choice);
}

void MainWindow::Changed(form::Control& control) {
  if (View* view = ViewOf(&control)) view->seen = control.Revision();
}

void MainWindow::RunClick(form::Control* clicked, const std::function<void()>& handler) {
  if (handler) principal_.Dispatch(handler);
  Mirror();
  if (View* view = ViewOf(clicked)) Apply(*view);
}

MainWindow::View* MainWindow::ViewOf(const form::Control* control) {
  for (View& view : views_) {
    if (view.control == control) return &view;
  }
  return nullptr;
}

void MainWindow::Apply(View& view) {
  view.seen = view.control->Revision();
  view.apply();
}

void MainWindow::Mirror() {
  for (View& view : views_) {
    if (view.control->Revision() != view.seen) Apply(view);
  }
  if (form_.CaptionRevision() != captionSeen_) {
    captionSeen_ = form_.CaptionRevision();
    setWindowTitle(ToQString(form_.Caption()));
  }
  if (form_.ActivePageRevision() != pageSeen_ && form_.ActivePage()) {
    pageSeen_ = form_.ActivePageRevision();
    auto* stack = static_cast<QStackedWidget*>(widgets_.at("PgCtrlPrincipal"));
    stack->setCurrentWidget(widgets_.at(form_.ActivePage()->Name()));
  }
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
  if (shownOnce_ || event->spontaneous()) return;
  shownOnce_ = true;
  principal_.Dispatch([this] { principal_.FormShow(); });
  Mirror();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || !isActiveWindow() || !shownOnce_) return;
  try {
    principal_.FormActivate();
  } catch (const std::exception& e) {
    principal_.ShowError(e.what());
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (principal_.OperationRunning()) {
    // Closed when the operation returns.
    principal_.RequestClose();
    event->ignore();
    return;
  }
  if (!closed_) {
    closed_ = true;
    try {
      principal_.FormClose();
    } catch (const std::exception& e) {
      principal_.ShowError(e.what());
    }
  }
  event->accept();
}

}  // namespace korva::qt
