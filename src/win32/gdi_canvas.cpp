#include "win32/gdi_canvas.h"

#include "text/wide.h"

namespace ornat::win32 {

GdiCanvas::GdiCanvas(HDC dc, HFONT font, COLORREF text_color) : dc_(dc), saved_(::SaveDC(dc)) {
  ::SelectObject(dc_, font);
  ::SetTextColor(dc_, text_color);
}

GdiCanvas::~GdiCanvas() {
  ::RestoreDC(dc_, saved_);
}

void GdiCanvas::FillRect(const TRect& r, TColor color) {
  const RECT rect{r.Left, r.Top, r.Right, r.Bottom};
  HBRUSH brush = ::CreateSolidBrush(ToColorRef(color));
  ::FillRect(dc_, &rect, brush);
  ::DeleteObject(brush);
}

void GdiCanvas::SetTransparentText() {
  ::SetBkMode(dc_, TRANSPARENT);
}

void GdiCanvas::DrawTextLine(const std::string& text, const TRect& r) {
  RECT rect{r.Left, r.Top, r.Right, r.Bottom};
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  const std::wstring w = Wide(text);
  ::DrawTextW(dc_, w.c_str(), static_cast<int>(w.size()), &rect,
              DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
}

}  // namespace ornat::win32
