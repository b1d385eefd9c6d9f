#include "app/qt/main_window.h"

#include <QActionGroup>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <exception>

#include "app/qt/qt_shell.h"
#include "app/qt/qt_text.h"

// Resources of a static library are linked in only when something names them.
static void InitPictures() {
  Q_INIT_RESOURCE(pictures);
}

namespace korva::qt {
namespace {

using form::TextControl;
using Kind = form::TextControl::Kind;

const QColor kDarkBlue(0, 0, 128);

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

QPixmap Picture(const std::string& name) {
  return QPixmap(QStringLiteral(":/pictures/%1.png").arg(QString::fromLatin1(name.c_str())));
}

QPixmap StepPicture(form::StepIndicator::Image image) {
  switch (image) {
    case form::StepIndicator::Image::Connect:
      return Picture("step_connect");
    case form::StepIndicator::Image::Disconnect:
      return Picture("step_disconnect");
    case form::StepIndicator::Image::Done:
      return Picture("step_done");
    case form::StepIndicator::Image::Transfer:
      return Picture("step_transfer");
    case form::StepIndicator::Image::None:
      break;
  }
  return QPixmap();
}

// Disabled lists take no input but must stay as legible as enabled ones.
void KeepColoursWhenDisabled(QWidget* widget) {
  QPalette palette = widget->palette();
  for (QPalette::ColorRole role : {QPalette::Text, QPalette::Base, QPalette::Highlight,
                                   QPalette::HighlightedText, QPalette::WindowText}) {
    palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
  }
  widget->setPalette(palette);
}

// A label that reports a primary-button click (links).
class ClickLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && onClick) {
      event->accept();
      return;
    }
    QLabel::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && onClick &&
        rect().contains(event->position().toPoint())) {
      onClick();
      return;
    }
    QLabel::mouseReleaseEvent(event);
  }
};

// An area that draws nothing; the secondary button opens its popup menu.
class HotArea : public QWidget {
 public:
  using QWidget::QWidget;
  QMenu* menu = nullptr;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::RightButton) {
      event->accept();
      return;
    }
    QWidget::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::RightButton && menu) {
      menu->popup(event->globalPosition().toPoint());
      return;
    }
    QWidget::mouseReleaseEvent(event);
  }
};

// Rows of a fixed height, each a check box and a text, drawn in the enabled
// colours whether or not the list takes input.
class CheckListDelegate : public QStyledItemDelegate {
 public:
  CheckListDelegate(int itemHeight, QObject* parent)
      : QStyledItemDelegate(parent), itemHeight_(itemHeight) {}

  static QRect CheckRect(const QRect& row) {
    const int side = std::min(row.height() - 2, 11);
    return QRect(row.left() + 2, row.top() + (row.height() - side) / 2, side, side);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int text = option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return QSize(CheckRect(QRect(0, 0, 0, itemHeight_)).right() + 5 + text + 2, itemHeight_);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QWidget* widget = option.widget;
    QPalette palette = widget->palette();
    palette.setCurrentColorGroup(QPalette::Active);
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    if (selected) painter->fillRect(option.rect, palette.color(QPalette::Highlight));
    QStyleOptionButton box;
    box.rect = CheckRect(option.rect);
    box.palette = palette;
    box.state = QStyle::State_Enabled |
                (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On
                                                                       : QStyle::State_Off);
    widget->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
    QRect textRect = option.rect;
    textRect.setLeft(box.rect.right() + 5);
    painter->setFont(option.font);
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
  }

  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
    if (event->type() != QEvent::MouseButtonRelease) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton ||
        !CheckRect(option.rect).contains(mouse->position().toPoint())) {
      return false;
    }
    const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  }

 private:
  int itemHeight_;
};

