#include "ui/toolkit/controls.h"

#include <algorithm>
#include <stdexcept>

namespace ornat {

void FocusScope::Focus(TControl* c) {
  if (active_ == c) return;
  active_ = c;
  changed_.Emit();
}

TControl::TControl(std::string name, TControl* parent)
    : TComponent(std::move(name)), parent_(parent) {}

void TControl::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  NotifyChanged();
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  NotifyChanged();
}

void TControl::SetEnabled(bool e) {
  if (e == enabled_) return;
  enabled_ = e;
  NotifyChanged();
}

void TControl::SetHint(std::string h) {
  hint_ = std::move(h);
  NotifyChanged();
}

void TControl::SetFocus() {
  if (scope_ != nullptr) scope_->Focus(this);
}

void TCaptionControl::SetCaption(std::string c) {
  if (c == caption_) return;
  caption_ = std::move(c);
  NotifyChanged();
}

void TTeButton::Click() {
  if (OnClick) OnClick(this);
}

void TTeCheckBox::SetChecked(bool c) {
  if (c == checked_) return;
  checked_ = c;
  NotifyChanged();
  if (OnClick) OnClick(this);
}

void TTeRadioButton::SetGroup(RadioGroup* g) {
  group_ = g;
  if (g != nullptr) g->Join(this);
}

void TTeRadioButton::SetChecked(bool c) {
  if (c == checked_) return;
  checked_ = c;
  if (c && group_ != nullptr) {
    for (TTeRadioButton* other : group_->Members()) {
      if (other != this && other->checked_) {
        other->checked_ = false;
        other->NotifyChanged();
      }
    }
  }
  NotifyChanged();
  if (c && OnClick) OnClick(this);
}

void TTeSpinEdit::SetRange(int min_value, int max_value) {
  min_ = min_value;
  max_ = max_value;
}

int TTeSpinEdit::Value() const {
  // Read as the platform's integer conversion does: optional sign, then digits only.
  if (text_.empty()) return min_;
  std::size_t i = 0;
  bool negative = false;
  if (text_[0] == '+' || text_[0] == '-') {
    negative = text_[0] == '-';
    i = 1;
  }
  if (i >= text_.size()) return min_;
  long v = 0;
  for (; i < text_.size(); ++i) {
    char ch = text_[i];
    if (ch < '0' || ch > '9') return min_;
    v = v * 10 + (ch - '0');
    if (v > 1000000000L) return min_;
  }
  return static_cast<int>(negative ? -v : v);
}

void TTeSpinEdit::StoreText(std::string t) {
  if (t == text_) return;
  text_ = std::move(t);
  NotifyChanged();
  if (OnChange) OnChange(this);
}

void TTeSpinEdit::SetValue(int v) {
  StoreText(std::to_string(Clamp(v)));
}

std::optional<std::size_t> TTeSpinEdit::Type(std::size_t from, std::size_t count,
                                             const std::string& typed) {
  from = std::min(from, text_.size());
  count = std::min(count, text_.size() - from);
  std::string text = text_;
  if (typed.empty()) {
    text.erase(from, count);
    StoreText(std::move(text));
    return from;
  }
  // Each key replaces the selection it meets (the first key the given one, the next
  // keys none) or is refused and leaves it as it was.
  bool taken = false;
  for (char ch : typed) {
    const bool allowed = (ch >= '0' && ch <= '9') || ch == '+';
    std::string next = text;
    next.replace(from, count, 1, ch);
    if (!allowed || !Fits(next)) continue;
    text = std::move(next);
    from += 1;
    count = 0;
    taken = true;
  }
  if (!taken) return std::nullopt;
  StoreText(std::move(text));
  return from;
}

std::optional<std::size_t> TTeSpinEdit::Paste(std::size_t from, std::size_t count,
                                              const std::string& pasted) {
  auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
  std::size_t first = 0, last = pasted.size();
  while (first < last && blank(pasted[first])) ++first;
  while (last > first && blank(pasted[last - 1])) --last;
  const std::string digits = pasted.substr(first, last - first);
  // A number: digits only, no sign, short enough to be read without overflow.
  auto in_range = [this](const std::string& t) {
    if (t.empty() || t.size() > 9) return false;
    for (char ch : t)
      if (ch < '0' || ch > '9') return false;
    const int v = std::stoi(t);
    return v >= min_ && v <= max_;
  };
  if (!in_range(digits)) return std::nullopt;
  from = std::min(from, text_.size());
  count = std::min(count, text_.size() - from);
  std::string text = text_;
  text.replace(from, count, digits);
  if (!Fits(text) || !in_range(text)) return std::nullopt;
  StoreText(std::move(text));
  return from + digits.size();
}

void TTeSpinEdit::Normalize() {
  int v = Value();
  if (v != Clamp(v)) SetValue(Clamp(v));
}

void TTeSpinEdit::KeyPress(char key) {
  if (key == '\r') Normalize();
  if (OnKeyPress) OnKeyPress(this, key);
}

void TTeSpinEdit::Exit() {
  Normalize();
}

void TTeSComboBox::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  if (index_ >= static_cast<int>(items_.size())) index_ = -1;
  NotifyChanged();
}

void TTeSComboBox::SetItemIndex(int i) {
  if (i < -1 || i >= static_cast<int>(items_.size())) i = -1;
  if (i == index_) return;
  index_ = i;
  NotifyChanged();
}

std::string TTeSComboBox::Text() const {
  return index_ >= 0 ? items_[static_cast<std::size_t>(index_)] : std::string();
}

