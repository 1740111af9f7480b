#include "win32/status_grid.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdlib>

#include "text/wide.h"
#include "win32/dpi.h"
#include "win32/gdi_canvas.h"
#include "win32/window_owner.h"

namespace ornat::win32 {

namespace {
constexpr const wchar_t* kClass = L"OrnatStatusGrid";
const COLORREF kGridLine = RGB(0xC0, 0xC0, 0xC0);
const COLORREF kFrame = RGB(0x7F, 0x9D, 0xB9);
const COLORREF kFrameFocused = RGB(0x31, 0x6A, 0xC5);
}  // namespace

StatusGridView::StatusGridView(TTeStringGrid& model, const ViewContext& ctx, HWND parent)
    : model_(model), ctx_(ctx) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &StatusGridView::Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClass;
  ::RegisterClassExW(&wc);
  hwnd_ = ::CreateWindowExW(0, kClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, 0,
                            0, 0, 0, parent, nullptr, wc.hInstance, this);
  Mirror();
}

StatusGridView::~StatusGridView() {
  if (hwnd_ != nullptr) ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
}

void StatusGridView::Place(const RECT& r, HFONT font) {
  font_ = font;
  ::SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void StatusGridView::Mirror() {
  std::string text;
  for (int row = 0; row < model_.RowCount(); ++row) {
    if (row > 0) text += "\r\n";
    for (int col = 0; col < model_.ColCount(); ++col) {
      if (col > 0) text += "\t";
      text += model_.Cell(col, row);
    }
  }
  ::SetWindowTextW(hwnd_, Wide(text).c_str());
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

int StatusGridView::ColumnEdge(int col) const {
  int x = kBorder;
  for (int k = 0; k < col; ++k) x += model_.ColWidth(k) + kLineWidth;
  return Scale(x, ctx_.dpi);
}

int StatusGridView::RowEdge(int row) const {
  int y = kBorder;
  for (int k = 0; k < row; ++k) y += model_.RowHeight(k) + kLineWidth;
  return Scale(y, ctx_.dpi);
}

TRect StatusGridView::CellRect(int col, int row) const {
  const int left = ColumnEdge(col);
  const int top = RowEdge(row);
  // The cell ends where the line after it begins.
  const int right = ColumnEdge(col + 1) - std::max(1, Scale(kLineWidth, ctx_.dpi));
  const int bottom = RowEdge(row + 1) - std::max(1, Scale(kLineWidth, ctx_.dpi));
  return TRect{left, top, right, bottom};
}

void StatusGridView::Paint(HDC dc) {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  HBRUSH background = ::CreateSolidBrush(ToColorRef(model_.Color()));
  ::FillRect(dc, &client, background);
  ::DeleteObject(background);
  const int cols = model_.ColCount(), rows = model_.RowCount();
  if (cols > 0 && rows > 0) {
    HBRUSH line = ::CreateSolidBrush(kGridLine);
    const TRect last = CellRect(cols - 1, rows - 1);
    const int lw = std::max(1, Scale(kLineWidth, ctx_.dpi));
    const int top = RowEdge(0), left = ColumnEdge(0);
    for (int c = 0; c < cols; ++c) {
      const TRect r = CellRect(c, 0);
      const RECT v{r.Right, top, r.Right + lw, last.Bottom + lw};
      ::FillRect(dc, &v, line);
    }
    for (int row = 0; row < rows; ++row) {
      const TRect r = CellRect(0, row);
      const RECT h{left, r.Bottom, last.Right + lw, r.Bottom + lw};
      ::FillRect(dc, &h, line);
    }
    ::DeleteObject(line);
    const bool focused = ::GetFocus() == hwnd_;
    GdiCanvas canvas(dc, font_, ::GetSysColor(COLOR_WINDOWTEXT));
    for (int row = 0; row < rows; ++row) {
      for (int c = 0; c < cols; ++c) {
        TGridDrawState state = 0;
        // Whole-row selection: every cell of the current row is selected.
        if (row == model_.Row()) {
          state |= static_cast<std::uint8_t>(TGridDrawStateFlag::gdSelected);
          if (c == 0 && focused) state |= static_cast<std::uint8_t>(TGridDrawStateFlag::gdFocused);
        }
        const TRect cell = CellRect(c, row);
        const int saved = ::SaveDC(dc);
        ::IntersectClipRect(dc, cell.Left, cell.Top, cell.Right, cell.Bottom);
        model_.PaintCell(canvas, c, row, cell, state);
        ::RestoreDC(dc, saved);
      }
    }
  }
  HPEN pen = ::CreatePen(PS_SOLID, 1, ::GetFocus() == hwnd_ ? kFrameFocused : kFrame);
  HGDIOBJ old_pen = ::SelectObject(dc, pen);
  HGDIOBJ old_brush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
  ::Rectangle(dc, client.left, client.top, client.right, client.bottom);
  ::SelectObject(dc, old_brush);
  ::SelectObject(dc, old_pen);
  ::DeleteObject(pen);
}

int StatusGridView::RowAt(int y) const {
  for (int row = 0; row < model_.RowCount(); ++row) {
    if (y >= RowEdge(row) && y < RowEdge(row + 1)) return row;
  }
  return -1;
}

int StatusGridView::SizingColumnAt(int x) const {
  for (int c = 0; c < model_.ColCount(); ++c) {
    if (std::abs(x - CellRect(c, 0).Right) <= Scale(2, ctx_.dpi)) return c;
  }
  return -1;
}

int StatusGridView::SizingRowAt(int y) const {
  for (int row = 0; row < model_.RowCount(); ++row) {
    if (std::abs(y - CellRect(0, row).Bottom) <= Scale(2, ctx_.dpi)) return row;
  }
  return -1;
}

LRESULT StatusGridView::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd_, &ps);
      // Drawn off screen, then copied: no flicker when a cell changes.
      RECT client{};
      ::GetClientRect(hwnd_, &client);
      HDC memory = ::CreateCompatibleDC(dc);
      HBITMAP bitmap = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
      HGDIOBJ old = ::SelectObject(memory, bitmap);
      Paint(memory);
      ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
      ::SelectObject(memory, old);
      ::DeleteObject(bitmap);
      ::DeleteDC(memory);
      ::EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wp));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      ::InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    case WM_LBUTTONDOWN: {
      ::SetFocus(hwnd_);
      const int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
      sizing_col_ = SizingColumnAt(x);
      sizing_row_ = sizing_col_ >= 0 ? -1 : SizingRowAt(y);
      if (sizing_col_ >= 0 || sizing_row_ >= 0) {
        sizing_origin_ = sizing_col_ >= 0 ? x : y;
        sizing_size_ =
            sizing_col_ >= 0 ? model_.ColWidth(sizing_col_) : model_.RowHeight(sizing_row_);
        ::SetCapture(hwnd_);
        return 0;
      }
      const int row = RowAt(y);
      if (row >= 0) ctx_.gate->Enter([this, row] { model_.SetRow(row); });
      return 0;
    }
    case WM_MOUSEMOVE: {
      const int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
      // Sizes are the model's, at 96 dpi.
      if (sizing_col_ >= 0) {
        const int c = sizing_col_;
        const int w = std::max(1, sizing_size_ + Unscale(x - sizing_origin_, ctx_.dpi));
        if (w != model_.ColWidth(c)) ctx_.gate->Enter([this, c, w] { model_.SetColWidth(c, w); });
        return 0;
      }
      if (sizing_row_ >= 0) {
        const int r = sizing_row_;
        const int h = std::max(1, sizing_size_ + Unscale(y - sizing_origin_, ctx_.dpi));
        if (h != model_.RowHeight(r)) ctx_.gate->Enter([this, r, h] { model_.SetRowHeight(r, h); });
        return 0;
      }
      return 0;
    }
    case WM_SETCURSOR: {
      POINT p{};
      ::GetCursorPos(&p);
      ::ScreenToClient(hwnd_, &p);
      LPCWSTR cursor = IDC_ARROW;
      if (sizing_col_ >= 0 || SizingColumnAt(p.x) >= 0)
        cursor = IDC_SIZEWE;
      else if (sizing_row_ >= 0 || SizingRowAt(p.y) >= 0)
        cursor = IDC_SIZENS;
      ::SetCursor(::LoadCursorW(nullptr, cursor));
      return TRUE;
    }
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      sizing_col_ = -1;
      sizing_row_ = -1;
      if (msg == WM_LBUTTONUP && ::GetCapture() == hwnd_) ::ReleaseCapture();
      return 0;
    case WM_KEYDOWN: {
      int row = model_.Row();
      if (wp == VK_UP)
        --row;
      else if (wp == VK_DOWN)
        ++row;
      else
        break;
      ctx_.gate->Enter([this, row] { model_.SetRow(row); });
      return 0;
    }
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK StatusGridView::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  bool created = false;
  auto* self = WindowOwner<StatusGridView>(hwnd, msg, lp, created);
  if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
  if (created) self->hwnd_ = hwnd;
  return self->OnMessage(msg, wp, lp);
}

}  // namespace ornat::win32
