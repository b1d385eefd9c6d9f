#include "app/qt/control_widgets.h"

#include <QActionGroup>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
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
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>

#include "app/qt/qt_text.h"

namespace korva::qt {
namespace {

using form::Kind;
using form::TextControl;

const QColor kDarkBlue(0, 0, 128);

void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
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

// An area that draws nothing; the secondary button opens its popup menu, the
// menu made as its child.
class HotArea : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::RightButton) {
      event->accept();
      return;
    }
    QWidget::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    auto* menu = findChild<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
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

// What every control on the form shows besides its own state: whether it is
// hidden (a page only where the page stack puts it), enabled, and its hint.
ControlWidget OnForm(form::Control& c, QWidget* widget, std::function<void()> own = {}) {
  const bool ownVisibility = c.kind != Kind::Page;
  return {widget, [&c, widget, ownVisibility, own = std::move(own)] {
            if (ownVisibility) widget->setHidden(!c.Visible());
            widget->setEnabled(c.Enabled());
            widget->setToolTip(ToQString(c.Hint()));
            if (own) own();
          }};
}

ControlWidget MakePanel(form::Control& c, QWidget* parent) {
  return OnForm(c, new QWidget(parent));
}

ControlWidget MakePageControl(form::Control& c, QWidget* parent) {
  return OnForm(c, new QStackedWidget(parent));
}

ControlWidget MakePicture(TextControl& c, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setPixmap(Picture(c.picture));
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return OnForm(c, picture);
}

ControlWidget MakeHotArea(form::Control& c, QWidget* parent) {
  return OnForm(c, new HotArea(parent));
}

ControlWidget MakeLabel(TextControl& c, QWidget* parent, ControlHost& host) {
  auto* label = new ClickLabel(parent);
  label->setTextFormat(Qt::PlainText);
  if (c.kind == Kind::StaticText) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  if (c.font.darkBlue) SetTextColour(label, kDarkBlue);
  if (c.handCursor) label->setCursor(Qt::PointingHandCursor);
  label->onClick = [&host, &c] { host.Click(c); };
  return OnForm(c, label, [&c, label] {
    const QString text = ToMultiLine(c.Text());
    const bool multiLine = text.contains(QLatin1Char('\n'));
    label->setAlignment((c.centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                        (multiLine ? Qt::AlignTop : Qt::AlignVCenter));
    label->setText(text);
  });
}

ControlWidget MakeButton(TextControl& c, QWidget* parent, ControlHost& host) {
  auto* button = new QPushButton(parent);
  button->setFlat(c.kind == Kind::FlatButton);
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, button, [&host, &c] { host.Click(c); });
  return OnForm(c, button, [&c, button] { button->setText(ToQString(c.Text())); });
}

ControlWidget MakeEdit(TextControl& c, QWidget* parent, ControlHost& host) {
  auto* edit = new QLineEdit(parent);
  if (c.passwordChar) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: %1")
                            .arg(static_cast<unsigned char>(c.passwordChar)));
  }
  QObject::connect(edit, &QLineEdit::textEdited, edit, [&host, &c, edit](const QString& typed) {
    c.SetText(FromQString(typed));
    host.Changed(c);
    // What the code page cannot hold is shown as it will be kept.
    const QString held = ToQString(c.Text());
    if (held != typed) {
      const int position = edit->cursorPosition();
      edit->setText(held);
      edit->setCursorPosition(position);
    }
  });
  return OnForm(c, edit, [&c, edit] {
    const QString text = ToQString(c.Text());
    if (edit->text() != text) edit->setText(text);
  });
}

ControlWidget MakeGroupBox(TextControl& c, QWidget* parent) {
  auto* box = new QGroupBox(parent);
  if (c.font.darkBlue) SetTextColour(box, kDarkBlue);
  return OnForm(c, box, [&c, box] { box->setTitle(ToQString(c.Text())); });
}