// The status bar: sunken panels side by side, the last one taking the rest.
class StatusBarWidget : public QWidget {
 public:
  StatusBarWidget(const form::StatusBarControl& control, QWidget* parent) : QWidget(parent) {
    const int count = static_cast<int>(control.Panels().size());
    int left = 0;
    for (int i = 0; i < count; ++i) {
      auto* panel = new QLabel(this);
      panel->setObjectName(QStringLiteral("StatusBarPanel%1").arg(i));
      panel->setAlignment(Qt::AlignCenter);
      panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      panel->setTextFormat(Qt::PlainText);
      const int width = i + 1 < count ? control.Panels()[static_cast<std::size_t>(i)].width
                                      : control.geometry.width - left;
      panel->setGeometry(left, 1, width - 2, control.geometry.height - 1);
      left += width;
      panels.push_back(panel);
    }
  }
  std::vector<QLabel*> panels;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
  }
};

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

  // Menus first: the hot areas that open them come later in the model.
  for (form::Control* control : form_.AllControls()) {
    auto* popup = dynamic_cast<form::PopupMenu*>(control);
    if (!popup) continue;
    auto* menu = new QMenu(this);
    menu->setObjectName(QString::fromLatin1(popup->Name().c_str()));
    menu->setFont(DefaultFont());
    QActionGroup* radios = nullptr;
    for (form::MenuItem* item : popup->items) {
      QAction* action = menu->addAction(ToQString(item->caption));
      action->setObjectName(QString::fromLatin1(item->Name().c_str()));
      if (item->radioItem) {
        // Radio marks, yet clicking the checked item may leave none checked.
        if (!radios) {
          radios = new QActionGroup(menu);
          radios->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        }
        action->setCheckable(true);
        radios->addAction(action);
      }
      connect(action, &QAction::triggered, this, [this, item] {
        auto found = clicks_.find(item->Name());
        RunClick(item, found != clicks_.end() ? found->second : std::function<void()>());
      });
      views_.push_back(View{item, nullptr, ~std::uint64_t{0}, [item, action] {
                              action->setText(ToQString(item->caption));
                              action->setChecked(item->Checked());
                              action->setEnabled(item->Enabled());
                              action->setVisible(item->Visible());
                            }});
    }
    widgets_[popup->Name()] = menu;
  }

  for (form::Control* control : form_.AllControls()) {
    if (dynamic_cast<form::PopupMenu*>(control) || dynamic_cast<form::MenuItem*>(control)) {
      continue;
    }
    QWidget* parent = this;
    if (!control->parent.empty()) {
      auto found = widgets_.find(control->parent);
      if (found != widgets_.end()) parent = found->second;
    }
    QWidget* widget = Create(*control, parent);
    widget->setObjectName(QString::fromLatin1(control->Name().c_str()));
    if (auto* stack = qobject_cast<QStackedWidget*>(parent)) {
      stack->addWidget(widget);
    } else {
      const form::Geometry& g = control->geometry;
      widget->setGeometry(g.left, g.top, g.width, g.height);
    }
    // Every control names its own font: one inside a frame with a font of its
    // own (the pending-update tree) must not take the frame's.
    widget->setFont(FontOf(control->font));
    widgets_[control->Name()] = widget;
  }
  widgets_.at("BtBtnFechar")->raise();
}

