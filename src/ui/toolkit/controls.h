#pragma once
// Models of the window's controls. Each holds the state the window shows and raises
// its events with the semantics the handlers rely on (not the widget library's):
//  - setting a check box's state from code runs its click handler on every change;
//  - a radio button that becomes checked clears the others of its group and runs
//    its click handler (becoming unchecked raises nothing);
//  - a spin editor's value is its text read as a number (empty or unreadable: the
//    lower bound); setting a different value rewrites the text and raises
//    text-changed; Enter and focus loss bring the value into range; a full editor
//    refuses a further typed character, and pasted text must be a number in range;
//  - setting a menu item's check mark raises nothing;
//  - the memo has one text colour for all its lines.
// Views (the Qt and Win32 front ends) build their widgets by visiting the models
// (Accept, ui/toolkit/control_visitor.h), watch Changed() and mirror the state; they
// forward user input through the methods marked "user".

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/object.h"
#include "ui/toolkit/control_visitor.h"

namespace ornat {

using TColor = std::uint32_t;  // 0x00BBGGRR
constexpr TColor clRed = 255;
constexpr TColor clBlue = 16711680;
constexpr TColor clNavy = 8388608;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = 0xF0F0F0;

class TControl;

// Which control has the keyboard focus.
class FocusScope {
 public:
  TControl* Active() const { return active_; }
  void Focus(TControl* c);
  ChangeSignal& Changed() { return changed_; }

 private:
  TControl* active_ = nullptr;
  ChangeSignal changed_;
};

class TControl : public TComponent {
 public:
  explicit TControl(std::string name, TControl* parent = nullptr);
  TControl* Parent() const { return parent_; }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string h);
  void SetFocusScope(FocusScope* scope) { scope_ = scope; }
  void SetFocus();
  bool Focused() const { return scope_ != nullptr && scope_->Active() == this; }
  ChangeSignal& Changed() { return changed_; }
  // Calls the visitor's Visit for this control's kind.
  virtual void Accept(ControlVisitor& visitor) = 0;

 protected:
  void NotifyChanged() { changed_.Emit(); }

 private:
  TControl* parent_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
  FocusScope* scope_ = nullptr;
  ChangeSignal changed_;
};

class TCaptionControl : public TControl {
 public:
  using TControl::TControl;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c);

 private:
  std::string caption_;
};

class TTeLabel : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
};

class TTeGroupBox : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
};

class TTeButton : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  TNotifyEvent OnClick;
  // user: a press of the button (or its accelerator). Runs OnClick.
  void Click();
};
using TButton = TTeButton;

class TTeCheckBox : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  bool Checked() const { return checked_; }
  // From code or from the user: a change of state runs OnClick.
  void SetChecked(bool c);
  // user: a click toggles the state.
  void Click() { SetChecked(!checked_); }
  TNotifyEvent OnClick;

 private:
  bool checked_ = false;
};

class TTeRadioButton;

// The radio buttons that exclude each other (one parent, one group index).
class RadioGroup {
 public:
  void Join(TTeRadioButton* b) { members_.push_back(b); }
  const std::vector<TTeRadioButton*>& Members() const { return members_; }

 private:
  std::vector<TTeRadioButton*> members_;
};

class TTeRadioButton : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  void SetGroup(RadioGroup* g);
  bool Checked() const { return checked_; }
  // Becoming checked clears the rest of the group, then runs OnClick.
  void SetChecked(bool c);
  // user: a click checks the button.
  void Click() { SetChecked(true); }
  TNotifyEvent OnClick;

 private:
  RadioGroup* group_ = nullptr;
  bool checked_ = false;
};

using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

