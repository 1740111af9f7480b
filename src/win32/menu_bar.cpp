#include "win32/menu_bar.h"

#include <windowsx.h>

#include <functional>
#include <optional>

#include "text/wide.h"
#include "win32/dpi.h"
#include "win32/window_owner.h"

namespace ornat::win32 {

namespace {
constexpr const wchar_t* kClass = L"OrnatMenuBar";
constexpr int kPadding = 6;  // left and right of a caption, at 96 dpi
thread_local MenuBar* g_tracking = nullptr;

// "&" in a caption is a character, not a mnemonic.
std::wstring MenuText(const std::string& caption) {
  std::wstring out;
  for (wchar_t c : Wide(caption)) {
    out += c;
    if (c == L'&') out += L'&';
  }
  return out;
}

int ShiftOf(WPARAM keys) {
  int shift = 0;
  if (keys & MK_SHIFT) shift |= 1;
  if (::GetKeyState(VK_MENU) < 0) shift |= 2;
  if (keys & MK_CONTROL) shift |= 4;
  if (keys & MK_LBUTTON) shift |= 8;
  if (keys & MK_RBUTTON) shift |= 16;
  if (keys & MK_MBUTTON) shift |= 32;
  return shift;
}
}  // namespace

MenuBar::MenuBar(TTeMenuBar& model, const ViewContext& ctx, HWND parent)
    : model_(model), ctx_(ctx) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &MenuBar::Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClass;
  ::RegisterClassExW(&wc);
  hwnd_ = ::CreateWindowExW(0, kClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, 0,
                            0, 0, 0, parent, nullptr, wc.hInstance, this);
  Mirror();
}

MenuBar::~MenuBar() {
  if (hook_ != nullptr) ::UnhookWindowsHookEx(hook_);
  if (g_tracking == this) g_tracking = nullptr;
  DestroyBuilt();
  if (hwnd_ != nullptr) ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
}

int MenuBar::ItemCount() const {
  return static_cast<int>(const_cast<TTeMenuBar&>(model_).Items().Count());
}

RECT MenuBar::ItemRect(int i) const {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  int x = 0;
  TTeItem& root = const_cast<TTeMenuBar&>(model_).Items();
  for (int k = 0; k < ItemCount(); ++k) {
    const int w =
        FontSet::TextWidth(font_, MenuText(root.Item(static_cast<std::size_t>(k))->Caption())) +
        2 * Scale(kPadding, ctx_.dpi);
    if (k == i) return RECT{x, 0, x + w, client.bottom};
    x += w;
  }
  return RECT{x, 0, x, client.bottom};
}

int MenuBar::ItemsWidth() const {
  return ItemRect(ItemCount()).left;
}

int MenuBar::ItemAt(POINT p) const {
  for (int i = 0; i < ItemCount(); ++i) {
    const RECT r = ItemRect(i);
    if (::PtInRect(&r, p)) return i;
  }
  return -1;
}

