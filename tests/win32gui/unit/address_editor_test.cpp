// The address editors in the Win32 window: every change of the EDIT's text that Windows
// offers (a typed key, Backspace and Delete, the clipboard's text, EM_REPLACESEL and
// WM_SETTEXT from another program, undo, the wheel, the arrow keys and the up-down's
// buttons) reaches the model as the edit it is, and the model decides: only digits and
// "+", at most 3 characters, pasted text only as a number 1 to 247.

#include <gtest/gtest.h>

#include <string>

#include "text/wide.h"
#include "win32_window.h"

#include <commctrl.h>

namespace ornat::testing {
namespace {

void PutOnClipboard(HWND owner, const std::wstring& text) {
  ASSERT_TRUE(::OpenClipboard(owner));
  ::EmptyClipboard();
  HGLOBAL data = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  auto* p = static_cast<wchar_t*>(::GlobalLock(data));
  std::copy(text.c_str(), text.c_str() + text.size() + 1, p);
  ::GlobalUnlock(data);
  ::SetClipboardData(CF_UNICODETEXT, data);
  ::CloseClipboard();
}

struct Edit {
  const char* what;
  int sel_from, sel_to;  // the selection before the edit; -1: keep it
  UINT msg;
  WPARAM wp;
  const wchar_t* text;  // WM_SETTEXT / EM_REPLACESEL text, or the clipboard's for WM_PASTE
  const char* after;    // the model's (and the EDIT's) text afterwards
};

TEST(AddressEditor, EveryEditOfTheControlIsTheModelsToTakeOrRefuse) {
  const Edit edits[] = {
      {"a digit over the whole text", 0, 3, WM_CHAR, L'5', nullptr, "5"},
      {"a second digit after it", 1, 1, WM_CHAR, L'4', nullptr, "54"},
      {"a letter", 2, 2, WM_CHAR, L'x', nullptr, "54"},
      {"a minus", 2, 2, WM_CHAR, L'-', nullptr, "54"},
      {"a plus", 0, 0, WM_CHAR, L'+', nullptr, "+54"},
      {"a fourth character, wherever the caret is", 1, 1, WM_CHAR, L'1', nullptr, "+54"},
      {"Backspace before the caret", 1, 1, WM_CHAR, L'\b', nullptr, "54"},
      {"Delete after the caret", 0, 0, WM_KEYDOWN, VK_DELETE, nullptr, "4"},
      {"a pasted address over the selection", 0, 1, WM_PASTE, 0, L"12", "12"},
      {"pasted text that is no address", 0, 2, WM_PASTE, 0, L"300", "12"},
      {"pasted text with letters", 0, 2, WM_PASTE, 0, L"1a", "12"},
      {"a pasted 0", 0, 2, WM_PASTE, 0, L"0", "12"},
      {"a pasted address with blanks around it", 0, 2, WM_PASTE, 0, L" 9\r\n", "9"},
      {"pasted digits that would make no address", 1, 1, WM_PASTE, 0, L"12", "9"},
      {"another program's EM_REPLACESEL of an address", 0, 1, EM_REPLACESEL, TRUE, L"247", "247"},
      {"another program's EM_REPLACESEL of no address", 0, 3, EM_REPLACESEL, TRUE, L"abc", "247"},
      {"another program's WM_SETTEXT of an address", -1, -1, WM_SETTEXT, 0, L"17", "17"},
      {"another program's WM_SETTEXT of no address", -1, -1, WM_SETTEXT, 0, L"248", "17"},
      {"undo", -1, -1, WM_UNDO, 0, nullptr, "17"},
      {"EM_UNDO", -1, -1, EM_UNDO, 0, nullptr, "17"},
      {"the wheel up", -1, -1, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), nullptr, "17"},
      {"the wheel down", -1, -1, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), nullptr, "17"},
      {"the up arrow key", -1, -1, WM_KEYDOWN, VK_UP, nullptr, "18"},
      {"the down arrow key", -1, -1, WM_KEYDOWN, VK_DOWN, nullptr, "17"},
      {"cutting the selection", 0, 1, WM_CUT, 0, nullptr, "7"},
      {"clearing the selection", 0, 1, WM_CLEAR, 0, nullptr, ""},
  };
  Win32Window win;
  TTeSpinEdit& model = win.form().TeSpinEdit1;
  HWND edit = win.Handle(model);
  ASSERT_NE(edit, nullptr);
  int changes = 0;
  auto handler = model.OnChange;
  model.OnChange = [&](TObject* s) {
    ++changes;
    handler(s);
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.what);
    const std::string before = model.Text();
    const int changes_before = changes;
    if (e.sel_from >= 0) ::SendMessageW(edit, EM_SETSEL, e.sel_from, e.sel_to);
    LPARAM lp = 1;
    if (e.msg == WM_PASTE) PutOnClipboard(win.view->Window(), e.text);
    if (e.msg == WM_SETTEXT || e.msg == EM_REPLACESEL) lp = reinterpret_cast<LPARAM>(e.text);
    ::SendMessageW(edit, e.msg, e.wp, lp);
    EXPECT_EQ(model.Text(), e.after);
    EXPECT_EQ(win32::Utf8(WindowText(edit)), e.after) << "the EDIT shows the model's text";
    EXPECT_EQ(changes - changes_before, before == e.after ? 0 : 1);
  }
  // The address follows the editor (an empty one reads as the lower bound, 1); nothing
  // was sent.
  EXPECT_EQ(win.form().State.DeviceAddress, 1);
  EXPECT_TRUE(win.Writes().empty());
}