class TTeSpinEdit : public TControl {
 public:
  using TControl::TControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  void SetRange(int min_value, int max_value);
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int n) { max_length_ = n; }
  int Increment() const { return 1; }
  const std::string& Text() const { return text_; }
  // The text read as a whole number; empty or unreadable text gives MinValue.
  int Value() const;
  // Rewrites the text with the value brought into range; raises OnChange when the
  // text changes.
  void SetValue(int v);

  // user: characters typed over the `count` characters from `from` (a selection, or
  // none at the caret), one key after the other. A key other than a digit or '+' is
  // refused, and so is a key that would make the text longer than MaxLength, wherever
  // the caret is: the text stays as it was (a full "247" never becomes "124"). Typing
  // nothing deletes the selection. Raises OnChange when the text changed. Returns the
  // caret after the edit, or nothing when every key was refused.
  std::optional<std::size_t> Type(std::size_t from, std::size_t count, const std::string& typed);
  // user: text pasted or dropped over the `count` characters from `from`. It is taken
  // only when it is a number within MinValue..MaxValue (surrounding blanks aside) and
  // the text it gives is one too, of at most MaxLength characters; otherwise nothing
  // changes. Returns the caret after the pasted digits, or nothing when refused.
  std::optional<std::size_t> Paste(std::size_t from, std::size_t count, const std::string& pasted);
  // user: the whole text selected and `typed` typed over it, key by key (Type).
  void SetText(const std::string& typed) { Type(0, text_.size(), typed); }

  // user: a typed character. Enter first brings the value into range, then the key
  // goes to OnKeyPress.
  void KeyPress(char key);
  // user: the editor lost the focus; brings the value into range.
  void Exit();
  // user: the up and down buttons.
  void StepUp() { SetValue(Clamp(Value() + 1)); }
  void StepDown() { SetValue(Clamp(Value() - 1)); }
  TNotifyEvent OnChange;
  TKeyPressEvent OnKeyPress;

 private:
  int Clamp(int v) const { return v < min_ ? min_ : (v > max_ ? max_ : v); }
  bool Fits(const std::string& text) const {
    return max_length_ <= 0 || text.size() <= static_cast<std::size_t>(max_length_);
  }
  void Normalize();
  void StoreText(std::string t);
  std::string text_;
  int min_ = 0, max_ = 100;
  int max_length_ = 0;
};

class TTeSComboBox : public TControl {
 public:
  using TControl::TControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  void SetItems(std::vector<std::string> items);
  const std::vector<std::string>& Items() const { return items_; }
  int ItemIndex() const { return index_; }
  // From code: raises nothing.
  void SetItemIndex(int i);
  std::string Text() const;
  // user: picks item i; raises OnChange.
  void Select(int i);
  TNotifyEvent OnChange;

 private:
  std::vector<std::string> items_;
  int index_ = -1;
};

class TTeMemo : public TControl {
 public:
  using TControl::TControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  const std::vector<std::string>& Lines() const { return lines_; }
  std::size_t Count() const { return lines_.size(); }
  void Clear();
  void Add(std::string line);
  void Delete(std::size_t index);
  TColor FontColor() const { return font_color_; }
  // Recolours every line at once.
  void SetFontColor(TColor c);
  std::string Text() const;

 private:
  std::vector<std::string> lines_;
  TColor font_color_ = clNavy;
};

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect&) const = default;
};

// Painting surface of the string grid.
class TCanvas {
 public:
  virtual ~TCanvas() = default;
  virtual void FillRect(const TRect& r, TColor color) = 0;
  virtual void SetTransparentText() = 0;
  // One line, vertically centred, left-aligned, clipped to r.
  virtual void DrawTextLine(const std::string& text, const TRect& r) = 0;
};

enum class TGridDrawStateFlag : std::uint8_t { gdSelected = 1, gdFocused = 2, gdFixed = 4 };
using TGridDrawState = std::uint8_t;  // bit set of TGridDrawStateFlag
constexpr bool HasState(TGridDrawState s, TGridDrawStateFlag f) {
  return (s & static_cast<std::uint8_t>(f)) != 0;
}

using TDrawCellEvent = std::function<void(TObject* Sender, int ACol, int ARow, const TRect& Rect,
                                          TGridDrawState State, TCanvas& Canvas)>;

