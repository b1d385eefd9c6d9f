#include "form/controls.h"

#include <iterator>
#include <stdexcept>

#include "text/error.h"

namespace korva::form {

void CheckList::Delete(int index) {
  if (index < 0 || index >= Count())
    throw KorvaError("List index out of bounds (" + std::to_string(index) + ")");
  items_.erase(items_.begin() + index);
  // As a list box does: the selection stays on the same line when a line
  // above it goes, and a deleted selected line leaves nothing selected.
  if (index < selected_) {
    --selected_;
  } else if (index == selected_) {
    selected_ = -1;
  }
  Touch();
}

void CheckList::SetText(int index, std::string text) {
  if (index < 0 || index >= Count())
    throw KorvaError("List index out of bounds (" + std::to_string(index) + ")");
  auto& item = items_[static_cast<std::size_t>(index)];
  if (item.text == text) return;
  item.text = std::move(text);
  Touch();
}

void CheckList::SetChecked(int index, bool checked) {
  if (index < 0 || index >= Count())
    throw KorvaError("List index out of bounds (" + std::to_string(index) + ")");
  auto& item = items_[static_cast<std::size_t>(index)];
  if (item.checked == checked) return;
  item.checked = checked;
  Touch();
}

void Gauge::SetMaxValue(std::int64_t max) {
  if (max == max_) return;
  if (max < 0) throw KorvaError("Value must be between 1 and 2147483647");
  max_ = max;
  if (progress_ > max_) progress_ = max_;
  Touch();
}

void Gauge::SetProgress(std::int64_t value) {
  if (value < 0) value = 0;
  if (value > max_) value = max_;
  if (value == progress_) return;
  const int before = Percent();
  progress_ = value;
  if (Percent() != before) Touch();
}

int Gauge::Percent() const {
  if (max_ == 0) return 0;
  return static_cast<int>(progress_ * 100 / max_);
}

const std::string& StepIndicator::Picture() const {
  static const std::string kNone;
  static const std::string kPictures[] = {"step_connect", "step_disconnect", "step_done",
                                          "step_transfer"};
  const auto index = static_cast<std::size_t>(image_);
  return image_ == Image::None || index >= std::size(kPictures) ? kNone : kPictures[index];
}

StatusBarControl::StatusBarControl(const ControlDesign& design) : Control(design) {
  for (int width : design.panels) panels_.push_back({std::string(), width});
}

void StatusBarControl::SetPanelText(int i, std::string text) {
  auto& panel = panels_.at(static_cast<std::size_t>(i));
  if (panel.text == text) return;
  panel.text = std::move(text);
  Touch();
}

void PopupMenu::SetChecked(MenuItem& item, bool checked) {
  if (item.checked_ == checked) return;
  item.checked_ = checked;
  item.Touch();
  if (checked && item.radioItem) {
    for (MenuItem* other : items) {
      if (other != &item && other->radioItem && other->checked_) {
        other->checked_ = false;
        other->Touch();
      }
    }
  }
}

}  // namespace korva::form
