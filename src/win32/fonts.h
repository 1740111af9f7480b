#pragma once
// The window's fonts as the window definition names them, at the screen's scale:
//  - "Courier", character height 11, Cyrillic: the window and every control without a
//    font of its own;
//  - "Courier New" 11, Cyrillic: the log;
//  - "MS Sans Serif" 15 (the speed list) and 11 (the address editors).
// The system maps each name to a face it has. The rectangles of the definition were
// laid out for a narrower face than most that "Courier" becomes (a monospaced face at
// 11 pixels needs 182 of the 151 pixels of "- УФ-3 -> ВСПЫШКА 0,1с/MAX"): a caption
// that would pass its room gets the same face a little narrower (GDI scales the
// glyphs' width), the widest one that still shows all of it.

#include <windows.h>

#include <map>
#include <string>
#include <tuple>

namespace ornat::win32 {

enum class FontRole { kWindow, kLog, kSpeedList, kEditor };

// Draws one line of text at the top left of r, clipped to r; where the text is wider
// than r, its spacing is tightened until it fits (the glyphs keep their shapes).
// Returns the width the text takes.
int DrawFittedText(HDC dc, const std::wstring& text, const RECT& r);

class FontSet {
 public:
  FontSet() = default;
  ~FontSet();
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  // Drops every font made so far (a change of scale).
  void SetDpi(int dpi);
  int Dpi() const { return dpi_; }
  // The font of a role at the present scale.
  HFONT Get(FontRole role);
  // The font of a role, narrowed if needed so that text is at most room pixels wide.
  HFONT Fitting(FontRole role, const std::wstring& text, int room);
  // The width of text in font, in pixels.
  static int TextWidth(HFONT font, const std::wstring& text);
  static LOGFONTW Definition(FontRole role, int dpi);

 private:
  HFONT Make(FontRole role, int width);
  int dpi_ = 96;
  std::map<std::pair<FontRole, int>, HFONT> fonts_;
};

}  // namespace ornat::win32