void MenuBar::Place(const RECT& r, HFONT font) {
  font_ = font;
  const int width = std::max<int>(r.right - r.left, ItemsWidth());
  ::SetWindowPos(hwnd_, nullptr, r.left, r.top, width, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void MenuBar::Mirror() {
  std::wstring text;
  TTeItem& root = model_.Items();
  for (std::size_t k = 0; k < root.Count(); ++k) {
    if (k > 0) text += L' ';
    text += Wide(root.Item(k)->Caption());
  }
  ::SetWindowTextW(hwnd_, text.c_str());
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void MenuBar::ItemChanged(TTeItem* item) {
  if (item == &model_.Items()) {
    Mirror();
    if (tracking_) ::EndMenu();
    return;
  }
  if (item->Parent() == &model_.Items()) Mirror();
  if (!tracking_) return;
  // An open menu shows the change at once.
  auto shown = built_.find(item);
  if (shown != built_.end()) {
    const auto [menu, position] = shown->second;
    std::wstring text = MenuText(item->Caption());
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_STATE | MIIM_ID | MIIM_SUBMENU;
    ::GetMenuItemInfoW(menu, position, TRUE, &info);
    info.fMask = MIIM_STRING | MIIM_STATE;
    info.dwTypeData = text.data();
    info.fState = item->Checked() ? MFS_CHECKED : MFS_UNCHECKED;
    ::SetMenuItemInfoW(menu, position, TRUE, &info);
    auto command = commands_.find(info.wID);
    if (info.hSubMenu == nullptr && command != commands_.end() && command->second.item == item)
      command->second.caption = item->Caption();
  }
  // A menu whose items come or go is closed rather than shown with items that are gone.
  for (const auto& [shown_item, where] : built_) {
    if (shown_item != item) continue;
    const int count = ::GetMenuItemCount(::GetSubMenu(where.first, static_cast<int>(where.second)));
    if (item->Count() > 0 && count != static_cast<int>(item->Count())) ::EndMenu();
  }
  if (item->Count() == 0 && shown != built_.end() &&
      ::GetSubMenu(shown->second.first, static_cast<int>(shown->second.second)) != nullptr)
    ::EndMenu();
}

HMENU MenuBar::Build(TTeItem& item) {
  HMENU menu = ::CreatePopupMenu();
  menus_.push_back(menu);
  for (std::size_t k = 0; k < item.Count(); ++k) {
    TTeItem* child = item.Item(k);
    const std::wstring text = MenuText(child->Caption());
    const UINT checked = child->Checked() ? MF_CHECKED : MF_UNCHECKED;
    if (child->Count() > 0) {
      HMENU sub = Build(*child);
      ::AppendMenuW(menu, MF_STRING | MF_POPUP | checked, reinterpret_cast<UINT_PTR>(sub),
                    text.c_str());
    } else {
      const UINT id = next_id_++;
      commands_[id] = Command{child, child->Caption(), child->Hint()};
      ::AppendMenuW(menu, MF_STRING | checked, id, text.c_str());
    }
    built_[child] = {menu, static_cast<UINT>(k)};
  }
  return menu;
}

void MenuBar::DestroyBuilt() {
  // Destroying the root destroys its submenus too.
  if (!menus_.empty() && ::IsMenu(menus_.front())) ::DestroyMenu(menus_.front());
  menus_.clear();
  built_.clear();
  root_popup_ = nullptr;
}

bool MenuBar::InTree(const TTeItem* item) const {
  std::function<bool(const TTeItem&)> has = [&](const TTeItem& parent) {
    for (std::size_t k = 0; k < parent.Count(); ++k) {
      if (parent.Item(k) == item || has(*parent.Item(k))) return true;
    }
    return false;
  };
  return has(const_cast<TTeMenuBar&>(model_).Items());
}

bool MenuBar::StillShown(const Command& c) const {
  return InTree(c.item) && c.item->Caption() == c.caption;
}

void MenuBar::SetHot(int i) {
  if (hot_ == i) return;
  hot_ = i;
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void MenuBar::Activate() {
  if (active_) return;
  HWND focus = ::GetFocus();
  focus_before_ = focus != hwnd_ ? focus : nullptr;
  active_ = true;
  ::SetFocus(hwnd_);
  SetHot(0);
}

void MenuBar::Deactivate(bool restore_focus) {
  const bool was = active_;
  active_ = false;
  SetHot(-1);
  HWND back = focus_before_;
  focus_before_ = nullptr;
  if (was && restore_focus && back != nullptr && ::IsWindow(back) && ::IsWindowVisible(back) &&
      ::IsWindowEnabled(back))
    ::SetFocus(back);
}

void MenuBar::ToggleActive() {
  if (active_)
    Deactivate(true);
  else
    Activate();
}

bool MenuBar::OpenByLetter(wchar_t letter) {
  TTeItem& root = model_.Items();
  const auto up = [](wchar_t c) {
    return static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(
        ::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(c)))));
  };
  for (std::size_t k = 0; k < root.Count(); ++k) {
    const std::wstring caption = Wide(root.Item(k)->Caption());
    if (!caption.empty() && up(caption[0]) == up(letter)) {
      Activate();
      SetHot(static_cast<int>(k));
      Track(static_cast<int>(k), true);
      return true;
    }
  }
  return false;
}

void MenuBar::MenuSelect(WPARAM wp, LPARAM lp) {
  if (!tracking_) return;
  const UINT flags = HIWORD(wp);
  if (flags == 0xFFFF && lp == 0) {  // the menu closes
    ShowHint("");
    return;
  }
  current_menu_ = reinterpret_cast<HMENU>(lp);
  current_is_popup_ = (flags & MF_POPUP) != 0;
  const auto command = commands_.find(LOWORD(wp));
  ShowHint(!current_is_popup_ && command != commands_.end() ? command->second.hint : "");
}

void MenuBar::Track(int i, bool select_first) {
  const int n = ItemCount();
  if (i < 0 || i >= n || tracking_) return;
  tracking_ = true;
  int current = i;
  bool first = select_first;
  std::optional<Command> chosen;
  for (;;) {
    open_ = current;
    SetHot(current);
    ::UpdateWindow(hwnd_);
    commands_.clear();
    next_id_ = 1;
    root_popup_ = Build(*model_.Items().Item(static_cast<std::size_t>(current)));
    current_menu_ = root_popup_;
    current_is_popup_ = false;
    switch_to_ = -1;
    switch_by_press_ = false;
    switch_by_key_ = false;
    escaped_ = false;
    leave_bar_ = false;
    RECT r = ItemRect(current);
    ::MapWindowPoints(hwnd_, nullptr, reinterpret_cast<POINT*>(&r), 2);
    TPMPARAMS params{};
    params.cbSize = sizeof params;
    params.rcExclude = r;
    // Opened from the keyboard, the menu starts on its first item.
    if (first) ::PostMessageW(ctx_.main, WM_KEYDOWN, VK_DOWN, 0);
    g_tracking = this;
    hook_ = ::SetWindowsHookExW(WH_MSGFILTER, &MenuBar::Filter, nullptr, ::GetCurrentThreadId());
    const UINT id = static_cast<UINT>(::TrackPopupMenuEx(
        root_popup_, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD | TPM_VERTICAL,
        r.left, r.bottom, ctx_.main, &params));
    if (hook_ != nullptr) ::UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    g_tracking = nullptr;
    ShowHint("");
    auto command = commands_.find(id);
    if (id != 0 && command != commands_.end()) chosen = command->second;
    DestroyBuilt();
    commands_.clear();
    if (id != 0 || switch_to_ < 0) break;
    current = switch_to_;
    if (switch_by_press_) {
      // A press on the bar's other menu: the bar's press handler first, as for any press.
      const int shift = 8 | (::GetKeyState(VK_SHIFT) < 0 ? 1 : 0);
      ctx_.gate->Enter([this, shift] { model_.MouseDown(TMouseButton::mbLeft, shift, 0, 0); });
      if (current >= ItemCount()) break;
    }
    // Left and Right open the next menu on its first item, as the keys opened it.
    first = switch_by_key_;
  }
  tracking_ = false;
  open_ = -1;
  const bool escaped = escaped_ && !chosen;
  if (escaped && !leave_bar_) {
    // Esc in a menu: back to the bar, its menu highlighted.
    if (!active_) {
      HWND focus = ::GetFocus();
      focus_before_ = focus != hwnd_ ? focus : nullptr;
      active_ = true;
    }
    ::SetFocus(hwnd_);
    ::InvalidateRect(hwnd_, nullptr, TRUE);
  } else {
    Deactivate(true);
  }
  SetHot(escaped && !leave_bar_ ? current : -1);
  if (chosen && StillShown(*chosen)) {
    TTeItem* item = chosen->item;
    ctx_.gate->Enter([this, item, caption = chosen->caption] {
      // Still there and still what was picked when the gate lets it run.
      if (StillShown(Command{item, caption, {}})) item->Click();
    });
  }
}

bool MenuBar::OnMenuMessage(const MSG& msg) {
  const int n = ItemCount();
  switch (msg.message) {
    case WM_KEYDOWN:
      if (msg.wParam == VK_LEFT && current_menu_ == root_popup_) {
        switch_to_ = (open_ + n - 1) % n;
        switch_by_key_ = true;
        ::EndMenu();
        return true;
      }
      if (msg.wParam == VK_RIGHT && !current_is_popup_) {
        switch_to_ = (open_ + 1) % n;
        switch_by_key_ = true;
        ::EndMenu();
        return true;
      }
      if (msg.wParam == VK_ESCAPE && current_menu_ == root_popup_) escaped_ = true;
      if (msg.wParam == VK_F10) {
        leave_bar_ = true;
        ::EndMenu();
        return true;
      }
      return false;
    case WM_SYSKEYDOWN:
      if (msg.wParam == VK_MENU || msg.wParam == VK_F10) {
        leave_bar_ = true;
        ::EndMenu();
        return true;
      }
      return false;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_NCMOUSEMOVE:
    case WM_NCLBUTTONDOWN: {
      POINT p = msg.pt;
      ::ScreenToClient(hwnd_, &p);
      RECT client{};
      ::GetClientRect(hwnd_, &client);
      if (!::PtInRect(&client, p)) return false;
      const int j = ItemAt(p);
      const bool press = msg.message == WM_LBUTTONDOWN || msg.message == WM_NCLBUTTONDOWN;
      if (j < 0) return press;
      if (j == open_) {
        if (!press) return false;
        // A press on the open menu's own caption closes it.
        leave_bar_ = true;
        ::EndMenu();
        return true;
      }
      switch_to_ = j;
      switch_by_press_ = press;
      ::EndMenu();
      return true;
    }
    default:
      return false;
  }
}

LRESULT CALLBACK MenuBar::Filter(int code, WPARAM wp, LPARAM lp) {
  if (code == MSGF_MENU && g_tracking != nullptr && lp != 0) {
    if (g_tracking->OnMenuMessage(*reinterpret_cast<MSG*>(lp))) return TRUE;
  }
  return ::CallNextHookEx(nullptr, code, wp, lp);
}

void MenuBar::Paint(HDC dc) {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ old = ::SelectObject(dc, font_);
  ::SetBkMode(dc, TRANSPARENT);
  TTeItem& root = model_.Items();
  for (int k = 0; k < ItemCount(); ++k) {
    RECT r = ItemRect(k);
    const bool hot = k == hot_ && (tracking_ || active_);
    if (hot) ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    ::SetTextColor(dc, ::GetSysColor(hot ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    const std::wstring text = MenuText(root.Item(static_cast<std::size_t>(k))->Caption());
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ::SelectObject(dc, old);
}

LRESULT MenuBar::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd_, &ps);
      Paint(dc);
      ::EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wp));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      if (::GetFocus() != hwnd_) ::SetFocus(hwnd_);
      const TMouseButton button = msg == WM_LBUTTONDOWN   ? TMouseButton::mbLeft
                                  : msg == WM_RBUTTONDOWN ? TMouseButton::mbRight
                                                          : TMouseButton::mbMiddle;
      const int shift = ShiftOf(wp);
      const int x = Unscale(p.x, ctx_.dpi), y = Unscale(p.y, ctx_.dpi);
      // The press reaches the window's handler (port discovery) before a menu opens.
      ctx_.gate->Enter([this, button, shift, x, y] { model_.MouseDown(button, shift, x, y); });
      if (msg == WM_LBUTTONDOWN) {
        const int i = ItemAt(p);
        if (i >= 0) Track(i, false);
      }
      return 0;
    }
    case WM_KEYDOWN: {
      const int n = ItemCount();
      if (n == 0) break;
      switch (wp) {
        case VK_LEFT:
        case VK_RIGHT:
          if (!active_) Activate();
          SetHot((hot_ < 0 ? 0 : hot_ + (wp == VK_RIGHT ? 1 : n - 1)) % n);
          return 0;
        case VK_DOWN:
        case VK_UP:
        case VK_RETURN:
        case VK_SPACE:
          if (!active_) Activate();
          Track(hot_ < 0 ? 0 : hot_, true);
          return 0;
        case VK_ESCAPE:
          if (active_) Deactivate(true);
          return 0;
        default:
          break;
      }
      break;
    }
    case WM_CHAR:
      if (wp > L' ' && OpenByLetter(static_cast<wchar_t>(wp))) return 0;
      return 0;
    case WM_KILLFOCUS:
      if (active_ && !tracking_) {
        active_ = false;
        focus_before_ = nullptr;
        SetHot(-1);
      }
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK MenuBar::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return ToWindowOwner(hwnd, msg, wp, lp, &MenuBar::hwnd_, &MenuBar::OnMessage);
}

}  // namespace ornat::win32
