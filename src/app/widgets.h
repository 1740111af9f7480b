#pragma once
// The widgets of our own that the window needs where a stock Qt widget has other
// semantics. Each one is a view of one control model: it forwards the user's input
// to the model's "user" methods through the HandlerGate and shows the model's state
// (Mirror), with its own signals blocked while it does.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <cstddef>

#include "runtime/handler_gate.h"
#include "ui/toolkit/controls.h"
#include "ui/toolkit/string_grid_view.h"

namespace ornat {

// The spin editor: a line edit with an up and a down button 15 pixels wide at the
// right. Every change of the line edit's text, however it came (typing, deleting,
// pasting with the keys, the context menu or the middle button, dropping, undoing, an
// assistive tool), goes to the model as an edit of its text: TTeSpinEdit::Type for
// typed keys and deletions, TTeSpinEdit::Paste for the rest. The model's text is then
// shown again, so an edit it refused leaves the text, the caret and the selection as
// they were. Every key goes to KeyPress (Enter is consumed there); leaving the field to
// Exit; the buttons and the arrow keys to StepUp/StepDown. The wheel does nothing.
class SpinEditWidget : public QWidget {
  Q_OBJECT

 public:
  // border: the blank margin inside the frame, in pixels.
  SpinEditWidget(TTeSpinEdit& model, HandlerGate& gate, int border, QWidget* parent);
  QLineEdit* Editor() const { return edit_; }
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }
  ~SpinEditWidget() override;
  // Shows the model's text (keeping the caret where it can stay).
  void Mirror();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Caret and selection of the line edit before the event that may change its text.
  struct Caret {
    int cursor = 0;
    int anchor = 0;
  };
  void Forward(std::function<void()> input);
  void Edited(const QString& shown);
  void NoteCaret();
  void Restore(const Caret& caret);
  TTeSpinEdit& model_;
  HandlerGate& gate_;
  int border_;
  QLineEdit* edit_;
  QToolButton* up_;
  QToolButton* down_;
  // The kind of the event being handled: a typed key (text, no Ctrl, Alt or Meta), the
  // paste keys, a paste at the pointer (the middle button, a drop), or anything else
  // (deleting keys, the context menu, undoing, an assistive tool).
  enum class Input { kOther, kTyping, kPasting, kAtPointer };
  Input input_ = Input::kOther;
  Caret before_;
};

// The speed list: a drop-down list without typing, its text centred. Only a pick from
// the dropped-down list reaches TTeSComboBox::Select: a click on an item, or Enter on
// the item the arrow keys (or typed digits) moved to. On the closed list the keys
// that Qt would use to step through the items (arrows, Page Up/Down, Home, End), F4,
// Alt+Down, Space and any typed key drop the list down instead; the wheel passes to the
// window behind it, and gives it no focus.
class SpeedComboBox : public QComboBox {
  Q_OBJECT

 public:
  SpeedComboBox(TTeSComboBox& model, HandlerGate& gate, int item_height, QWidget* parent);
  void Mirror();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  TTeSComboBox& model_;
  HandlerGate& gate_;
};

// Check boxes and radio buttons take a click anywhere in their rectangle, as the
// window's controls do, not only on Qt's mark and caption.
class CheckBoxWidget : public QCheckBox {
  Q_OBJECT

 public:
  using QCheckBox::QCheckBox;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

class RadioButtonWidget : public QRadioButton {
  Q_OBJECT

 public:
  using QRadioButton::QRadioButton;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// The status grid: its layout, painting and input are the core's (StringGridLayout,
// PaintStringGrid, StringGridInput); this widget draws on a QPainter canvas and passes
// the pointer and the keys on.
class StatusGridWidget : public QWidget {
  Q_OBJECT

 public:
  StatusGridWidget(TTeStringGrid& model, HandlerGate& gate, QWidget* parent);
  // The rectangle of cell (col, row) in widget coordinates, as OnDrawCell gets it.
  TRect CellRect(int col, int row) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TTeStringGrid& model_;
  StringGridInput input_;
};

// The standard (unthemed) status bar: one sunken panel per model panel, at the
// model's widths and alignments; the last panel runs past the window's edge.
class StatusBarWidget : public QWidget {
  Q_OBJECT

 public:
  StatusBarWidget(TStatusBar& model, QWidget* parent);
  QLabel* Panel(std::size_t i) const { return panels_.at(i); }
  void Mirror();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  TStatusBar& model_;
  std::vector<QLabel*> panels_;
};

}  // namespace ornat