QWidget* MainWindow::Create(form::Control& control, QWidget* parent) {
  QWidget* widget = nullptr;
  std::function<void()> apply;

  if (auto* c = dynamic_cast<TextControl*>(&control)) {
    switch (c->kind) {
      case Kind::Page:
        widget = new QWidget(parent);
        break;
      case Kind::Panel:
        if (c->Name() == "PgCtrlPrincipal") {
          widget = new QStackedWidget(parent);
        } else if (!c->picture.empty()) {
          auto* picture = new QLabel(parent);
          picture->setPixmap(Picture(c->picture));
          picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
          widget = picture;
        } else {
          widget = new QWidget(parent);
        }
        break;
      case Kind::Label:
      case Kind::StaticText: {
        const bool hotArea = [&] {
          for (form::Control* other : form_.AllControls()) {
            auto* popup = dynamic_cast<form::PopupMenu*>(other);
            if (popup && popup->hotArea == c->Name()) return true;
          }
          return false;
        }();
        if (hotArea) {
          auto* area = new HotArea(parent);
          for (form::Control* other : form_.AllControls()) {
            auto* popup = dynamic_cast<form::PopupMenu*>(other);
            if (popup && popup->hotArea == c->Name()) {
              area->menu = static_cast<QMenu*>(widgets_.at(popup->Name()));
            }
          }
          widget = area;
          break;
        }
        auto* label = new ClickLabel(parent);
        label->setTextFormat(Qt::PlainText);
        if (c->kind == Kind::StaticText) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (c->font.darkBlue) {
          QPalette palette = label->palette();
          palette.setColor(QPalette::WindowText, kDarkBlue);
          label->setPalette(palette);
        }
        if (c->handCursor) label->setCursor(Qt::PointingHandCursor);
        label->onClick = [this, c] { OnClick(*c); };
        apply = [c, label] {
          const QString text = ToMultiLine(c->Text());
          const bool multiLine = text.contains(QLatin1Char('\n'));
          label->setAlignment((c->centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                              (multiLine ? Qt::AlignTop : Qt::AlignVCenter));
          label->setText(text);
        };
        widget = label;
        break;
      }
      case Kind::Button:
      case Kind::FlatButton: {
        auto* button = new QPushButton(parent);
        button->setFlat(c->kind == Kind::FlatButton);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, c] { OnClick(*c); });
        apply = [c, button] { button->setText(ToQString(c->Text())); };
        widget = button;
        break;
      }
      case Kind::Edit: {
        auto* edit = new QLineEdit(parent);
        if (c->passwordChar) {
          edit->setEchoMode(QLineEdit::Password);
          edit->setStyleSheet(QStringLiteral("lineedit-password-character: %1")
                                  .arg(static_cast<unsigned char>(c->passwordChar)));
        }
        connect(edit, &QLineEdit::textEdited, this, [this, c, edit](const QString& typed) {
          c->SetText(FromQString(typed));
          if (View* view = ViewOf(c)) view->seen = c->Revision();
          // What the code page cannot hold is shown as it will be kept.
          const QString held = ToQString(c->Text());
          if (held != typed) {
            const int position = edit->cursorPosition();
            edit->setText(held);
            edit->setCursorPosition(position);
          }
        });
        apply = [c, edit] {
          const QString text = ToQString(c->Text());
          if (edit->text() != text) edit->setText(text);
        };
        widget = edit;
        break;
      }
      case Kind::GroupBox: {
        auto* box = new QGroupBox(parent);
        if (c->font.darkBlue) {
          QPalette palette = box->palette();
          palette.setColor(QPalette::WindowText, kDarkBlue);
          box->setPalette(palette);
        }
        apply = [c, box] { box->setTitle(ToQString(c->Text())); };
        widget = box;
        break;
      }
    }
  } else if (auto* memo = dynamic_cast<form::Memo*>(&control)) {
    auto* edit = new QPlainTextEdit(parent);
    edit->setReadOnly(true);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    apply = [memo, edit] {
      QStringList lines;
      for (const std::string& line : memo->Lines()) lines << ToQString(line);
      edit->setPlainText(lines.join(QLatin1Char('\n')));
    };
    widget = edit;
  } else if (auto* group = dynamic_cast<form::RadioGroup*>(&control)) {
    auto* box = new QGroupBox(ToQString(group->caption), parent);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(8, 2, 8, 4);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    auto* buttons = new QButtonGroup(box);
    const int columns = std::max(1, group->columns);
    for (int i = 0; i < static_cast<int>(group->items.size()); ++i) {
      auto* radio = new QRadioButton(ToQString(group->items[static_cast<std::size_t>(i)]), box);
      radio->setObjectName(
          QStringLiteral("%1_%2").arg(QString::fromLatin1(group->Name().c_str())).arg(i));
      buttons->addButton(radio, i);
      grid->addWidget(radio, i / columns, i % columns);
    }
    connect(buttons, &QButtonGroup::idClicked, this,
            [this, group](int id) { RunClick(group, [group, id] { group->SetItemIndex(id); }); });
    apply = [group, buttons] {
      const int index = group->ItemIndex();
      if (QAbstractButton* radio = buttons->button(index)) {
        radio->setChecked(true);
      } else {
        // None selected: an exclusive group cannot uncheck its last button.
        buttons->setExclusive(false);
        for (QAbstractButton* b : buttons->buttons()) b->setChecked(false);
        buttons->setExclusive(true);
      }
    };
    widget = box;
  } else if (auto* list = dynamic_cast<form::CheckList*>(&control)) {
    auto* view = new QListWidget(parent);
    view->setItemDelegate(new CheckListDelegate(list->itemHeight, view));
    view->setUniformItemSizes(true);
    // A list box of single lines: long lines are cut at the right edge, no
    // horizontal scroll bar takes a line's room.
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    KeepColoursWhenDisabled(view);
    connect(view, &QListWidget::itemChanged, this, [this, list, view](QListWidgetItem* item) {
      const int row = view->row(item);
      if (row < 0 || row >= list->Count()) return;
      list->SetChecked(row, item->checkState() == Qt::Checked);
      if (View* v = ViewOf(list)) v->seen = list->Revision();
    });
    connect(view, &QListWidget::currentRowChanged, this, [this, list](int row) {
      list->SetSelectedIndex(row);
      if (View* v = ViewOf(list)) v->seen = list->Revision();
    });
    apply = [list, view] {
      const QSignalBlocker quiet(view);
      const auto& items = list->Items();
      while (view->count() > list->Count()) delete view->takeItem(view->count() - 1);
      for (int i = 0; i < list->Count(); ++i) {
        const auto& item = items[static_cast<std::size_t>(i)];
        QListWidgetItem* row = view->item(i);
        if (!row) {
          row = new QListWidgetItem(view);
          row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        }
        const QString text = ToQString(item.text);
        if (row->text() != text) row->setText(text);
        const Qt::CheckState state = item.checked ? Qt::Checked : Qt::Unchecked;
        if (row->checkState() != state) row->setCheckState(state);
      }
      const int selected = list->SelectedIndex();
      view->setCurrentRow(selected);
      if (selected >= 0) view->scrollToItem(view->item(selected));
    };
    widget = view;
  } else if (auto* gauge = dynamic_cast<form::Gauge*>(&control)) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setAlignment(Qt::AlignCenter);
    bar->setFormat(QStringLiteral("%p%"));
    apply = [gauge, bar] { bar->setValue(gauge->Percent()); };
    widget = bar;
  } else if (auto* tree = dynamic_cast<form::TreeView*>(&control)) {
    auto* view = new QTreeWidget(parent);
    view->setHeaderHidden(true);
    view->setColumnCount(1);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    apply = [tree, view] {
      view->clear();
      bool nested = false;
      std::function<void(QTreeWidgetItem*, const form::TreeView::Node&)> add =
          [&](QTreeWidgetItem* parentItem, const form::TreeView::Node& node) {
            auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(view);
            item->setText(0, ToQString(node.text));
            if (!node.children.empty()) nested = true;
            for (const auto& child : node.children) add(item, child);
          };
      for (const auto& node : tree->Nodes()) add(nullptr, node);
      view->setRootIsDecorated(nested);
      view->expandAll();
    };
    widget = view;
  } else if (auto* step = dynamic_cast<form::StepIndicator*>(&control)) {
    auto* picture = new QLabel(parent);
    picture->setAlignment(Qt::AlignCenter);
    apply = [step, picture] { picture->setPixmap(StepPicture(step->CurrentImage())); };
    widget = picture;
  } else if (auto* status = dynamic_cast<form::StatusBarControl*>(&control)) {
    auto* bar = new StatusBarWidget(*status, parent);
    apply = [status, bar] {
      for (std::size_t i = 0; i < bar->panels.size(); ++i) {
        bar->panels[i]->setText(ToQString(status->Panels()[i].text));
      }
    };
    widget = bar;
  }
  if (!widget) widget = new QWidget(parent);

  const bool page =
      dynamic_cast<TextControl*>(&control) && static_cast<TextControl&>(control).kind == Kind::Page;
  views_.push_back(View{&control, widget, ~std::uint64_t{0}, [&control, widget, page, apply] {
                          // The page stack alone decides which page shows.
                          if (!page) widget->setHidden(!control.Visible());
                          widget->setEnabled(control.Enabled());
                          widget->setToolTip(ToQString(control.Hint()));
                          if (apply) apply();
                        }});
  return widget;
}

