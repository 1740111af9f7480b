#pragma once
// The status grid: a window of its own (class "OrnatStatusGrid") whose layout,
// painting and input are the core's (ui/toolkit/string_grid_view.h) at the screen's
// scale: it draws on a GDI canvas, off screen first, and passes the pointer and the
// keys on. Its window text is the cells, a tab between the columns and a line end
// between the rows, for screen readers.

#include <windows.h>

#include "ui/toolkit/controls.h"
#include "ui/toolkit/string_grid_view.h"
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

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Paint(HDC dc);
  StringGridLayout Layout() const { return StringGridLayout(model_, ctx_.dpi); }

  TTeStringGrid& model_;
  const ViewContext& ctx_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  StringGridInput input_;
};

}  // namespace ornat::win32
