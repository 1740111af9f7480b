#include "win32/speed_list.h"

#include <commctrl.h>
#include <windowsx.h>

#include <vector>

#include "text/wide.h"
#include "win32/dpi.h"

namespace ornat::win32 {

namespace {
constexpr UINT_PTR kSubclassId = 0x5e2;
constexpr int kItemHeight = 16;
constexpr int kClosedHeight = 22;
}  // namespace

SpeedListBinding::SpeedListBinding(TTeSComboBox& model, const ViewContext& ctx, HWND parent, int id)
    : model_(model), ctx_(ctx) {
  combo_ = ::CreateWindowExW(0, L"COMBOBOX", L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | WS_VSCROLL |
                                 CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
                             0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             ::GetModuleHandleW(nullptr), nullptr);
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (::GetComboBoxInfo(combo_, &info)) list_ = info.hwndList;
  ::SetWindowSubclass(combo_, &SpeedListBinding::ComboProc, kSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
  if (list_ != nullptr)
    ::SetWindowSubclass(list_, &SpeedListBinding::ListProc, kSubclassId,
                        reinterpret_cast<DWORD_PTR>(this));
  Mirror();
}

SpeedListBinding::~SpeedListBinding() {
  ::RemoveWindowSubclass(combo_, &SpeedListBinding::ComboProc, kSubclassId);
  if (list_ != nullptr) ::RemoveWindowSubclass(list_, &SpeedListBinding::ListProc, kSubclassId);
}

void SpeedListBinding::Measure(MEASUREITEMSTRUCT& m, int dpi) {
  m.itemHeight = static_cast<UINT>(Scale(kItemHeight, dpi));
}

void SpeedListBinding::Place(const RECT& r) {
  const int dpi = ctx_.dpi;
  const int items = static_cast<int>(model_.Items().size());
  // The height given is that of the dropped list; the closed box's comes from its
  // field, which is made as high as the box must be less its frame.
  ::SetWindowPos(combo_, nullptr, r.left, r.top, r.right - r.left,
                 Scale(kClosedHeight, dpi) + Scale(kItemHeight, dpi) * items + Scale(4, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::SendMessageW(combo_, CB_SETITEMHEIGHT, 0, Scale(kItemHeight, dpi));
  const int want = r.bottom - r.top;
  int field = want - 6;
  for (int attempt = 0; attempt < 3; ++attempt) {
    ::SendMessageW(combo_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    RECT now{};
    ::GetWindowRect(combo_, &now);
    const int got = now.bottom - now.top;
    if (got == want || field <= 1) break;
    field += want - got;
  }
}

void SpeedListBinding::Mirror() {
  mirroring_ = true;
  const auto& items = model_.Items();
  bool same = ::SendMessageW(combo_, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(items.size());
  for (std::size_t i = 0; same && i < items.size(); ++i) {
    wchar_t buf[64] = {};
    if (::SendMessageW(combo_, CB_GETLBTEXTLEN, i, 0) >= 63) {
      same = false;
      break;
    }
    ::SendMessageW(combo_, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
    same = Wide(items[i]) == buf;
  }
  if (!same) {
    ::SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    for (const auto& s : items)
      ::SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(s).c_str()));
  }
  if (::SendMessageW(combo_, CB_GETCURSEL, 0, 0) != model_.ItemIndex())
    ::SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(model_.ItemIndex()), 0);
  mirroring_ = false;
}

bool SpeedListBinding::Dropped() const {
  return ::SendMessageW(combo_, CB_GETDROPPEDSTATE, 0, 0) != FALSE;
}

void SpeedListBinding::Command(WORD code) {
  if (mirroring_) return;
  switch (code) {
    case CBN_SELENDOK:
      if (picked_) {
        picked_ = false;
        const int index = static_cast<int>(::SendMessageW(combo_, CB_GETCURSEL, 0, 0));
        if (index >= 0) ctx_.gate->Enter([this, index] { model_.Select(index); });
      }
      Mirror();
      break;
    case CBN_SELENDCANCEL:
    case CBN_CLOSEUP:
      picked_ = false;
      Mirror();
      break;
    case CBN_SELCHANGE:
      // The dropped list follows the keys; a closed one never changes by itself.
      if (!Dropped()) Mirror();
      break;
    default:
      break;
  }
}

void SpeedListBinding::Draw(const DRAWITEMSTRUCT& d) {
  HDC dc = d.hDC;
  const bool selected = (d.itemState & ODS_SELECTED) != 0;
  const bool field = (d.itemState & ODS_COMBOBOXEDIT) != 0;
  const bool highlight = selected && (!field || ::GetFocus() == combo_);
  ::FillRect(dc, &d.rcItem, ::GetSysColorBrush(highlight ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (d.itemID == static_cast<UINT>(-1)) return;
  const int length = static_cast<int>(::SendMessageW(combo_, CB_GETLBTEXTLEN, d.itemID, 0));
  if (length <= 0) return;
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::SendMessageW(combo_, CB_GETLBTEXT, d.itemID, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  ::SetBkMode(dc, TRANSPARENT);
  const bool enabled = (d.itemState & ODS_DISABLED) == 0;
  ::SetTextColor(dc, ::GetSysColor(!enabled    ? COLOR_GRAYTEXT
                                   : highlight ? COLOR_HIGHLIGHTTEXT
                                               : COLOR_WINDOWTEXT));
  RECT r = d.rcItem;
  ::DrawTextW(dc, text.c_str(), length, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if ((d.itemState & ODS_FOCUS) != 0 && !field) ::DrawFocusRect(dc, &d.rcItem);
}

LRESULT CALLBACK SpeedListBinding::ComboProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                             DWORD_PTR ref) {
  auto* self = reinterpret_cast<SpeedListBinding*>(ref);
  switch (msg) {
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      // Dropped, the wheel scrolls the list (it picks nothing); closed, it would step
      // the selection: it goes to the window.
      if (self->Dropped() && self->list_ != nullptr)
        return ::SendMessageW(self->list_, msg, wp, lp);
      self->ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    case WM_KEYDOWN:
      if (self->Dropped()) {
        if (wp == VK_RETURN) self->picked_ = true;
        break;
      }
      switch (wp) {
        case VK_UP:
        case VK_DOWN:
        case VK_LEFT:
        case VK_RIGHT:
        case VK_PRIOR:
        case VK_NEXT:
        case VK_HOME:
        case VK_END:
          if (::GetKeyState(VK_CONTROL) < 0) return 0;
          ::SendMessageW(hwnd, CB_SHOWDROPDOWN, TRUE, 0);
          return 0;
        default:
          break;
      }
      break;
    case WM_SYSKEYDOWN:
      // Alt+Down and Alt+Up open and close the list as F4 does.
      break;
    case WM_CHAR:
      if (!self->Dropped()) {
        if (wp >= 0x20 && wp != 0x7F) ::SendMessageW(hwnd, CB_SHOWDROPDOWN, TRUE, 0);
        return 0;
      }
      // Dropped: a typed digit moves to an item as the arrows do; Enter is the pick.
      if (wp == L'\r') self->picked_ = true;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK SpeedListBinding::ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                            DWORD_PTR ref) {
  auto* self = reinterpret_cast<SpeedListBinding*>(ref);
  if (msg == WM_LBUTTONUP) {
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    // A release over an item of the list: a pick.
    if (::PtInRect(&client, p)) {
      const LRESULT hit = ::SendMessageW(hwnd, LB_ITEMFROMPOINT, 0, lp);
      if (HIWORD(hit) == 0) self->picked_ = true;
    }
  }
  if (msg == WM_KEYDOWN && wp == VK_RETURN) self->picked_ = true;
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace ornat::win32
