// The Win32 window's keyboard and focus: the message filter the message loop runs
// before dispatching (Tab and Shift+Tab from control to control, the arrow keys among
// the tactic buttons, Alt with a caption's underlined letter, Alt and F10 to the menu
// bar), and the keyboard focus kept the same in the window and in the form's
// FocusScope, whichever of them moved it.

#include "win32/main_view.h"

#include <algorithm>

#include "text/wide.h"
#include "win32/menu_bar.h"

namespace ornat::win32 {

namespace {
wchar_t Upper(wchar_t c) {
  return static_cast<wchar_t>(
      reinterpret_cast<UINT_PTR>(::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(c)))));
}

// The underlined letter of a caption, or 0.
wchar_t Mnemonic(const std::wstring& caption) {
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != L'&') continue;
    if (caption[i + 1] == L'&') {
      ++i;
      continue;
    }
    return caption[i + 1];
  }
  return 0;
}

}  // namespace

void MainView::MirrorFocus() {
  if (mirroring_focus_) return;
  TControl* active = form_.Focus.Active();
  HWND w = active != nullptr ? HandleOf(*active) : nullptr;
  if (w == nullptr || ::GetFocus() == w) return;
  ::SetFocus(w);
}

void MainView::NoteFocus(HWND hwnd) {
  Bound* b = BoundOf(hwnd);
  if (b == nullptr || form_.Focus.Active() == b->model) return;
  mirroring_focus_ = true;
  form_.Focus.Focus(b->model);
  mirroring_focus_ = false;
}

void MainView::MoveFocus(int step) {
  std::vector<Bound*> order;
  for (auto& b : bound_) {
    switch (b->kind) {
      case Kind::kMenuBar:
      case Kind::kSpeedList:
      case Kind::kSpinEdit:
      case Kind::kPushButton:
      case Kind::kCheckBox:
      case Kind::kRadioButton:
      case Kind::kGrid:
      case Kind::kMemo:
        if (::IsWindowVisible(b->hwnd) && ::IsWindowEnabled(b->hwnd)) order.push_back(b.get());
        break;
      default:
        break;
    }
  }
  if (order.empty()) return;
  const Bound* now = BoundOf(::GetFocus());
  int at = -1;
  for (std::size_t i = 0; i < order.size(); ++i)
    if (order[i] == now) at = static_cast<int>(i);
  const int n = static_cast<int>(order.size());
  const int next = at < 0 ? (step > 0 ? 0 : n - 1) : (at + step + n) % n;
  ::SetFocus(order[static_cast<std::size_t>(next)]->hwnd);
}

void MainView::MoveAmongRadios(Bound& from, int step) {
  std::vector<HWND> group;
  for (TTeRadioButton* r : form_.TacticGroup.Members()) {
    HWND w = HandleOf(*r);
    if (w != nullptr && ::IsWindowVisible(w) && ::IsWindowEnabled(w)) group.push_back(w);
  }
  auto it = std::find(group.begin(), group.end(), from.hwnd);
  if (it == group.end()) return;
  const int n = static_cast<int>(group.size());
  const int at = static_cast<int>(it - group.begin());
  // The focus moves; nothing is chosen.
  ::SetFocus(group[static_cast<std::size_t>((at + step + n) % n)]);
}

bool MainView::PressAccelerator(wchar_t letter) {
  for (auto& b : bound_) {
    if (b->kind != Kind::kPushButton && b->kind != Kind::kCheckBox) continue;
    if (!b->model->Visible() || !b->model->Enabled()) continue;
    const wchar_t m = Mnemonic(Wide(b->captioned->Caption()));
    if (m == 0 || Upper(m) != Upper(letter)) continue;
    // As a click of the button; the focus stays where it is.
    gate_.Enter(b->click);
    return true;
  }
  return false;
}

bool MainView::FilterMessage(MSG& msg) {
  if (window_ == nullptr || (msg.hwnd != window_ && !::IsChild(window_, msg.hwnd))) return false;
  const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
  const bool shift = ::GetKeyState(VK_SHIFT) < 0;
  switch (msg.message) {
    case WM_KEYDOWN: {
      alt_alone_ = false;
      if (msg.wParam == VK_TAB && !ctrl) {
        MoveFocus(shift ? -1 : 1);
        return true;
      }
      if (msg.wParam == VK_F10 && !shift) {
        menu_bar_->ToggleActive();
        return true;
      }
      Bound* focus = BoundOf(::GetFocus());
      if (focus != nullptr && focus->kind == Kind::kRadioButton) {
        switch (msg.wParam) {
          case VK_UP:
          case VK_LEFT:
            MoveAmongRadios(*focus, -1);
            return true;
          case VK_DOWN:
          case VK_RIGHT:
            MoveAmongRadios(*focus, 1);
            return true;
          default:
            break;
        }
      }
      return false;
    }
    case WM_SYSKEYDOWN:
      if (msg.wParam == VK_MENU) {
        if ((msg.lParam & (1 << 30)) == 0) alt_alone_ = true;
        return true;
      }
      alt_alone_ = false;
      if (msg.wParam == VK_F10 && !shift) {
        menu_bar_->ToggleActive();
        return true;
      }
      return false;
    case WM_SYSKEYUP:
      if (msg.wParam == VK_MENU) {
        // Alt pressed and released alone: the menu bar, not the system menu's keyboard
        // mode.
        if (alt_alone_) menu_bar_->ToggleActive();
        alt_alone_ = false;
        return true;
      }
      return msg.wParam == VK_F10;
    case WM_SYSCHAR: {
      const auto ch = static_cast<wchar_t>(msg.wParam);
      if (ch == L' ') return false;  // the system menu
      if (PressAccelerator(ch)) return true;
      menu_bar_->OpenByLetter(ch);
      return true;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
      alt_alone_ = false;
      return false;
    default:
      return false;
  }
}

}  // namespace ornat::win32
