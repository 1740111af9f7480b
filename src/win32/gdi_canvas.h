#pragma once
// The status grid's painting surface on a GDI device context.

#include <windows.h>

#include "ui/toolkit/controls.h"

namespace ornat::win32 {

class GdiCanvas : public TCanvas {
 public:
  // Text is drawn in font and text_color; the context's state is restored at the end.
  GdiCanvas(HDC dc, HFONT font, COLORREF text_color);
  ~GdiCanvas() override;
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;
  void FillRect(const TRect& r, TColor color) override;
  void SetTransparentText() override;
  void DrawTextLine(const std::string& text, const TRect& r) override;

 private:
  HDC dc_;
  int saved_;
};

// TColor and COLORREF share their layout, 0x00BBGGRR.
inline COLORREF ToColorRef(TColor c) {
  return static_cast<COLORREF>(c & 0xFFFFFF);
}

}  // namespace ornat::win32