void MainWindow::BindHandlers() {
  Principal& p = principal_;
  BindClick("BtBtnFechar", [&p] { p.BtBtnFecharClick(); });
  BindClick("FltBtnConfig", [&p] { p.BtBtnConfigClick(); });
  BindClick("BitBtn1", [&p] { p.BitBtn1Click(); });
  BindClick("LblSite", [&p] { p.LblSiteClick(); });
  BindClick("Label6", [&p] { p.LblSiteClick(); });
  BindClick("Label8", [&p] { p.Label8Click(); });
  BindClick("BtBtnGravaConfig", [&p] { p.BtBtnGravaConfigClick(); });
  BindClick("BtBtnNovasAtualizacoes", [&p] { p.BtBtnNovasAtualizacoesClick(); });
  BindClick("BtBtnGravar", [&p] { p.BtBtnGravarClick(); });
  BindClick("BtBtImpimirAtualizacao", [&p] { p.BtBtImpimirAtualizacaoClick(); });
  form::FormModel& f = form_;
  BindClick("AtualizacaoLocal", [&p, &f] { p.AtualizacaoLocalClick(f.AtualizacaoLocal); });
  BindClick("AtualizarPelaInternet",
            [&p, &f] { p.AtualizacaoLocalClick(f.AtualizarPelaInternet); });
  BindClick("GerarScript1", [&p] { p.GerarScript1Click(); });
}

void MainWindow::BindClick(const std::string& controlName, std::function<void()> handler) {
  clicks_[controlName] = std::move(handler);
}

void MainWindow::OnClick(form::Control& control) {
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
