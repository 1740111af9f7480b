#pragma once
// The status grid: a window of its own (class "OrnatStatusGrid"), lines between the
// cells, whole-row selection, every cell painted by the grid's OnDrawCell
// (StatusGridDrawCell) on a GDI canvas, each in its column's width and its row's
// height at the screen's scale. A click or the arrow keys select a row; dragging a
// column's right line or a row's bottom line resizes it. Its window text is the cells,
// a tab between the columns and a line end between the rows, for screen readers.

#include <windows.h>

#include "ui/toolkit/controls.h"
#include "win32/view_context.h"

namespace ornat::win32 {

class StatusGridView {
 public:
  StatusGridView(TTeStringGrid& model, const ViewContext& ctx, HWND parent);
  ~StatusGridView();
  StatusGridView(const StatusGridView&) = delete;
  StatusGridView& operator=(const StatusGridView&) = delete;

  HWND Hwnd() const { return hwnd_; }
  void Place(const RECT& r, HFONT font);
  void Mirror();
  // Cell (col, row) in pixels of the grid's client area, as OnDrawCell gets it.
  TRect CellRect(int col, int row) const;
  static constexpr int kBorder = 2;     // frame around the cells, at 96 dpi
  static constexpr int kLineWidth = 1;  // line between two cells

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Paint(HDC dc);
  // Edges in pixels: x of column col's left side (col = ColCount: past the last).
  int ColumnEdge(int col) const;
  int RowEdge(int row) const;
  int RowAt(int y) const;
  int SizingColumnAt(int x) const;
  int SizingRowAt(int y) const;

  TTeStringGrid& model_;
  const ViewContext& ctx_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  int sizing_col_ = -1, sizing_row_ = -1;
  int sizing_origin_ = 0, sizing_size_ = 0;
};

}  // namespace ornat::win32
