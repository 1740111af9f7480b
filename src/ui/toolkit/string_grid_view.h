#pragma once
// The string grid as every front end shows it and takes the user's input, so that a
// front end only draws (its canvas) and passes the pointer and the keys on:
//  - layout: a frame of 2 pixels around the cells, a line of 1 pixel right of and below
//    every cell, each cell as wide as its column and as high as its row, all of it
//    scaled to the screen's dots per inch;
//  - painting: the background, the lines, every cell through the grid's OnDrawCell
//    (StatusGridDrawCell) with its TGridDrawState (whole-row selection: every cell of
//    the current row is selected, its first cell focused while the grid has the
//    keyboard), and the frame, in the theme's colours;
//  - input: a press on a column's right line or a row's bottom line (within 2 pixels)
//    begins sizing it, a press elsewhere selects the row under it; dragging gives the
//    column or row its new size (at least 1 pixel); Up and Down select the row above or
//    below. Every change reaches the model through the HandlerGate.

#include "runtime/handler_gate.h"
#include "ui/toolkit/controls.h"
#include "ui/toolkit/dpi_scale.h"

namespace ornat {

// The theme's colours (0x00BBGGRR): the lines between the cells, and the frame of a
// control that takes the keyboard (the grid, the address editors), without and with
// the focus.
inline constexpr TColor kGridLineColor = 0xC0C0C0;
inline constexpr TColor kControlFrameColor = 0xB99D7F;
inline constexpr TColor kControlFrameFocusedColor = 0xC56A31;

// Where the cells, lines and frame of a grid lie, in pixels of the grid at dpi.
class StringGridLayout {
 public:
  // At 96 dpi, in the definition's pixels.
  static constexpr int kBorder = 2;     // the frame around the cells
  static constexpr int kLineWidth = 1;  // the line between two cells
  static constexpr int kSizingReach = 2;

  explicit StringGridLayout(const TTeStringGrid& grid, int dpi = kDefinitionDpi)
      : grid_(grid), dpi_(dpi) {}

  // x of column col's left side; col = ColCount(): just past the last line.
  int ColumnEdge(int col) const;
  // y of row row's top; row = RowCount(): just past the last line.
  int RowEdge(int row) const;
  // The width of a line, never below one pixel.
  int LineWidth() const;
  // Cell (col, row), as OnDrawCell gets it: it ends where the line after it begins.
  TRect CellRect(int col, int row) const;
  // The row whose cells or bottom line take in y, or -1.
  int RowAt(int y) const;
  // The column whose right line is within reach of x, or -1.
  int SizingColumnAt(int x) const;
  // The row whose bottom line is within reach of y, or -1.
  int SizingRowAt(int y) const;
  // Pixels of the screen as the definition's.
  int Unscaled(int pixels) const { return ScaleFromDpi(pixels, dpi_); }

 private:
  int Scaled(int length) const { return ScaleToDpi(length, dpi_); }
  const TTeStringGrid& grid_;
  int dpi_;
};

// Paints the whole grid, width x height pixels, on canvas (see above).
void PaintStringGrid(TTeStringGrid& grid, const StringGridLayout& layout, TCanvas& canvas,
                     int width, int height, bool focused);

// What the pointer over a grid shows.
enum class GridPointer { kArrow, kSizeColumn, kSizeRow };

// The user's pointer and keys on one grid (see above).
class StringGridInput {
 public:
  StringGridInput(TTeStringGrid& grid, HandlerGate& gate) : grid_(grid), gate_(gate) {}
  // The left button pressed at (x, y); true when it began sizing a column or a row
  // (the view keeps the pointer until the release).
  bool Press(const StringGridLayout& layout, int x, int y);
  // The pointer moved to (x, y); true while sizing (the move is taken).
  bool Move(const StringGridLayout& layout, int x, int y);
  void Release();
  // Up (-1) or Down (+1).
  void Step(int rows);
  // The pointer's look at (x, y): while sizing, the sizing one.
  GridPointer PointerAt(const StringGridLayout& layout, int x, int y) const;

 private:
  TTeStringGrid& grid_;
  HandlerGate& gate_;
  // The line being dragged, a column's or a row's, its size and the press position when
  // the drag began.
  int sizing_col_ = -1;
  int sizing_row_ = -1;
  int origin_ = 0;
  int size_ = 0;
};

}  // namespace ornat