ControlWidget MakeMemo(form::Memo& memo, QWidget* parent) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setReadOnly(true);
  edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  return OnForm(memo, edit, [&memo, edit] {
    QStringList lines;
    for (const std::string& line : memo.Lines()) lines << ToQString(line);
    edit->setPlainText(lines.join(QLatin1Char('\n')));
  });
}

ControlWidget MakeRadioGroup(form::RadioGroup& group, QWidget* parent, ControlHost& host) {
  auto* box = new QGroupBox(ToQString(group.caption), parent);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(8, 2, 8, 4);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(2);
  auto* buttons = new QButtonGroup(box);
  const int columns = std::max(1, group.columns);
  for (int i = 0; i < static_cast<int>(group.items.size()); ++i) {
    auto* radio = new QRadioButton(ToQString(group.items[static_cast<std::size_t>(i)]), box);
    radio->setObjectName(
        QStringLiteral("%1_%2").arg(QString::fromLatin1(group.Name().c_str())).arg(i));
    buttons->addButton(radio, i);
    grid->addWidget(radio, i / columns, i % columns);
  }
  QObject::connect(buttons, &QButtonGroup::idClicked, box, [&host, &group](int id) {
    host.Choose(group, [&group, id] { group.SetItemIndex(id); });
  });
  return OnForm(group, box, [&group, buttons] {
    const int index = group.ItemIndex();
    if (QAbstractButton* radio = buttons->button(index)) {
      radio->setChecked(true);
    } else {
      // None selected: an exclusive group cannot uncheck its last button.
      buttons->setExclusive(false);
      for (QAbstractButton* b : buttons->buttons()) b->setChecked(false);
      buttons->setExclusive(true);
    }
  });
}

ControlWidget MakeCheckList(form::CheckList& list, QWidget* parent, ControlHost& host) {
  auto* view = new QListWidget(parent);
  view->setItemDelegate(new CheckListDelegate(list.itemHeight, view));
  view->setUniformItemSizes(true);
  // A list box of single lines: long lines are cut at the right edge, no
  // horizontal scroll bar takes a line's room.
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  KeepColoursWhenDisabled(view);
  QObject::connect(view, &QListWidget::itemChanged, view,
                   [&host, &list, view](QListWidgetItem* item) {
                     const int row = view->row(item);
                     if (row < 0 || row >= list.Count()) return;
                     list.SetChecked(row, item->checkState() == Qt::Checked);
                     host.Changed(list);
                   });
  QObject::connect(view, &QListWidget::currentRowChanged, view, [&host, &list](int row) {
    list.SetSelectedIndex(row);
    host.Changed(list);
  });
  return OnForm(list, view, [&list, view] {
    const QSignalBlocker quiet(view);
    const auto& items = list.Items();
    while (view->count() > list.Count()) delete view->takeItem(view->count() - 1);
    for (int i = 0; i < list.Count(); ++i) {
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
    const int selected = list.SelectedIndex();
    view->setCurrentRow(selected);
    if (selected >= 0) view->scrollToItem(view->item(selected));
  });
}

ControlWidget MakeGauge(form::Gauge& gauge, QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setAlignment(Qt::AlignCenter);
  bar->setFormat(QStringLiteral("%p%"));
  return OnForm(gauge, bar, [&gauge, bar] { bar->setValue(gauge.Percent()); });
}

ControlWidget MakeTree(form::TreeView& tree, QWidget* parent) {
  auto* view = new QTreeWidget(parent);
  view->setHeaderHidden(true);
  view->setColumnCount(1);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  return OnForm(tree, view, [&tree, view] {
    view->clear();
    bool nested = false;
    std::function<void(QTreeWidgetItem*, const form::TreeView::Node&)> add =
        [&](QTreeWidgetItem* parentItem, const form::TreeView::Node& node) {
          auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(view);
          item->setText(0, ToQString(node.text));
          if (!node.children.empty()) nested = true;
          for (const auto& child : node.children) add(item, child);
        };
    for (const auto& node : tree.Nodes()) add(nullptr, node);
    view->setRootIsDecorated(nested);
    view->expandAll();
  });
}

ControlWidget MakeStepIndicator(form::StepIndicator& step, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setAlignment(Qt::AlignCenter);
  return OnForm(step, picture, [&step, picture] { picture->setPixmap(Picture(step.Picture())); });
}

ControlWidget MakeStatusBar(form::StatusBarControl& status, QWidget* parent) {
  auto* bar = new StatusBarWidget(status, parent);
  return OnForm(status, bar, [&status, bar] {
    for (std::size_t i = 0; i < bar->panels.size(); ++i) {
      bar->panels[i]->setText(ToQString(status.Panels()[i].text));
    }
  });
}

// A child of the hot area that opens it; its items add themselves.
ControlWidget MakePopupMenu(QWidget* hotArea) {
  return {new QMenu(hotArea), nullptr};
}

ControlWidget MakeMenuItem(form::MenuItem& item, QWidget* parent, ControlHost& host) {
  auto* menu = static_cast<QMenu*>(parent);
  QAction* action = menu->addAction(ToQString(item.caption));
  action->setObjectName(QString::fromLatin1(item.Name().c_str()));
  if (item.radioItem) {
    // Radio marks, yet clicking the checked item may leave none checked.
    auto* radios = menu->findChild<QActionGroup*>(QString(), Qt::FindDirectChildrenOnly);
    if (!radios) {
      radios = new QActionGroup(menu);
      radios->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    }
    action->setCheckable(true);
    radios->addAction(action);
  }
  QObject::connect(action, &QAction::triggered, menu, [&host, &item] { host.Choose(item, {}); });
  return {nullptr, [&item, action] {
            action->setText(ToQString(item.caption));
            action->setChecked(item.Checked());
            action->setEnabled(item.Enabled());
            action->setVisible(item.Visible());
          }};
}

// The kind names the class that holds the control (form::ControlOf).
template <typename T>
T& As(form::Control& control) {
  return static_cast<T&>(control);
}

}  // namespace

