#pragma once
// Plain control objects of the form model. Handlers read and write these;
// whichever window draws them (Qt, or the Win32 window of the Windows build)
// mirrors them and writes the operator's input back. Every change that a
// window must show bumps the control's revision, so it redraws exactly what
// changed when the shell is asked to repaint.
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

// What a control is on the window. The kind decides the class that holds the
// control's state (ControlOf) and what each window makes of it.
enum class Kind {
  Panel,          // a plain area that holds other controls
  PageControl,    // the stack of pages, one showing at a time
  Page,           // one page of the stack
  Picture,        // one of the window's pictures
  HotArea,        // draws nothing; its secondary-button click opens its popup menu
  Label,          // text the operator reads, or clicks when it is a link
  StaticText,     // text in a sunken box
  Button,         // push button
  FlatButton,     // push button without a raised border
  Edit,           // one-line edit field
  GroupBox,       // titled frame around other controls
  Memo,           // read-only lines
  RadioGroup,     // titled frame of radio buttons
  CheckList,      // list of lines with check marks
  Gauge,          // progress bar
  Tree,           // read-only tree
  StepIndicator,  // the picture of a transfer step
  StatusBar,      // the panels at the foot of the window
  PopupMenu,      // menu opened by the hot area that is its parent
  MenuItem,       // item of the popup menu that is its parent
  RadioMenuItem,  // menu item checked as one of a set
};

// One line of the window's design (form/window_design.def): the control's
// kind, name, parent and place, and the state it starts in. The fields after
// the geometry are named in a line in the order they are declared here.
struct ControlDesign {
  Kind kind;
  const char* name;
  const char* parent;  // empty: the window
  Geometry geometry;
  std::string text;  // caption, text or title
  Font font = {};
  bool handCursor = false;
  bool centred = false;
  char passwordChar = 0;
  const char* picture = "";
  const char* hint = "";
  bool hidden = false;
  bool disabled = false;
  std::vector<std::string> items = {};  // a radio group's buttons, a memo's lines
  int itemIndex = -1;                   // a radio group's selected button
  std::vector<int> panels = {};         // a status bar's panel widths
  bool checked = false;                 // a menu item's check mark
};

class Control {
 public:
  Control(std::string name, Kind kind) : kind(kind), name_(std::move(name)) {}
  explicit Control(const ControlDesign& design)
      : geometry(design.geometry),
        font(design.font),
        parent(design.parent),
        kind(design.kind),
        name_(design.name),
        visible_(!design.hidden),
        enabled_(!design.disabled),
        hint_(design.hint) {}
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
  // The control that holds this one: its page, panel or frame (empty: the
  // window); for a popup menu the hot area that opens it; for a menu item
  // its menu.
  std::string parent;
  const Kind kind;

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
// panels, pages, pictures and hot areas: controls whose state is one text.
class TextControl : public Control {
 public:
  explicit TextControl(const ControlDesign& design)
      : Control(design),
        passwordChar(design.passwordChar),
        handCursor(design.handCursor),
        picture(design.picture),
        centred(design.centred),
        text_(design.text) {}
  const std::string& Text() const { return text_; }
  void SetText(std::string v) { Set(text_, std::move(v)); }
  // An edit field that shows this character for each character typed (0: none).
  char passwordChar = 0;
  // Link cursor (hand) over the control.
  bool handCursor = false;
  // A picture control: the name of the picture it shows (each window's
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
  explicit Memo(const ControlDesign& design) : Control(design), lines_(design.items) {}
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
      : Control(std::move(name), Kind::RadioGroup),
        caption(std::move(caption)),
        items(std::move(items)),
        itemIndex_(index) {}
  explicit RadioGroup(const ControlDesign& design)
      : Control(design), caption(design.text), items(design.items), itemIndex_(design.itemIndex) {}
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
  explicit CheckList(std::string name) : Control(std::move(name), Kind::CheckList) {}
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
  // The name of the window's picture for the current image ("step_done"),
  // empty for none.
  const std::string& Picture() const;

 private:
  Image image_ = Image::None;
};

class StatusBarControl : public Control {
 public:
  struct Panel {
    std::string text;
    int width = 50;
  };
  explicit StatusBarControl(const ControlDesign& design);
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
  explicit MenuItem(const ControlDesign& design)
      : Control(design),
        caption(design.text),
        radioItem(design.kind == Kind::RadioMenuItem),
        checked_(design.checked) {}
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
  // The items whose parent the menu is, in the design's order.
  std::vector<MenuItem*> items;
  void SetChecked(MenuItem& item, bool checked);
};

// The class that holds a control of each kind; every kind not named here
// holds one text.
// clang-format off
template <Kind> struct KindClass                  { using type = TextControl; };
template <> struct KindClass<Kind::Memo>          { using type = Memo; };
template <> struct KindClass<Kind::RadioGroup>    { using type = RadioGroup; };
template <> struct KindClass<Kind::CheckList>     { using type = CheckList; };
template <> struct KindClass<Kind::Gauge>         { using type = Gauge; };
template <> struct KindClass<Kind::Tree>          { using type = TreeView; };
template <> struct KindClass<Kind::StepIndicator> { using type = StepIndicator; };
template <> struct KindClass<Kind::StatusBar>     { using type = StatusBarControl; };
template <> struct KindClass<Kind::PopupMenu>     { using type = PopupMenu; };
template <> struct KindClass<Kind::MenuItem>      { using type = MenuItem; };
template <> struct KindClass<Kind::RadioMenuItem> { using type = MenuItem; };
// clang-format on
template <Kind kind>
using ControlOf = typename KindClass<kind>::type;

}  // namespace korva::form
