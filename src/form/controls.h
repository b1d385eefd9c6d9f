#pragma once
// Plain control objects of the form model. Handlers read and write these; the
// Qt window mirrors them and writes the operator's input back. Every change
// that the window must show bumps the control's revision, so the window
// redraws exactly what changed when the shell is asked to repaint.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korva::form {

struct Geometry {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct Font {
  std::string family;  // empty: the window's default font
  int pointSize = 8;
  bool bold = false;
  bool underline = false;
  bool darkBlue = false;  // link-coloured text
};

class Control {
 public:
  explicit Control(std::string name) : name_(std::move(name)) {}
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  std::uint64_t Revision() const { return revision_; }

  bool Visible() const { return visible_; }
  void SetVisible(bool v) { Set(visible_, v); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { Set(enabled_, v); }
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string v) { Set(hint_, std::move(v)); }

  // Layout and font: fixed when the model is built.
  Geometry geometry;
  Font font;
  // The control whose page or panel holds this one (empty: the window).
  std::string parent;

 protected:
  template <typename T>
  void Set(T& field, T value) {
    if (field == value) return;
    field = std::move(value);
    Touch();
  }
  void Touch() { ++revision_; }

 private:
  std::string name_;
  std::uint64_t revision_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
};

// Labels, buttons, static text boxes, one-line edit fields, group frames,
// panels and pages: controls whose state is one text.
class TextControl : public Control {
 public:
  enum class Kind { Label, Button, FlatButton, StaticText, Edit, GroupBox, Panel, Page };
  TextControl(std::string name, Kind kind, std::string text = {})
      : Control(std::move(name)), kind(kind), text_(std::move(text)) {}
  const Kind kind;
  const std::string& Text() const { return text_; }
  void SetText(std::string v) { Set(text_, std::move(v)); }
  // An edit field that shows this character for each character typed (0: none).
  char passwordChar = 0;
  // Link cursor (hand) over the control.
  bool handCursor = false;
  // A picture control: the name of the picture it shows (the window's
  // resources hold "<name>.png").
  std::string picture;
  // Text aligned to the centre of the control rather than its left edge.
  bool centred = false;

 private:
  std::string text_;
};

// A read-only multi-line text.
class Memo : public Control {
 public:
  using Control::Control;
  const std::vector<std::string>& Lines() const { return lines_; }
  void SetLines(std::vector<std::string> v) { Set(lines_, std::move(v)); }
  void AddLine(std::string line) {
    lines_.push_back(std::move(line));
    Touch();
  }
  void Clear() { SetLines({}); }

 private:
  std::vector<std::string> lines_;
};

// Radio group: setting the selected index to a new value runs onClick, as a
// click of the operator does; attach and detach the handler where the logic
// must change the selection without it.
class RadioGroup : public Control {
 public:
  RadioGroup(std::string name, std::string caption, std::vector<std::string> items, int index)
      : Control(std::move(name)),
        caption(std::move(caption)),
        items(std::move(items)),
        itemIndex_(index) {}
  std::string caption;
  std::vector<std::string> items;
  int columns = 2;
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index) {
    if (index < -1 || index >= static_cast<int>(items.size())) index = -1;
    if (index == itemIndex_) return;
    itemIndex_ = index;
    Touch();
    if (onClick) onClick();
  }
  std::function<void()> onClick;

 private:
  int itemIndex_;
};

// Check-mark list: the update log and the branch list.
class CheckList : public Control {
 public:
  struct Item {
    std::string text;
    bool checked = false;
    bool operator==(const Item&) const = default;
  };
  using Control::Control;
  int itemHeight = 13;

  const std::vector<Item>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  void Add(std::string text) {
    items_.push_back({std::move(text), false});
    Touch();
  }
  void Delete(int index);
  void Clear() {
    if (items_.empty() && selected_ == -1) return;
    items_.clear();
    selected_ = -1;
    Touch();
  }
  void SetText(int index, std::string text);
  void SetChecked(int index, bool checked);
  int SelectedIndex() const { return selected_; }
  // -1 or an index outside the list: no line selected.
  void SetSelectedIndex(int index) {
    if (index < 0 || index >= Count()) index = -1;
    Set(selected_, index);
  }

 private:
  std::vector<Item> items_;
  int selected_ = -1;
};

// Progress gauge (minimum 0). Its revision changes only when what it draws
// changes: the percentage or the maximum.
class Gauge : public Control {
 public:
  using Control::Control;
  std::int64_t MaxValue() const { return max_; }
  // Fails with "Value must be between 1 and 2147483647" for a negative maximum.
  void SetMaxValue(std::int64_t max);
  std::int64_t Progress() const { return progress_; }
  // Kept between 0 and the maximum.
  void SetProgress(std::int64_t value);
  // Whole part of 100 * progress / maximum; 0 when the maximum is 0.
  int Percent() const;

 private:
  std::int64_t max_ = 100;
  std::int64_t progress_ = 0;
};

// Read-only tree that shows every node expanded.
class TreeView : public Control {
 public:
  struct Node {
    std::string text;
    std::vector<Node> children;
    bool operator==(const Node&) const = default;
  };
  using Control::Control;
  const std::vector<Node>& Nodes() const { return nodes_; }
  void SetNodes(std::vector<Node> v) { Set(nodes_, std::move(v)); }
  void Clear() { SetNodes({}); }

 private:
  std::vector<Node> nodes_;
};

// Step indicator of the transfer panels: one picture of the window's image list.
class StepIndicator : public Control {
 public:
  enum class Image { None = -1, Connect = 0, Disconnect = 1, Done = 2, Transfer = 3 };
  using Control::Control;
  Image CurrentImage() const { return image_; }
  void SetImage(Image v) { Set(image_, v); }

 private:
  Image image_ = Image::None;
};

class StatusBarControl : public Control {
 public:
  struct Panel {
    std::string text;
    int width = 50;
  };
  StatusBarControl(std::string name, std::vector<int> widths);
  const std::vector<Panel>& Panels() const { return panels_; }
  const std::string& PanelText(int i) const { return panels_.at(static_cast<std::size_t>(i)).text; }
  void SetPanelText(int i, std::string text);

 private:
  std::vector<Panel> panels_;
};

// Popup menu items. A radio item that becomes checked unchecks the other
// radio items of its menu (see PopupMenu::SetChecked).
class MenuItem : public Control {
 public:
  MenuItem(std::string name, std::string caption, bool radio)
      : Control(std::move(name)), caption(std::move(caption)), radioItem(radio) {}
  std::string caption;
  const bool radioItem;
  bool Checked() const { return checked_; }
  std::function<void()> onClick;

 private:
  friend class PopupMenu;
  bool checked_ = false;
};

class PopupMenu : public Control {
 public:
  using Control::Control;
  std::vector<MenuItem*> items;
  // The invisible hot area whose secondary-button click opens the menu.
  std::string hotArea;
  void SetChecked(MenuItem& item, bool checked);
};

}  // namespace korva::form
