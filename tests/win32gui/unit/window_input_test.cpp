// What reaches the detector from the Win32 window's buttons, boxes, keys and wheel:
// a click, Space or BM_CLICK acts; the focus arriving on a control (from the mouse, the
// arrow keys, Tab or a program) never does; Alt with the underlined letter presses the
// query button without moving the focus; the wheel changes nothing anywhere.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/window_definition.h"
#include "win32_window.h"
// After the form's headers (see win32_window.h).
#include "text/wide.h"
#include "win32/menu_bar.h"

namespace ornat::testing {
namespace {

using Frame = std::vector<std::uint8_t>;

// The user's ways of reaching a control, and whether each is a choice.
enum class Way { kFocus, kArrowFrom, kTab, kClick, kSpace, kBmClick };
struct Reach {
  const char* what;
  Way way;
  bool acts;
};

void Do(Win32Window& win, HWND w, Way way) {
  switch (way) {
    case Way::kFocus:
      ::SetFocus(w);
      break;
    case Way::kArrowFrom: {
      // From the tactic button before it in its group, with the arrow key.
      auto& members = win.form().TacticGroup.Members();
      HWND before = win.Handle(*members.front());
      for (std::size_t i = 1; i < members.size(); ++i)
        if (win.Handle(*members[i]) == w) before = win.Handle(*members[i - 1]);
      ::SetFocus(before);
      win.Key(VK_DOWN, before);
      break;
    }
    case Way::kTab:
      ::SetFocus(w);
      ::SetFocus(win.Handle(win.form().TeMenuBar1));
      win.Key(VK_TAB);
      break;
    case Way::kClick: {
      RECT r{};
      ::GetClientRect(w, &r);
      const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
      ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
      ::SendMessageW(w, WM_LBUTTONUP, 0, at);
      break;
    }
    case Way::kSpace:
      ::SetFocus(w);
      ::SendMessageW(w, WM_KEYDOWN, VK_SPACE, 1);
      ::SendMessageW(w, WM_KEYUP, VK_SPACE, (1u << 30) | (1u << 31) | 1);
      break;
    case Way::kBmClick:
      ::SendMessageW(w, BM_CLICK, 0, 0);
      break;
  }
  win.Pump();
}

TEST(WindowInput, ATacticIsWrittenOnAChoiceOnlyNeverWhenTheFocusReachesItsButton) {
  const Reach reaches[] = {
      {"the focus given", Way::kFocus, false},
      {"the arrow key from the button before", Way::kArrowFrom, false},
      {"a click", Way::kClick, true},
      {"Space", Way::kSpace, true},
      {"BM_CLICK from another program", Way::kBmClick, true},
  };
  for (const Reach& r : reaches) {
    SCOPED_TRACE(r.what);
    Win32Window win;
    TTeRadioButton& button = win.form().T2MIN_Button;
    HWND w = win.Handle(button);
    Do(win, w, r.way);
    if (r.way == Way::kArrowFrom || r.way == Way::kFocus) {
      EXPECT_EQ(::GetFocus(), w) << "the focus moved there";
    }
    EXPECT_EQ(button.Checked(), r.acts);
    EXPECT_EQ(::SendMessageW(w, BM_GETCHECK, 0, 0), r.acts ? BST_CHECKED : BST_UNCHECKED);
    // The tactic write (register 4 := 3) to the detector's address, or nothing.
    const std::vector<Frame> expected =
        r.acts ? std::vector<Frame>{{0xF7, 0x06, 0x00, 0x04, 0x00, 0x03}} : std::vector<Frame>{};
    std::vector<Frame> sent;
    for (Frame f : win.Writes()) {
      f.resize(6);  // without the CRC
      sent.push_back(f);
    }
    EXPECT_EQ(sent, expected);
  }
}

TEST(WindowInput, TheTestModeAndTheCycleBoxActOnAChoiceOnly) {
  const Reach reaches[] = {
      {"the focus given", Way::kFocus, false}, {"Tab", Way::kTab, false},
      {"a click", Way::kClick, true},          {"Space", Way::kSpace, true},
      {"BM_CLICK", Way::kBmClick, true},
  };
  for (const Reach& r : reaches) {
    SCOPED_TRACE(r.what);
    Win32Window win;
    Do(win, win.Handle(win.form().TST_Button), r.way);
    EXPECT_EQ(win.form().TST_Button.Checked(), r.acts);
    EXPECT_EQ(win.Writes().size(), r.acts ? 1u : 0u) << "the test-mode write";
  }
}

TEST(WindowInput, AltWithTheUnderlinedLetterPressesTheQueryButtonAndLeavesTheFocus) {
  struct Accelerator {
    wchar_t letter;
    bool queries;
  } const letters[] = {{L'\x0437', true}, {L'\x0417', true}, {L'z', false}, {L'p', false}};
  for (const Accelerator& a : letters) {
    SCOPED_TRACE(static_cast<int>(a.letter));
    Win32Window win;
    HWND editor = win.Handle(win.form().TeSpinEdit2);
    ::SetFocus(editor);
    win.SysChar(a.letter);
    EXPECT_EQ(::GetFocus(), editor);
    const auto writes = win.Writes();
    ASSERT_EQ(writes.size(), a.queries ? 1u : 0u);
    if (a.queries) {
      EXPECT_EQ(writes[0], (Frame{0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A}));
    }
  }
}

TEST(WindowInput, TheWheelOverAnyControlChangesNothingAndSendsNothing) {
  Win32Window win;
  TForm1& f = win.form();
  auto snapshot = [&] {
    std::string s = std::to_string(f.TeSComboBox1.ItemIndex()) + "|" + f.TeSpinEdit1.Text() + "|" +
                    f.TeSpinEdit2.Text() + "|" + f.StatusBar1.PanelText(2);
    for (TTeRadioButton* r : f.TacticGroup.Members()) s += r->Checked() ? "1" : "0";
    for (TTeCheckBox* c : {&f.TST_Button, &f.FIX_Button, &f.TeCheckBox1})
      s += c->Checked() ? "1" : "0";
    return s;
  };
  const std::string before = snapshot();
  int turned = 0;
  for (TControl* c : f.AllControls()) {
    HWND w = win.Handle(*c);
    ASSERT_NE(w, nullptr) << c->Name();
    for (int delta : {WHEEL_DELTA, -WHEEL_DELTA, -3 * WHEEL_DELTA}) {
      ::SetFocus(w);
      ::SendMessageW(w, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), 0);
      ::SendMessageW(w, WM_MOUSEHWHEEL, MAKEWPARAM(0, delta), 0);
      ++turned;
    }
    win.Pump();
    EXPECT_EQ(snapshot(), before) << c->Name();
  }
  EXPECT_EQ(turned, static_cast<int>(f.AllControls().size()) * 3);
  EXPECT_TRUE(win.Writes().empty());
}

TEST(WindowInput, TheLogHasOneTextColourTheModelsOnWhite) {
  Win32Window win;
  HWND memo = win.Handle(win.form().TeMemo1);
  HDC dc = ::GetDC(memo);
  for (TColor c : {clNavy, clRed, clBlue}) {
    SCOPED_TRACE(c);
    win.form().TeMemo1.SetFontColor(c);
    ::SendMessageW(::GetParent(memo), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(memo));
    EXPECT_EQ(::GetTextColor(dc), static_cast<COLORREF>(c));
    EXPECT_EQ(::GetBkColor(dc), RGB(255, 255, 255));
  }
  ::ReleaseDC(memo, dc);
}

TEST(WindowInput, AltAndF10MakeTheMenuBarActiveAndEscapeGivesTheFocusBack) {
  struct Press {
    const char* what;
    UINT vk;
    bool alt;
  } const presses[] = {{"Alt alone", VK_MENU, true}, {"F10", VK_F10, true}};
  for (const Press& w : presses) {
    SCOPED_TRACE(w.what);
    Win32Window win;
    HWND editor = win.Handle(win.form().TeSpinEdit1);
    HWND bar = win.Handle(win.form().TeMenuBar1);
    ::SetFocus(editor);
    win.Key(w.vk, editor, w.alt);
    EXPECT_TRUE(win.view->Menu().Active());
    EXPECT_EQ(::GetFocus(), bar);
    win.Key(VK_ESCAPE, bar);
    EXPECT_FALSE(win.view->Menu().Active());
    EXPECT_EQ(::GetFocus(), editor);
    // Going to the bar leaves the editor (its value is brought into range, as for any
    // other control); nothing was sent, and the editor holds its value.
    EXPECT_EQ(win.form().TeSpinEdit1.Text(), "247");
    EXPECT_TRUE(win.Writes().empty());
  }
}

// Runs `then` once inside the menu loop that is about to start, with the open menu's
// window, 100 ms in; the menu stays open unless `then` closes it.
std::function<void(HWND)> g_in_menu;
void InMenu(std::function<void(HWND)> then) {
  g_in_menu = std::move(then);
  ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    HWND menu = ::FindWindowW(L"#32768", nullptr);
    if (g_in_menu) g_in_menu(menu);
    g_in_menu = nullptr;
  });
}