class TTeStringGrid : public TControl {
 public:
  TTeStringGrid(std::string name, TControl* parent, int cols, int rows);
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  int ColCount() const { return cols_; }
  int RowCount() const { return rows_; }
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string text);
  int ColWidth(int col) const { return col_widths_.at(col); }
  void SetColWidth(int col, int w);
  int DefaultRowHeight() const { return row_height_; }
  // Gives every row this height.
  void SetDefaultRowHeight(int h);
  int RowHeight(int row) const { return row_heights_.at(static_cast<std::size_t>(row)); }
  // From code or from the user (dragging the line below the row); at least 1 pixel.
  void SetRowHeight(int row, int h);
  TColor Color() const { return color_; }
  TColor FixedColor() const { return fixed_color_; }
  int Row() const { return row_; }
  void SetRow(int r);
  // Paints one cell through OnDrawCell (the grid's own painting is off).
  void PaintCell(TCanvas& canvas, int col, int row, const TRect& rect, TGridDrawState state);
  TDrawCellEvent OnDrawCell;

 private:
  int cols_, rows_;
  std::vector<std::string> cells_;
  std::vector<int> col_widths_;
  int row_height_ = 24;
  std::vector<int> row_heights_;
  TColor color_ = clWhite;
  TColor fixed_color_ = clBtnFace;
  int row_ = 0;
};

class TTeItem : public TComponent {
 public:
  explicit TTeItem(std::string name = {}, std::string caption = {});
  ~TTeItem() override;
  TTeItem(const TTeItem&) = delete;
  TTeItem& operator=(const TTeItem&) = delete;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c);
  bool Checked() const { return checked_; }
  // Raises nothing.
  void SetChecked(bool c);
  // What the item is about beyond its caption, shown where the toolkit shows an item's
  // help (a tooltip, the status line while the item is highlighted); "" for none.
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string h);
  TNotifyEvent OnClick;
  // user: a click on the item.
  void Click();
  // Children are not owned; an item that is destroyed leaves its parent.
  std::size_t Count() const { return children_.size(); }
  TTeItem* Item(std::size_t i) const { return children_.at(i); }
  void Add(TTeItem* child) { Insert(children_.size(), child); }
  void Insert(std::size_t pos, TTeItem* child);
  void Remove(TTeItem* child);
  TTeItem* Parent() const { return parent_; }
  // Raised on any change of this item or of its list of children.
  ChangeSignal& Changed() { return changed_; }

 private:
  std::string caption_;
  std::string hint_;
  bool checked_ = false;
  TTeItem* parent_ = nullptr;
  std::vector<TTeItem*> children_;
  ChangeSignal changed_;
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, int Shift, int X, int Y)>;

class TTeMenuBar : public TControl {
 public:
  using TControl::TControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  // The top-level menus ("Connection", "Search").
  TTeItem& Items() { return root_; }
  // user: a mouse button pressed anywhere on the bar.
  void MouseDown(TMouseButton button = TMouseButton::mbLeft, int shift = 0, int x = 0, int y = 0);
  TMouseEvent OnMouseDown;

 private:
  TTeItem root_;
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

struct TStatusPanel {
  std::string Text;
  int Width = 50;
  TAlignment Alignment = TAlignment::taLeftJustify;
};

class TStatusBar : public TControl {
 public:
  using TControl::TControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  void AddPanel(int width, TAlignment alignment, std::string text = {});
  std::size_t PanelCount() const { return panels_.size(); }
  const TStatusPanel& Panel(std::size_t i) const { return panels_.at(i); }
  const std::string& PanelText(std::size_t i) const { return panels_.at(i).Text; }
  void SetPanelText(std::size_t i, std::string text);

 private:
  std::vector<TStatusPanel> panels_;
};

// The label that names a radio button too narrow to show its caption (the tactic
// buttons): the nearest label to its right on its line, in the same parent. Views give
// its caption to screen readers as the button's name. Null if there is none.
const TTeLabel* LabelBeside(const TTeRadioButton& button, const std::vector<TControl*>& all);

class TTeProgressBar : public TControl {
 public:
  using TControl::TControl;
  void Accept(ControlVisitor& visitor) override { visitor.Visit(*this); }
  void SetRange(int min_value, int max_value);
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  // Kept within Min..Max, as the control does.
  void SetPosition(int p);
  bool Smooth() const { return false; }

 private:
  int min_ = 0, max_ = 100, position_ = 0;
};

}  // namespace ornat