ControlWidget MakeControlWidget(form::Control& c, QWidget* parent, ControlHost& host) {
  switch (c.kind) {
    case Kind::Panel:
    case Kind::Page:
      return MakePanel(c, parent);
    case Kind::PageControl:
      return MakePageControl(c, parent);
    case Kind::Picture:
      return MakePicture(As<TextControl>(c), parent);
    case Kind::HotArea:
      return MakeHotArea(c, parent);
    case Kind::Label:
    case Kind::StaticText:
      return MakeLabel(As<TextControl>(c), parent, host);
    case Kind::Button:
    case Kind::FlatButton:
      return MakeButton(As<TextControl>(c), parent, host);
    case Kind::Edit:
      return MakeEdit(As<TextControl>(c), parent, host);
    case Kind::GroupBox:
      return MakeGroupBox(As<TextControl>(c), parent);
    case Kind::Memo:
      return MakeMemo(As<form::Memo>(c), parent);
    case Kind::RadioGroup:
      return MakeRadioGroup(As<form::RadioGroup>(c), parent, host);
    case Kind::CheckList:
      return MakeCheckList(As<form::CheckList>(c), parent, host);
    case Kind::Gauge:
      return MakeGauge(As<form::Gauge>(c), parent);
    case Kind::Tree:
      return MakeTree(As<form::TreeView>(c), parent);
    case Kind::StepIndicator:
      return MakeStepIndicator(As<form::StepIndicator>(c), parent);
    case Kind::StatusBar:
      return MakeStatusBar(As<form::StatusBarControl>(c), parent);
    case Kind::PopupMenu:
      return MakePopupMenu(parent);
    case Kind::MenuItem:
    case Kind::RadioMenuItem:
      return MakeMenuItem(As<form::MenuItem>(c), parent, host);
  }
  return {};
}

QPixmap Picture(const std::string& name) {
  if (name.empty()) return QPixmap();
  return QPixmap(QStringLiteral(":/pictures/%1.png").arg(QString::fromLatin1(name.c_str())));
}

}  // namespace korva::qt