std::vector<std::string> Items(HMENU menu) {
  std::vector<std::string> items;
  for (int i = 0; menu != nullptr && i < ::GetMenuItemCount(menu); ++i) {
    wchar_t text[128] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
    const bool checked =
        (::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_CHECKED) != 0;
    items.push_back(win32::Utf8(text) + (checked ? " *" : ""));
  }
  return items;
}

TEST(WindowInput, APressOnTheMenuBarRunsPortDiscoveryBeforeItsMenuOpens) {
  Win32Window win;
  const int before = win.base.ports.calls;
  // A port that came after start-up: the menu the press opens must list it.
  win.base.ports.ports = std::vector<std::string>{"COM1", "COM7"};
  std::vector<std::string> shown, port_items;
  InMenu([&](HWND menu) {
    ASSERT_NE(menu, nullptr);
    auto popup = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
    shown = Items(popup);
    port_items = Items(::GetSubMenu(popup, 0));
    ::EndMenu();
  });
  const RECT first = win.view->Menu().ItemRect(0);
  ::SendMessageW(win.Handle(win.form().TeMenuBar1), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((first.left + first.right) / 2, (first.top + first.bottom) / 2));
  win.Pump();
  EXPECT_EQ(win.base.ports.calls, before + 1);
  EXPECT_EQ(shown, (std::vector<std::string>{"Port", "BaudRate"}));
  EXPECT_EQ(port_items, (std::vector<std::string>{"COM1 *", "COM7"}));
  EXPECT_TRUE(win.Writes().empty());
}

