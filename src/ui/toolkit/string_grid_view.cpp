#include "ui/toolkit/string_grid_view.h"

#include <algorithm>
#include <cstdlib>

namespace ornat {

int StringGridLayout::ColumnEdge(int col) const {
  int x = kBorder;
  for (int k = 0; k < col; ++k) x += grid_.ColWidth(k) + kLineWidth;
  return Scaled(x);
}

int StringGridLayout::RowEdge(int row) const {
  int y = kBorder;
  for (int k = 0; k < row; ++k) y += grid_.RowHeight(k) + kLineWidth;
  return Scaled(y);
}

int StringGridLayout::LineWidth() const {
  return std::max(1, Scaled(kLineWidth));
}

TRect StringGridLayout::CellRect(int col, int row) const {
  return TRect{ColumnEdge(col), RowEdge(row), ColumnEdge(col + 1) - LineWidth(),
               RowEdge(row + 1) - LineWidth()};
}

int StringGridLayout::RowAt(int y) const {
  for (int row = 0; row < grid_.RowCount(); ++row) {
    if (y >= RowEdge(row) && y < RowEdge(row + 1)) return row;
  }
  return -1;
}

int StringGridLayout::SizingColumnAt(int x) const {
  for (int c = 0; c < grid_.ColCount(); ++c) {
    if (std::abs(x - CellRect(c, 0).Right) <= Scaled(kSizingReach)) return c;
  }
  return -1;
}

int StringGridLayout::SizingRowAt(int y) const {
  for (int row = 0; row < grid_.RowCount(); ++row) {
    if (std::abs(y - CellRect(0, row).Bottom) <= Scaled(kSizingReach)) return row;
  }
  return -1;
}

void PaintStringGrid(TTeStringGrid& grid, const StringGridLayout& layout, TCanvas& canvas,
                     int width, int height, bool focused) {
  canvas.FillRect(TRect{0, 0, width, height}, grid.Color());
  const int cols = grid.ColCount(), rows = grid.RowCount();
  if (cols > 0 && rows > 0) {
    // The lines right of and below every cell.
    const TRect last = layout.CellRect(cols - 1, rows - 1);
    const int lw = layout.LineWidth();
    const int top = layout.RowEdge(0), left = layout.ColumnEdge(0);
    for (int c = 0; c < cols; ++c) {
      const TRect r = layout.CellRect(c, 0);
      canvas.FillRect(TRect{r.Right, top, r.Right + lw, last.Bottom + lw}, kGridLineColor);
    }
    for (int row = 0; row < rows; ++row) {
      const TRect r = layout.CellRect(0, row);
      canvas.FillRect(TRect{left, r.Bottom, last.Right + lw, r.Bottom + lw}, kGridLineColor);
    }
    for (int row = 0; row < rows; ++row) {
      for (int c = 0; c < cols; ++c) {
        TGridDrawState state = 0;
        if (row == grid.Row()) {
          state |= static_cast<std::uint8_t>(TGridDrawStateFlag::gdSelected);
          if (c == 0 && focused) state |= static_cast<std::uint8_t>(TGridDrawStateFlag::gdFocused);
        }
        grid.PaintCell(canvas, c, row, layout.CellRect(c, row), state);
      }
    }
  }
  // The frame: one pixel along each edge.
  const TColor frame = focused ? kControlFrameFocusedColor : kControlFrameColor;
  canvas.FillRect(TRect{0, 0, width, 1}, frame);
  canvas.FillRect(TRect{0, height - 1, width, height}, frame);
  canvas.FillRect(TRect{0, 0, 1, height}, frame);
  canvas.FillRect(TRect{width - 1, 0, width, height}, frame);
}

bool StringGridInput::Press(const StringGridLayout& layout, int x, int y) {
  sizing_col_ = layout.SizingColumnAt(x);
  sizing_row_ = sizing_col_ >= 0 ? -1 : layout.SizingRowAt(y);
  if (sizing_col_ >= 0) {
    origin_ = x;
    size_ = grid_.ColWidth(sizing_col_);
    return true;
  }
  if (sizing_row_ >= 0) {
    origin_ = y;
    size_ = grid_.RowHeight(sizing_row_);
    return true;
  }
  const int row = layout.RowAt(y);
  if (row >= 0) gate_.Enter([&grid = grid_, row] { grid.SetRow(row); });
  return false;
}

bool StringGridInput::Move(const StringGridLayout& layout, int x, int y) {
  // Sizes are the model's, in the definition's pixels.
  if (sizing_col_ >= 0) {
    const int c = sizing_col_;
    const int w = std::max(1, size_ + layout.Unscaled(x - origin_));
    if (w != grid_.ColWidth(c)) gate_.Enter([&grid = grid_, c, w] { grid.SetColWidth(c, w); });
    return true;
  }
  if (sizing_row_ >= 0) {
    const int r = sizing_row_;
    const int h = std::max(1, size_ + layout.Unscaled(y - origin_));
    if (h != grid_.RowHeight(r)) gate_.Enter([&grid = grid_, r, h] { grid.SetRowHeight(r, h); });
    return true;
  }
  return false;
}

void StringGridInput::Release() {
  sizing_col_ = -1;
  sizing_row_ = -1;
}

void StringGridInput::Step(int rows) {
  const int row = grid_.Row() + rows;
  gate_.Enter([&grid = grid_, row] { grid.SetRow(row); });
}

GridPointer StringGridInput::PointerAt(const StringGridLayout& layout, int x, int y) const {
  if (sizing_col_ >= 0 || layout.SizingColumnAt(x) >= 0) return GridPointer::kSizeColumn;
  if (sizing_row_ >= 0 || layout.SizingRowAt(y) >= 0) return GridPointer::kSizeRow;
  return GridPointer::kArrow;
}

}  // namespace ornat
