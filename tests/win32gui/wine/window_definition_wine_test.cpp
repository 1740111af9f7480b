// The Win32 window as defined, seen from a second process under Wine at 100 % and at
// 150 %: every control of the definition by its name, of a standard class (or the menu
// bar's and the status grid's own), at its place scaled by the screen's dots per inch,
// with its caption as its window text, visible and enabled as defined; the window's
// caption, client area, border and title-bar buttons; the status bar's panels; and a
// picture of it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "support/window_definition.h"
#include "wine_window.h"

namespace ornat::testing {
namespace {

// The definition's pixels at 96 dpi to the screen's, edge by edge (rounded as MulDiv
// rounds), so that controls touching at 96 dpi touch at every scale.
int AtDpi(int v, int dpi) {
  return (v * dpi + 48) / 96;
}

struct Rect {
  int left, top, width, height;
  bool operator==(const Rect&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << r.left << ", " << r.top << ", " << r.width << " x " << r.height;
}

// A control's rectangle in the client area at 96 dpi: its place in its parent plus the
// parents' places.
Rect InClient(const Placed& p) {
  Rect r{p.left, p.top, p.width, p.height};
  for (std::string parent = p.parent; parent != "Form1_Client";) {
    const Placed* up = nullptr;
    for (const Placed& q : kWindow)
      if (parent == q.name) up = &q;
    if (up == nullptr) break;
    r.left += up->left;
    r.top += up->top;
    parent = up->parent;
  }
  return r;
}

Rect Scaled(const Rect& r, int dpi) {
  const int left = AtDpi(r.left, dpi), top = AtDpi(r.top, dpi);
  return Rect{left, top, AtDpi(r.left + r.width, dpi) - left, AtDpi(r.top + r.height, dpi) - top};
}

// The window class a screen reader meets for each control.
std::string ClassOf(const std::string& name) {
  if (name == "TeMenuBar1") return "OrnatMenuBar";
  if (name == "StatusGrid") return "OrnatStatusGrid";
  if (name == "StatusBar1") return "msctls_statusbar32";
  if (name == "TeProgressBar1") return "msctls_progress32";
  if (name == "TeSComboBox1") return "ComboBox";
  if (name == "TeMemo1" || name.rfind("TeSpinEdit", 0) == 0) return "Edit";
  if (name.rfind("TeLabel", 0) == 0) return "Static";
  return "Button";  // push buttons, check boxes, radio buttons, group boxes
}

std::string WithoutCr(std::string s) {
  std::string out;
  for (char c : s)
    if (c != '\r') out += c;
  return out;
}

class WindowAtScale : public ::testing::TestWithParam<int> {};

TEST_P(WindowAtScale, EveryControlHasItsClassPlaceTextVisibilityAndEnabledState) {
  const int dpi = GetParam();
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(dpi);
  ASSERT_EQ(win.Why(), "");
  std::istringstream window(win.driver().Ask("window"));
  std::string word;
  int seen_dpi = 0;
  window >> word >> seen_dpi;
  ASSERT_EQ(seen_dpi, dpi);
  const auto controls = win.driver().Controls();
  int checked = 0;
  for (const Placed& p : kWindow) {
    SCOPED_TRACE(p.name);
    auto it = controls.find(p.name);
    ASSERT_NE(it, controls.end());
    const SeenControl& c = it->second;
    ++checked;
    EXPECT_EQ(c.cls, ClassOf(p.name));
    const Rect defined = Scaled(InClient(p), dpi);
    const Rect seen{c.left, c.top, c.width, c.height};
    if (c.cls == "OrnatMenuBar") {
      // The menu bar sizes itself to its items: never narrower than defined, and never
      // cut by the window's edge.
      EXPECT_EQ(seen.left, defined.left);
      EXPECT_EQ(seen.top, defined.top);
      EXPECT_EQ(seen.height, defined.height);
      EXPECT_GE(seen.width, defined.width);
      EXPECT_LE(seen.left + seen.width, AtDpi(434, dpi));
    } else {
      EXPECT_EQ(seen, defined);
    }
    if (p.text != nullptr) {
      EXPECT_EQ(WithoutCr(c.text), p.text);
    }
    EXPECT_EQ(c.visible, p.visible);
    EXPECT_EQ(c.enabled, p.enabled);
  }
  EXPECT_EQ(checked, static_cast<int>(std::size(kWindow)));
  // The address editors' buttons over the right 15 pixels of the editor, inside its frame.
  for (const char* name : {"TeSpinEdit1", "TeSpinEdit2"}) {
    SCOPED_TRACE(name);
    const SeenControl& edit = controls.at(name);
    const SeenControl& updown = controls.at(std::string(name) + "_UpDown");
    EXPECT_EQ(updown.cls, "msctls_updown32");
    EXPECT_EQ(updown.width, AtDpi(15, dpi));
    EXPECT_LT(updown.left, edit.left + edit.width);
    EXPECT_GE(updown.left + updown.width, edit.left + edit.width - AtDpi(2, dpi));
    EXPECT_GT(updown.top, edit.top - 1);
    EXPECT_LT(updown.top + updown.height, edit.top + edit.height + 1);
  }
  // The check marks of start-up: "ФИКС. ТРЕВОГИ" alone.
  for (const auto& [name, c] : controls) {
    if (c.cls != "Button") continue;
    SCOPED_TRACE(name);
    EXPECT_EQ(c.check, name == "FIX_Button" ? 1 : 0);
  }
}

TEST_P(WindowAtScale, TheWindowHasItsCaptionAClientAreaOfTheDefinitionAndOnlyMinimiseAndClose) {
  const int dpi = GetParam();
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(dpi);
  ASSERT_EQ(win.Why(), "");
  std::istringstream window(win.driver().Ask("window"));
  std::string word;
  int seen_dpi = 0, left = 0, top = 0, width = 0, height = 0, client_w = 0, client_h = 0;
  unsigned long style = 0;
  window >> word >> seen_dpi >> left >> top >> width >> height >> client_w >> client_h >> style;
  std::string caption;
  std::getline(window, caption);
  ASSERT_EQ(word, "window");
  EXPECT_EQ(DriverUnescape(caption.substr(1)), kWindowCaption);
  EXPECT_EQ(client_w, AtDpi(434, dpi));
  EXPECT_EQ(client_h, AtDpi(534, dpi));
  constexpr unsigned long kSysMenu = 0x00080000, kMinimize = 0x00020000, kMaximize = 0x00010000,
                          kThickFrame = 0x00040000, kVScroll = 0x00200000, kCaption = 0x00C00000;
  EXPECT_EQ(style & kCaption, kCaption);
  EXPECT_TRUE(style & kSysMenu);
  EXPECT_TRUE(style & kMinimize);
  EXPECT_FALSE(style & kMaximize);
  EXPECT_FALSE(style & kThickFrame) << "a fixed single border";
  EXPECT_FALSE(style & kVScroll) << "the screen is high enough";
  // Centred on the 1280 x 1024 desktop of the test prefix.
  EXPECT_NEAR(left + width / 2, 640, 1);
  EXPECT_NEAR(top + height / 2, 512, 1);
}

TEST_P(WindowAtScale, TheStatusBarHasItsThreePanelsWithTheirStartTexts) {
  const int dpi = GetParam();
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(dpi);
  ASSERT_EQ(win.Why(), "");
  struct Panel {
    int right;  // at 96 dpi, in the status bar
    const char* text;
  } const defined[] = {
      {50, "COM1"},  // port discovery's choice among the registry's ports
      {150, "BaudRate = 9600"},
      {1255, "DEVICE : A = 247; Baud = 9600"},  // Latin A
  };
  const std::vector<std::string> lines = win.driver().AskLines("panels");
  ASSERT_EQ(lines.size(), std::size(defined));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    std::istringstream words(lines[i]);
    std::string kind, text;
    int index = 0, left = 0, top = 0, width = 0, height = 0;
    words >> kind >> index >> left >> top >> width >> height;
    std::getline(words, text);
    text = DriverUnescape(text.substr(1));
    // A leading tab centres a panel's text; the text is what follows.
    const bool centred = !text.empty() && text[0] == '\t';
    if (centred) text.erase(0, 1);
    EXPECT_EQ(left + width, AtDpi(defined[i].right, dpi));
    EXPECT_EQ(text, defined[i].text);
    EXPECT_EQ(centred, i < 2) << "panels 0 and 1 centred, panel 2 left-aligned";
  }
}

TEST_P(WindowAtScale, APictureOfTheWindowShowsItPaintedAtItsSize) {
  const int dpi = GetParam();
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(dpi);
  ASSERT_EQ(win.Why(), "");
  win.driver().Ask("sleep 500");  // painted
  const std::string dir = ORNAT_SCREENSHOT_DIR;
  std::filesystem::create_directories(dir);
  const std::string bmp = dir + "/ornat-exe-" + std::to_string(dpi) + "dpi.bmp";
  const std::string png = dir + "/ornat-exe-" + std::to_string(dpi) + "dpi.png";
  std::filesystem::remove(png);
  const std::string shot = win.driver().Ask("shot Z:" + bmp);
  ASSERT_EQ(shot.rfind("ok ", 0), 0u) << shot;
  int width = 0, height = 0;
  std::istringstream(shot.substr(3)) >> width >> height;
  ASSERT_EQ(std::system(("convert '" + bmp + "' '" + png + "'").c_str()), 0);
  std::filesystem::remove(bmp);
  // The client area's colour in the group box between its two sections, and the log's
  // white, read back from the picture (ImageMagick's pixel at x,y).
  std::istringstream window(win.driver().Ask("window"));
  std::string word;
  int seen_dpi = 0, left = 0, top = 0, w = 0, h = 0, cw = 0, ch = 0;
  window >> word >> seen_dpi >> left >> top >> w >> h >> cw >> ch;
  ASSERT_EQ(w, width);
  ASSERT_EQ(h, height);
  const int frame_x = (w - cw) / 2;
  const int frame_y = h - ch - frame_x;  // caption and top border
  auto pixel = [&](int x, int y) {
    const std::string out = dir + "/pixel.txt";
    const std::string cmd = "convert '" + png + "' -format '%[hex:p{" + std::to_string(x) + "," +
                            std::to_string(y) + "}]' info: > '" + out + "'";
    if (std::system(cmd.c_str()) != 0) return std::string("?");
    std::ifstream in(out);
    std::string hex;
    in >> hex;
    return hex;
  };
  const auto face = pixel(frame_x + AtDpi(6, dpi), frame_y + AtDpi(150, dpi));
  const auto log = pixel(frame_x + AtDpi(300, dpi), frame_y + AtDpi(470, dpi));
  EXPECT_EQ(log, "FFFFFF") << "the log pane's background";
  EXPECT_NE(face, log) << "the window's face around the group boxes";
  EXPECT_NE(face, "000000");
}

TEST(WindowForScreenReaders, EachTacticButtonIsNamedByTheLabelBesideItAndKeepsItsStoredCaption) {
  WineWindow win;
  ASSERT_EQ(win.Why(), "");
  for (const auto& [button, label] : kTacticNames) {
    SCOPED_TRACE(button);
    EXPECT_EQ(win.driver().Ask(std::string("name ") + button), std::string("name ") + label);
    EXPECT_EQ(win.driver().Text(button), "   ШС1");
  }
  // A control whose caption shows keeps it as its name.
  EXPECT_EQ(win.driver().Ask("name TeButton3"), "name СБРОС ТРЕВОГИ");
}

INSTANTIATE_TEST_SUITE_P(Dpi, WindowAtScale, ::testing::Values(96, 144),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return std::to_string(param.param) + "dpi";
                         });

}  // namespace
}  // namespace ornat::testing