void TTeSComboBox::Select(int i) {
  SetItemIndex(i);
  if (OnChange) OnChange(this);
}

void TTeMemo::Clear() {
  lines_.clear();
  NotifyChanged();
}

void TTeMemo::Add(std::string line) {
  lines_.push_back(std::move(line));
  NotifyChanged();
}

void TTeMemo::Delete(std::size_t index) {
  if (index >= lines_.size()) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  NotifyChanged();
}

void TTeMemo::SetFontColor(TColor c) {
  if (c == font_color_) return;
  font_color_ = c;
  NotifyChanged();
}

std::string TTeMemo::Text() const {
  std::string all;
  for (const auto& l : lines_) {
    all += l;
    all += "\n";
  }
  return all;
}

TTeStringGrid::TTeStringGrid(std::string name, TControl* parent, int cols, int rows)
    : TControl(std::move(name), parent),
      cols_(cols),
      rows_(rows),
      cells_(static_cast<std::size_t>(cols * rows)),
      col_widths_(static_cast<std::size_t>(cols), 64),
      row_heights_(static_cast<std::size_t>(rows), row_height_) {}

const std::string& TTeStringGrid::Cell(int col, int row) const {
  if (col < 0 || col >= cols_ || row < 0 || row >= rows_) throw std::out_of_range("grid cell");
  return cells_[static_cast<std::size_t>(row * cols_ + col)];
}

void TTeStringGrid::SetCell(int col, int row, std::string text) {
  if (col < 0 || col >= cols_ || row < 0 || row >= rows_) throw std::out_of_range("grid cell");
  cells_[static_cast<std::size_t>(row * cols_ + col)] = std::move(text);
  NotifyChanged();
}

void TTeStringGrid::SetColWidth(int col, int w) {
  col_widths_.at(static_cast<std::size_t>(col)) = w;
  NotifyChanged();
}

void TTeStringGrid::SetDefaultRowHeight(int h) {
  row_height_ = h;
  row_heights_.assign(static_cast<std::size_t>(rows_), h);
  NotifyChanged();
}

void TTeStringGrid::SetRowHeight(int row, int h) {
  int& height = row_heights_.at(static_cast<std::size_t>(row));
  h = std::max(1, h);
  if (h == height) return;
  height = h;
  NotifyChanged();
}

void TTeStringGrid::SetRow(int r) {
  if (r < 0 || r >= rows_ || r == row_) return;
  row_ = r;
  NotifyChanged();
}

void TTeStringGrid::PaintCell(TCanvas& canvas, int col, int row, const TRect& rect,
                              TGridDrawState state) {
  if (OnDrawCell) OnDrawCell(this, col, row, rect, state, canvas);
}

TTeItem::TTeItem(std::string name, std::string caption)
    : TComponent(std::move(name)), caption_(std::move(caption)) {}

TTeItem::~TTeItem() {
  if (parent_ != nullptr) parent_->Remove(this);
  for (TTeItem* c : children_) c->parent_ = nullptr;
}

void TTeItem::SetCaption(std::string c) {
  if (c == caption_) return;
  caption_ = std::move(c);
  changed_.Emit();
  if (parent_ != nullptr) parent_->changed_.Emit();
}

void TTeItem::SetHint(std::string h) {
  if (h == hint_) return;
  hint_ = std::move(h);
  changed_.Emit();
  if (parent_ != nullptr) parent_->changed_.Emit();
}

void TTeItem::SetChecked(bool c) {
  if (c == checked_) return;
  checked_ = c;
  changed_.Emit();
  if (parent_ != nullptr) parent_->changed_.Emit();
}

void TTeItem::Click() {
  if (OnClick) OnClick(this);
}

void TTeItem::Insert(std::size_t pos, TTeItem* child) {
  if (child->parent_ != nullptr) child->parent_->Remove(child);
  pos = std::min(pos, children_.size());
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(pos), child);
  child->parent_ = this;
  changed_.Emit();
}

void TTeItem::Remove(TTeItem* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return;
  children_.erase(it);
  child->parent_ = nullptr;
  changed_.Emit();
}

void TTeMenuBar::MouseDown(TMouseButton button, int shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TStatusBar::AddPanel(int width, TAlignment alignment, std::string text) {
  panels_.push_back(TStatusPanel{std::move(text), width, alignment});
  NotifyChanged();
}

void TStatusBar::SetPanelText(std::size_t i, std::string text) {
  auto& p = panels_.at(i);
  if (p.Text == text) return;
  p.Text = std::move(text);
  NotifyChanged();
}

const TTeLabel* LabelBeside(const TTeRadioButton& button, const std::vector<TControl*>& all) {
  const TTeLabel* best = nullptr;
  for (TControl* c : all) {
    auto* label = dynamic_cast<const TTeLabel*>(c);
    if (label == nullptr || label->Parent() != button.Parent()) continue;
    if (label->Top() < button.Top() - 2 || label->Top() >= button.Top() + button.Height()) continue;
    if (label->Left() < button.Left() + button.Width()) continue;
    if (best == nullptr || label->Left() < best->Left()) best = label;
  }
  return best;
}

void TTeProgressBar::SetRange(int min_value, int max_value) {
  min_ = min_value;
  max_ = max_value;
  SetPosition(position_);
}

void TTeProgressBar::SetPosition(int p) {
  p = std::clamp(p, min_, max_);
  if (p == position_) return;
  position_ = p;
  NotifyChanged();
}

}  // namespace ornat
