#include "win32/fonts.h"

#include <cwchar>
#include <vector>

#include "win32/dpi.h"

namespace ornat::win32 {

FontSet::~FontSet() {
  SetDpi(dpi_);
}

void FontSet::SetDpi(int dpi) {
  for (auto& [key, font] : fonts_) ::DeleteObject(font);
  fonts_.clear();
  dpi_ = dpi;
}

LOGFONTW FontSet::Definition(FontRole role, int dpi) {
  LOGFONTW lf{};
  const wchar_t* face = L"Courier";
  int height = 11;
  switch (role) {
    case FontRole::kWindow:
      break;
    case FontRole::kLog:
      face = L"Courier New";
      break;
    case FontRole::kSpeedList:
      face = L"MS Sans Serif";
      height = 15;
      break;
    case FontRole::kEditor:
      face = L"MS Sans Serif";
      break;
  }
  // A negative height is the character height, without the internal leading.
  lf.lfHeight = -Scale(height, dpi);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = RUSSIAN_CHARSET;
  lf.lfOutPrecision = OUT_TT_PRECIS;
  lf.lfQuality = CLEARTYPE_QUALITY;
  std::wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return lf;
}

HFONT FontSet::Make(FontRole role, int width) {
  auto key = std::make_pair(role, width);
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  LOGFONTW lf = Definition(role, dpi_);
  lf.lfWidth = width;
  HFONT font = ::CreateFontIndirectW(&lf);
  fonts_.emplace(key, font);
  return font;
}

HFONT FontSet::Get(FontRole role) {
  return Make(role, 0);
}

int FontSet::TextWidth(HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return size.cx;
}

HFONT FontSet::Fitting(FontRole role, const std::wstring& text, int room) {
  HFONT font = Get(role);
  if (text.empty() || TextWidth(font, text) <= room) return font;
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  // The widest narrowing that fits; GDI takes lfWidth as the average character width.
  for (int width = tm.tmAveCharWidth - 1; width >= 1; --width) {
    HFONT narrow = Make(role, width);
    if (TextWidth(narrow, text) <= room) return narrow;
  }
  return Make(role, 1);
}

}  // namespace ornat::win32

namespace ornat::win32 {

int DrawFittedText(HDC dc, const std::wstring& text, const RECT& r) {
  const int n = static_cast<int>(text.size());
  if (n == 0) return 0;
  // Where each character ends, from the start of the line.
  std::vector<int> ends(static_cast<std::size_t>(n));
  SIZE size{};
  int fit = 0;
  ::GetTextExtentExPointW(dc, text.c_str(), n, 0, &fit, ends.data(), &size);
  std::vector<int> advance(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    advance[static_cast<std::size_t>(i)] =
        ends[static_cast<std::size_t>(i)] - (i > 0 ? ends[static_cast<std::size_t>(i - 1)] : 0);
  const int room = r.right - r.left;
  int excess = size.cx - room;
  if (excess > 0) {
    int spaces = 0;
    for (int i = 0; i + 1 < n; ++i)
      if (text[static_cast<std::size_t>(i)] == L' ') ++spaces;
    if (spaces > 0 && excess <= spaces) {
      // A pixel less after as many spaces as needed, spread along the line.
      for (int i = 0, seen = 0, taken = 0; i + 1 < n && taken < excess; ++i) {
        if (text[static_cast<std::size_t>(i)] != L' ') continue;
        ++seen;
        if (seen * excess / spaces > taken) {
          --advance[static_cast<std::size_t>(i)];
          ++taken;
        }
      }
    } else {
      // Less between every two characters, the remainder spread evenly.
      const int gaps = n - 1;
      for (int i = 0, taken = 0; i < gaps && gaps > 0; ++i) {
        const int due = (i + 1) * excess / gaps;
        advance[static_cast<std::size_t>(i)] -= due - taken;
        taken = due;
      }
    }
  }
  RECT clip = r;
  ::ExtTextOutW(dc, r.left, r.top, ETO_CLIPPED, &clip, text.c_str(), static_cast<UINT>(n),
                advance.data());
  int width = 0;
  for (int a : advance) width += a;
  return width;
}

}  // namespace ornat::win32
