#include "win32/status_grid.h"

#include <windowsx.h>

#include "text/wide.h"
#include "win32/gdi_canvas.h"
#include "win32/window_owner.h"

namespace ornat::win32 {

namespace {
constexpr const wchar_t* kClass = L"OrnatStatusGrid";
}  // namespace

StatusGridView::StatusGridView(TTeStringGrid& model, const ViewContext& ctx, HWND parent)
    : model_(model), ctx_(ctx), input_(model, *ctx.gate) {
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

void StatusGridView::Paint(HDC dc) {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  GdiCanvas canvas(dc, font_, ::GetSysColor(COLOR_WINDOWTEXT));
  PaintStringGrid(model_, Layout(), canvas, client.right, client.bottom, ::GetFocus() == hwnd_);
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
    case WM_LBUTTONDOWN:
      ::SetFocus(hwnd_);
      if (input_.Press(Layout(), GET_X_LPARAM(lp), GET_Y_LPARAM(lp))) ::SetCapture(hwnd_);
      return 0;
    case WM_MOUSEMOVE:
      input_.Move(Layout(), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
      return 0;
    case WM_SETCURSOR: {
      POINT p{};
      ::GetCursorPos(&p);
      ::ScreenToClient(hwnd_, &p);
      LPCWSTR cursor = IDC_ARROW;
      switch (input_.PointerAt(Layout(), p.x, p.y)) {
        case GridPointer::kSizeColumn:
          cursor = IDC_SIZEWE;
          break;
        case GridPointer::kSizeRow:
          cursor = IDC_SIZENS;
          break;
        case GridPointer::kArrow:
          break;
      }
      ::SetCursor(::LoadCursorW(nullptr, cursor));
      return TRUE;
    }
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      input_.Release();
      if (msg == WM_LBUTTONUP && ::GetCapture() == hwnd_) ::ReleaseCapture();
      return 0;
    case WM_KEYDOWN:
      if (wp == VK_UP)
        input_.Step(-1);
      else if (wp == VK_DOWN)
        input_.Step(1);
      else
        break;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK StatusGridView::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return ToWindowOwner(hwnd, msg, wp, lp, &StatusGridView::hwnd_, &StatusGridView::OnMessage);
}

}  // namespace ornat::win32