TEST(WindowInput, AHighlightedPortItemShowsWhatTheSystemKnowsOfItInTheStatusBar) {
  Win32Window win;
  win.base.ports.descriptions["COM3"] = "USB Serial Port (COM3)";
  HWND status = win.Handle(win.form().StatusBar1);
  wchar_t shown[64] = {};  // in simple mode, part 0 is the simple part
  InMenu([&](HWND menu) {
    HMENU ports = ::GetSubMenu(reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0)), 0);
    ::SendMessageW(win.view->Window(), WM_MENUSELECT, MAKEWPARAM(::GetMenuItemID(ports, 1), 0),
                   reinterpret_cast<LPARAM>(ports));
    if (::SendMessageW(status, SB_ISSIMPLE, 0, 0))
      ::SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(shown));
    ::EndMenu();
  });
  const RECT first = win.view->Menu().ItemRect(0);
  ::SendMessageW(win.Handle(win.form().TeMenuBar1), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((first.left + first.right) / 2, (first.top + first.bottom) / 2));
  win.Pump();
  EXPECT_EQ(win32::Utf8(shown), "USB Serial Port (COM3)");
  EXPECT_EQ(::SendMessageW(status, SB_ISSIMPLE, 0, 0), 0) << "closed: the panels again";
}

TEST(WindowInput, TheKeyboardOpensAMenuAndItsCommandRunsOnceTheMenuHasClosed) {
  Win32Window win;
  HWND bar = win.Handle(win.form().TeMenuBar1);
  std::vector<std::string> shown;
  bool ran_inside = false;
  InMenu([&](HWND menu) {
    shown = Items(reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0)));
    ran_inside = win.form().CustomItem5.Caption() != "Start";
    // The first item is selected: Enter chooses it.
    ::PostMessageW(win.view->Window(), WM_KEYDOWN, VK_RETURN, 1);
  });
  // Alt, Right to "Search", Down opens it on its first item.
  ::SetFocus(win.Handle(win.form().TeSpinEdit1));
  win.Key(VK_MENU, nullptr, true);
  ASSERT_EQ(::GetFocus(), bar);
  win.Key(VK_RIGHT, bar);
  win.Key(VK_DOWN, bar);
  EXPECT_EQ(shown, (std::vector<std::string>{"Start", "Delay"}));
  EXPECT_FALSE(ran_inside) << "the command waits until its menu has closed";
  // "Start": the search runs.
  EXPECT_EQ(win.form().CustomItem5.Caption(), "Stop");
  EXPECT_EQ(win.form().State.SessionMode, 254);
  EXPECT_FALSE(win.view->Menu().Active());
}

