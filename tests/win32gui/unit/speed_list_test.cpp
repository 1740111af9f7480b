// The speed list in the Win32 window: a change of the detector's speed is sent for a
// pick from the dropped-down list only (a click on an item, Enter on the item the
// keys moved to). On the closed list the keys that would step a Windows combo box
// drop it down instead, the wheel goes to the window; a list closed without a pick
// (Esc, F4, the focus leaving) shows the model's item again.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32_window.h"

namespace ornat::testing {
namespace {

struct Keys {
  const char* what;
  std::vector<UINT> keys;  // WM_KEYDOWN on the combo box, one after the other
  bool dropped;            // dropped down afterwards
  int picked;              // the item sent, or -1
};

TEST(SpeedList, OnlyAPickFromTheDroppedListChangesTheSpeed) {
  const Keys cases[] = {
      {"Down on the closed list", {VK_DOWN}, true, -1},
      {"Up on the closed list", {VK_UP}, true, -1},
      {"Right on the closed list", {VK_RIGHT}, true, -1},
      {"Left on the closed list", {VK_LEFT}, true, -1},
      {"Page Down on the closed list", {VK_NEXT}, true, -1},
      {"Page Up on the closed list", {VK_PRIOR}, true, -1},
      {"Home on the closed list", {VK_HOME}, true, -1},
      {"End on the closed list", {VK_END}, true, -1},
      {"two steps down in the dropped list", {VK_DOWN, VK_DOWN, VK_DOWN}, true, -1},
      {"two steps down and Escape", {VK_DOWN, VK_DOWN, VK_DOWN, VK_ESCAPE}, false, -1},
      {"two steps down and F4", {VK_DOWN, VK_DOWN, VK_DOWN, VK_F4}, false, -1},
      {"two steps down and Enter", {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}, false, 5},
      {"one step up and Enter", {VK_DOWN, VK_UP, VK_RETURN}, false, 2},
  };
  for (const Keys& k : cases) {
    SCOPED_TRACE(k.what);
    Win32Window win;
    TTeSComboBox& model = win.form().TeSComboBox1;
    HWND combo = win.Handle(model);
    std::vector<int> picks;
    model.OnChange = [&](TObject*) { picks.push_back(model.ItemIndex()); };
    ::SetFocus(combo);
    for (UINT vk : k.keys) ::SendMessageW(combo, WM_KEYDOWN, vk, 1);
    EXPECT_EQ(::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != 0, k.dropped);
    if (k.dropped) ::SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    if (k.picked < 0) {
      EXPECT_TRUE(picks.empty());
      EXPECT_EQ(model.ItemIndex(), 3);
    } else {
      EXPECT_EQ(picks, (std::vector<int>{k.picked}));
    }
    // Closed, the box shows the model's item.
    EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), model.ItemIndex());
  }
}

TEST(SpeedList, TypedCharactersDropTheClosedListDownAndTheWheelChangesNothing) {
  Win32Window win;
  TTeSComboBox& model = win.form().TeSComboBox1;
  HWND combo = win.Handle(model);
  int picks = 0;
  model.OnChange = [&](TObject*) { ++picks; };
  ::SetFocus(combo);
  ::SendMessageW(combo, WM_CHAR, L'1', 1);
  EXPECT_NE(::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), 0);
  ::SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  for (int delta : {WHEEL_DELTA, -WHEEL_DELTA, -3 * WHEEL_DELTA}) {
    ::SendMessageW(combo, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), 0);
    EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), 3);
  }
  // The focus leaving a list moved along closes it without a pick.
  ::SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 1);
  ::SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 1);
  ::SetFocus(win.Handle(win.form().TeButton1));
  EXPECT_EQ(::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), 0);
  EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), 3);
  EXPECT_EQ(picks, 0);
  EXPECT_EQ(model.ItemIndex(), 3);
  EXPECT_TRUE(win.Writes().empty());
}

TEST(SpeedList, AClickOnAnItemOfTheDroppedListIsAPick) {
  Win32Window win;
  TTeSComboBox& model = win.form().TeSComboBox1;
  HWND combo = win.Handle(model);
  std::vector<int> picks;
  model.OnChange = [&](TObject*) { picks.push_back(model.ItemIndex()); };
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(::GetComboBoxInfo(combo, &info));
  ::SetFocus(combo);
  ::SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  RECT item{};
  ASSERT_NE(::SendMessageW(info.hwndList, LB_GETITEMRECT, 6, reinterpret_cast<LPARAM>(&item)),
            LB_ERR);
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  ::SendMessageW(info.hwndList, WM_MOUSEMOVE, 0, at);
  ::SendMessageW(info.hwndList, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(info.hwndList, WM_LBUTTONUP, 0, at);
  win.Pump();
  EXPECT_EQ(picks, (std::vector<int>{6}));
  EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), 6);
}

}  // namespace
}  // namespace ornat::testing