TEST(AddressEditor, TheUpDownButtonsStepTheValueWithinItsRange) {
  Win32Window win;
  TTeSpinEdit& model = win.form().TeSpinEdit2;
  const struct {
    int delta;
    const char* after;
  } steps[] = {{1, "247"}, {-1, "246"}, {-1, "245"}, {1, "246"}, {1, "247"}, {1, "247"}};
  HWND edit = win.Handle(model);
  HWND updown = nullptr;
  for (HWND w = ::GetWindow(::GetParent(edit), GW_CHILD); w != nullptr;
       w = ::GetWindow(w, GW_HWNDNEXT)) {
    wchar_t cls[32] = {};
    ::GetClassNameW(w, cls, 32);
    RECT e{}, r{};
    ::GetWindowRect(edit, &e);
    ::GetWindowRect(w, &r);
    if (std::wstring(cls) == UPDOWN_CLASSW && r.left >= e.left && r.right <= e.right) updown = w;
  }
  ASSERT_NE(updown, nullptr);
  for (const auto& s : steps) {
    SCOPED_TRACE(s.delta);
    NMUPDOWN n{};
    n.hdr.hwndFrom = updown;
    n.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(updown));
    n.hdr.code = UDN_DELTAPOS;
    n.iPos = 50;
    n.iDelta = s.delta;
    // The control keeps its own position: every press is the model's step.
    EXPECT_NE(
        ::SendMessageW(::GetParent(updown), WM_NOTIFY, n.hdr.idFrom, reinterpret_cast<LPARAM>(&n)),
        0);
    EXPECT_EQ(model.Text(), s.after);
  }
  // The wheel over the buttons does nothing.
  ::SendMessageW(updown, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
  EXPECT_EQ(model.Text(), "247");
  EXPECT_TRUE(win.Writes().empty());
}

TEST(AddressEditor, EnterAndLeavingTheFieldBringTheValueIntoRangeButTheWindowGoingInactiveDoesNot) {
  Win32Window win;
  TTeSpinEdit& model = win.form().TeSpinEdit1;
  HWND edit = win.Handle(model);
  std::vector<char> keys;
  model.OnKeyPress = [&](TObject* s, char& key) {
    keys.push_back(key);
    win.form().TeSpinEdit1KeyPress(s, key);
  };
  ::SendMessageW(edit, EM_SETSEL, 0, 3);
  ::SendMessageW(edit, WM_CHAR, L'0', 1);
  EXPECT_EQ(model.Text(), "0");
  // Enter: into range first, then the key handler.
  ::SendMessageW(edit, WM_CHAR, L'\r', 1);
  EXPECT_EQ(model.Text(), "1");
  EXPECT_EQ(keys, (std::vector<char>{'0', '\r'}));
  EXPECT_EQ(win.form().StatusBar1.PanelText(2), "DEVICE : A = 001; Baud = 9600;");
  // Losing the focus to nobody (another program, a message box) changes nothing; to
  // another control of the window it brings the value into range.
  ::SendMessageW(edit, EM_SETSEL, 0, 1);
  ::SendMessageW(edit, WM_CHAR, L'9', 1);
  ::SendMessageW(edit, WM_CHAR, L'9', 1);
  ::SendMessageW(edit, WM_CHAR, L'9', 1);
  EXPECT_EQ(model.Text(), "999");
  ::SendMessageW(edit, WM_KILLFOCUS, 0, 0);
  EXPECT_EQ(model.Text(), "999");
  ::SendMessageW(edit, WM_KILLFOCUS, reinterpret_cast<WPARAM>(win.Handle(win.form().TeButton1)), 0);
  EXPECT_EQ(model.Text(), "247");
  EXPECT_TRUE(win.Writes().empty());
}

}  // namespace
}  // namespace ornat::testing
