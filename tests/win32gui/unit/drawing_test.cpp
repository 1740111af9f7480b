// The Win32 window's drawing: the status grid's cells through the core's cell painting
// on a GDI canvas (fill by state, one line of text clipped 2 pixels before the cell's
// right edge), and the captions fitted into the definition's rectangles.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/window_definition.h"
#include "text/wide.h"
#include "ui/exchange_log.h"
#include "win32/fonts.h"
#include "win32/gdi_canvas.h"

namespace ornat::win32 {
namespace {

// A 32-bit picture to draw on, its pixels readable.
class Picture {
 public:
  Picture(int w, int h) : w_(w), h_(h) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    dc_ = ::CreateCompatibleDC(nullptr);
    bmp_ =
        ::CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = ::SelectObject(dc_, bmp_);
  }
  ~Picture() {
    ::SelectObject(dc_, old_);
    ::DeleteObject(bmp_);
    ::DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  // 0x00BBGGRR, as TColor and COLORREF hold colours.
  TColor At(int x, int y) const {
    ::GdiFlush();
    const std::uint32_t p = bits_[y * w_ + x];  // 0x00RRGGBB in a DIB
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
  }

 private:
  int w_, h_;
  HDC dc_;
  HBITMAP bmp_;
  HGDIOBJ old_;
  std::uint32_t* bits_ = nullptr;
};

TEST(StatusGridDrawing, EachCellIsFilledByItsStateAndItsTextClippedBeforeTheRightEdge) {
  TTeStringGrid grid("StatusGrid", nullptr, 2, 2);
  grid.SetBounds(15, 334, 404, 42);
  InitStatusGrid(grid);
  grid.SetCell(1, 0, "    VA329(/330) \"ОРНАТ(-2)-Zev\" WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
  FontSet fonts;
  const auto selected = static_cast<TGridDrawState>(TGridDrawStateFlag::gdSelected);
  const auto fixed = static_cast<TGridDrawState>(TGridDrawStateFlag::gdFixed);
  struct Case {
    const char* what;
    TGridDrawState state;
    TColor fill;
  } const cases[] = {
      {"neither selected nor fixed: white", 0, clWhite},
      {"selected", selected, 13811126},
      {"selected and fixed: the selection's colour", static_cast<TGridDrawState>(selected | fixed),
       13811126},
      {"fixed", fixed, grid.FixedColor()},
      {"focused only: white", static_cast<TGridDrawState>(TGridDrawStateFlag::gdFocused), clWhite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Picture picture(260, 30);
    {
      GdiCanvas canvas(picture.dc(), fonts.Get(FontRole::kWindow), RGB(0, 0, 0));
      DrawStatusCell(grid, 1, 0, TRect{0, 0, 248, 18}, c.state, canvas);
    }
    EXPECT_EQ(picture.At(0, 0), c.fill);
    EXPECT_EQ(picture.At(247, 17), c.fill);
    // The text: dark pixels on its line, none in the last two columns, none outside.
    int dark = 0;
    for (int y = 0; y < 18; ++y)
      for (int x = 0; x < 248; ++x) {
        const TColor p = picture.At(x, y);
        if (p != c.fill && x >= 246) ADD_FAILURE() << "text at x " << x;
        dark += p != c.fill;
      }
    EXPECT_GT(dark, 50);
    EXPECT_EQ(picture.At(250, 5), 0u) << "nothing beyond the cell";
  }
}

TEST(CaptionFit, EveryLabelOfTheDefinitionShowsAllOfItsTextWithinItsWidth) {
  FontSet fonts;
  int labels = 0;
  for (const auto& p : ornat::testing::kWindow) {
    if (std::string(p.name).rfind("TeLabel", 0) != 0) continue;
    SCOPED_TRACE(p.name);
    ++labels;
    Picture picture(p.width + 40, p.height);
    ::SelectObject(picture.dc(), fonts.Get(FontRole::kWindow));
    ::SetBkMode(picture.dc(), TRANSPARENT);
    const std::wstring text = Wide(p.text);
    const RECT r{0, 0, p.width, p.height};
    const int width = DrawFittedText(picture.dc(), text, r);
    EXPECT_LE(width, p.width);
    SIZE natural{};
    ::GetTextExtentPoint32W(picture.dc(), text.c_str(), static_cast<int>(text.size()), &natural);
    // Spacing is tightened only where the text would not fit, and no more than needed.
    if (natural.cx <= p.width) {
      EXPECT_EQ(width, natural.cx);
    } else {
      EXPECT_GE(width, p.width - 1);
    }
  }
  EXPECT_EQ(labels, 13);
}

TEST(CaptionFit, ACaptionTooWideForItsRoomGetsANarrowerFaceThatFits) {
  FontSet fonts;
  const std::wstring caption = Wide(" - ФИКС. ТРЕВОГИ");
  HFONT base = fonts.Get(FontRole::kWindow);
  const int natural = FontSet::TextWidth(base, caption);
  struct Room {
    int room;
    bool narrowed;
  } const rooms[] = {
      {natural + 10, false}, {natural, false}, {natural - 8, true}, {natural * 3 / 4, true}};
  for (const Room& r : rooms) {
    SCOPED_TRACE(r.room);
    HFONT font = fonts.Fitting(FontRole::kWindow, caption, r.room);
    EXPECT_EQ(font != base, r.narrowed);
    EXPECT_LE(FontSet::TextWidth(font, caption), r.room);
  }
}

}  // namespace
}  // namespace ornat::win32