// Every item of a menu and of its submenus, as "container/caption" with " *" when
// checked, in order.
void Tree(HMENU menu, const std::string& container, std::vector<std::string>& out) {
  const std::vector<std::string> items = Items(menu);
  for (std::size_t i = 0; i < items.size(); ++i) {
    out.push_back(container + "/" + items[i]);
    if (HMENU sub = ::GetSubMenu(menu, static_cast<int>(i))) {
      std::string caption = items[i];
      if (caption.size() > 2 && caption.substr(caption.size() - 2) == " *")
        caption.resize(caption.size() - 2);
      Tree(sub, caption, out);
    }
  }
}

TEST(WindowInput, ControlsThatOverlapLieInTheDefinitionsOrder) {
  Win32Window win;
  TForm1& f = win.form();
  // The search shows the progress bar, which lies over the log.
  f.CustomItem5.Click();
  ASSERT_TRUE(f.TeProgressBar1.Visible());
  const struct {
    const char* what;
    const TControl* at;   // the middle of this control
    const TControl* top;  // is this one's
  } overlaps[] = {
      {"the progress bar over the log", &f.TeProgressBar1, &f.TeProgressBar1},
      {"\"to\" under the \"-->\" button", &f.TeLabel6, &f.TeButton1},
      {"a label over its group box", &f.TeLabel4, &f.TeLabel4},
      {"the status grid over the outer group box", &f.StatusGrid, &f.StatusGrid},
  };
  for (const auto& o : overlaps) {
    SCOPED_TRACE(o.what);
    const RECT r = win.view->PlacedRect(*o.at);
    const POINT middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    EXPECT_EQ(::ChildWindowFromPointEx(win.view->Client(), middle, CWP_SKIPINVISIBLE),
              win.Handle(*o.top));
  }
  f.CustomItem5.Click();  // stop
  EXPECT_FALSE(f.TeProgressBar1.Visible());
  EXPECT_EQ(::GetWindowLongW(win.Handle(f.TeProgressBar1), GWL_STYLE) & WS_VISIBLE, 0);
}

TEST(WindowInput, TheMenusHoldTheDefinitionsTreeWithItsCaptionsAndCheckMarks) {
  Win32Window win;
  // The definition's tree, as the Qt window's test has it, by the items' captions.
  std::map<std::string, std::string> caption_of = {{"TeMenuBar1", "bar"}};
  for (const auto& e : kMenu) caption_of[e.name] = e.caption;
  std::vector<std::string> defined;
  for (const auto& e : kMenu) {
    if (std::string(e.container) == "TeMenuBar1") continue;
    defined.push_back(caption_of[e.container] + "/" + e.caption + (e.checked ? " *" : ""));
  }
  // The Port submenu is filled at run time by port discovery: its items follow "Port".
  std::vector<std::string> shown;
  for (int top = 0; top < 2; ++top) {
    InMenu([&](HWND menu) {
      const std::string name = top == 0 ? "Connection" : "Search";
      Tree(reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0)), name, shown);
      ::EndMenu();
    });
    const RECT r = win.view->Menu().ItemRect(top);
    ::SendMessageW(win.Handle(win.form().TeMenuBar1), WM_LBUTTONDOWN, MK_LBUTTON,
                   MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    win.Pump();
  }
  std::vector<std::string> expected;
  for (const std::string& d : defined) {
    expected.push_back(d);
    if (d == "Connection/Port")
      for (const char* port : {"Port/COM1 *", "Port/COM3"}) expected.push_back(port);
  }
  EXPECT_EQ(shown, expected);
}

