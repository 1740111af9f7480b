#pragma once
// The widgets of our own that the window needs where a stock Qt widget has other
// semantics. Each one is a view of one control model: it forwards the user's input
// to the model's "user" methods through the HandlerGate and shows the model's state
// (Mirror), with its own signals blocked while it does.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QWidget>
#include <array>

#include "ui/toolkit/controls.h"
#include "ui/toolkit/handler_gate.h"

namespace ornat {

// The spin editor: a line edit with an up and a down button 15 pixels wide at the
// right. What is typed goes to TTeSpinEdit::SetText (digits and '+', at most
// MaxLength characters); every key to KeyPress (Enter is consumed there); leaving the
// field to Exit; the buttons and the arrow keys to StepUp/StepDown.
class SpinEditWidget : public QWidget {
  Q_OBJECT

 public:
  // border: the blank margin inside the frame, in pixels.
  SpinEditWidget(TTeSpinEdit& model, HandlerGate& gate, int border, QWidget* parent);
  QLineEdit* Editor() const { return edit_; }
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }
  ~SpinEditWidget() override;
  // Shows the model's text (keeping the cursor where it can stay).
  void Mirror();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Forward(std::function<void()> input);
  TTeSpinEdit& model_;
  HandlerGate& gate_;
  int border_;
  QLineEdit* edit_;
  QToolButton* up_;
  QToolButton* down_;
};

// The speed list: a drop-down list without typing, its text centred; a typed key
// drops the list down; a pick goes to TTeSComboBox::Select.
class SpeedComboBox : public QComboBox {
  Q_OBJECT

 public:
  SpeedComboBox(TTeSComboBox& model, HandlerGate& gate, int item_height, QWidget* parent);
  void Mirror();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TTeSComboBox& model_;
  HandlerGate& gate_;
};

// The status grid: lines between the cells, whole-row selection, every cell painted
// by the grid's OnDrawCell (StatusGridDrawCell) on a QPainter canvas. A click or the
// arrow keys select a row; dragging a column's right line resizes the column.
class StatusGridWidget : public QWidget {
  Q_OBJECT

 public:
  StatusGridWidget(TTeStringGrid& model, HandlerGate& gate, QWidget* parent);
  // The rectangle of cell (col, row) in widget coordinates, as OnDrawCell gets it.
  TRect CellRect(int col, int row) const;
  static constexpr int kBorder = 2;     // frame around the cells
  static constexpr int kLineWidth = 1;  // line between two cells

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int RowAt(int y) const;
  // The column whose right line is within 2 pixels of x, or -1.
  int SizingColumnAt(int x) const;
  TTeStringGrid& model_;
  HandlerGate& gate_;
  int sizing_col_ = -1;
  int sizing_origin_ = 0;
  int sizing_width_ = 0;
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