TEST(WindowInput, AltWithAMenusFirstLetterOpensThatMenu) {
  const struct {
    wchar_t letter;
    std::vector<std::string> items;
  } menus[] = {{L's', {"Start", "Delay"}}, {L'C', {"Port", "BaudRate"}}};
  for (const auto& m : menus) {
    SCOPED_TRACE(static_cast<char>(m.letter));
    Win32Window win;
    std::vector<std::string> shown;
    InMenu([&](HWND menu) {
      shown = Items(reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0)));
      ::EndMenu();
    });
    ::SetFocus(win.Handle(win.form().TeButton3));
    win.SysChar(m.letter);
    EXPECT_EQ(shown, m.items);
    EXPECT_TRUE(win.Writes().empty());
  }
}

TEST(WindowInput, ACaptionThatChangesWhileItsMenuIsOpenIsShownAtOnce) {
  Win32Window win;
  std::vector<std::string> before, after;
  InMenu([&](HWND menu) {
    auto popup = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
    before = Items(popup);
    // The search starts meanwhile (here: its caption, as the search sets it).
    win.form().CustomItem5.SetCaption("Stop");
    win.form().CustomItem7.SetChecked(true);
    after = Items(popup);
    after.push_back(Items(::GetSubMenu(popup, 1))[0]);
    ::EndMenu();
  });
  const RECT search = win.view->Menu().ItemRect(1);
  ::SendMessageW(win.Handle(win.form().TeMenuBar1), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((search.left + search.right) / 2, (search.top + search.bottom) / 2));
  win.Pump();
  EXPECT_EQ(before, (std::vector<std::string>{"Start", "Delay"}));
  EXPECT_EQ(after, (std::vector<std::string>{"Stop", "Delay", "100ms *"}));
  EXPECT_TRUE(win.Writes().empty());
}

TEST(WindowInput, OnAShortScreenTheWindowScrollsAndTheWheelOverTheSpeedListScrollsIt) {
  Win32Window win(480);
  HWND window = win.view->Window();
  const int dpi = win.view->Dpi();
  auto at = [dpi](int v) { return ::MulDiv(v, dpi, 96); };
  EXPECT_EQ(win.form().OuterHeight, 455);
  RECT outer{}, client{}, inner{};
  ::GetWindowRect(window, &outer);
  ::GetClientRect(window, &client);
  ::GetWindowRect(win.view->Client(), &inner);
  EXPECT_EQ(outer.bottom - outer.top, at(455));
  EXPECT_NE(::GetWindowLongW(window, GWL_STYLE) & WS_VSCROLL, 0);
  // Wider by the scroll bar: the client area stays 434 wide beside it; the controls'
  // area keeps its 534 and scrolls.
  EXPECT_EQ(client.right, at(434));
  EXPECT_EQ(inner.bottom - inner.top, at(534));
  const int top = inner.top;
  ::SendMessageW(win.Handle(win.form().TeSComboBox1), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA),
                 0);
  ::GetWindowRect(win.view->Client(), &inner);
  EXPECT_LT(inner.top, top) << "the wheel over the speed list scrolled the window";
  EXPECT_EQ(win.form().TeSComboBox1.ItemIndex(), 3);
  // The scroll bar's ends: the top of the controls, and their bottom at the window's.
  ::SendMessageW(window, WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
  ::GetWindowRect(win.view->Client(), &inner);
  POINT bottom{0, client.bottom};
  ::ClientToScreen(window, &bottom);
  EXPECT_EQ(inner.bottom, bottom.y);
  ::SendMessageW(window, WM_VSCROLL, MAKEWPARAM(SB_TOP, 0), 0);
  ::GetWindowRect(win.view->Client(), &inner);
  EXPECT_EQ(inner.top, top);
  EXPECT_TRUE(win.Writes().empty());
}

}  // namespace
}  // namespace ornat::testing
