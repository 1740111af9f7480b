// The Win32 window's procedures: the top-level window's (activation, closing,
// scrolling, the screen's scale changing, the menu bar's messages), the client area's
// (the controls' notifications, owner drawing, colours) and the one every control is
// subclassed with (clicks that are the user's, the focus, the wheel); and the window's
// size, place and scale.

#include "win32/main_view.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "win32/dpi.h"
#include "win32/menu_bar.h"
#include "win32/speed_list.h"
#include "win32/spin_edit.h"
#include "win32/window_owner.h"
#include "win32/window_text.h"

namespace ornat::win32 {

void MainView::Scroll(int pos) {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE;
  ::GetScrollInfo(window_, SB_VERT, &si);
  const int max = std::max(0, si.nMax - static_cast<int>(si.nPage) + 1);
  pos = std::clamp(pos, 0, max);
  if (pos == scroll_pos_) return;
  scroll_pos_ = pos;
  si.fMask = SIF_POS;
  si.nPos = pos;
  ::SetScrollInfo(window_, SB_VERT, &si, TRUE);
  ::SetWindowPos(client_, nullptr, 0, -scroll_pos_, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT MainView::OnWindow(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kMirrorLaterMessage:
      later_posted_ = false;
      if (later_ != nullptr) Mirror(*later_);
      return 0;
    case WM_ACTIVATE: {
      const LRESULT r = ::DefWindowProcW(window_, msg, wp, lp);
      if (LOWORD(wp) != WA_INACTIVE && HIWORD(wp) == 0)
        gate_.Enter([weak = std::weak_ptr<bool>(alive_), this] {
          if (weak.lock()) form_.FormActivate(&form_);
        });
      return r;
    }
    case WM_CLOSE:
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      // Closed by the user: the program ends.
      ::PostQuitMessage(0);
      return 0;
    case WM_VSCROLL: {
      SCROLLINFO si{};
      si.cbSize = sizeof si;
      si.fMask = SIF_ALL;
      ::GetScrollInfo(window_, SB_VERT, &si);
      int pos = scroll_pos_;
      const int line = Scale(16, ctx_.dpi);
      switch (LOWORD(wp)) {
        case SB_LINEUP:
          pos -= line;
          break;
        case SB_LINEDOWN:
          pos += line;
          break;
        case SB_PAGEUP:
          pos -= static_cast<int>(si.nPage);
          break;
        case SB_PAGEDOWN:
          pos += static_cast<int>(si.nPage);
          break;
        case SB_THUMBTRACK:  // the contents follow the thumb while it is dragged
        case SB_THUMBPOSITION:
          pos = si.nTrackPos;
          break;
        case SB_TOP:
          pos = 0;
          break;
        case SB_BOTTOM:
          pos = si.nMax;
          break;
        default:
          break;
      }
      Scroll(pos);
      return 0;
    }
    case WM_MOUSEWHEEL:
      if (form_.VertScrollBarVisible) {
        const int delta = GET_WHEEL_DELTA_WPARAM(wp);
        Scroll(scroll_pos_ - delta * Scale(48, ctx_.dpi) / WHEEL_DELTA);
      }
      return 0;
    case WM_MOUSEHWHEEL:
      return 0;
    case WM_DPICHANGED: {
      SetDpi(HIWORD(wp));
      const auto* suggested = reinterpret_cast<const RECT*>(lp);
      ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      FitWindow();
      return 0;
    }
    case WM_MENUSELECT:
      if (menu_bar_) menu_bar_->MenuSelect(wp, lp);
      return 0;
    case WM_SYSCOMMAND:
      // The keyboard's way into a menu (Alt, F10) is the menu bar's.
      if ((wp & 0xFFF0) == SC_KEYMENU && lp != L' ') {
        if (lp == 0) menu_bar_->ToggleActive();
        return 0;
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window_, msg, wp, lp);
}

LRESULT MainView::OnClient(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  switch (msg) {
    case WM_COMMAND: {
      const auto from = reinterpret_cast<HWND>(lp);
      Bound* b = BoundOf(from);
      if (b == nullptr) break;
      if (b->kind == Kind::kSpeedList) {
        speed_list_->Command(HIWORD(wp));
        return 0;
      }
      if (HIWORD(wp) != BN_CLICKED || clicking_ != from) return 0;
      // A click of the user's: the model decides what it does; the control shows the
      // model's state afterwards.
      if (b->click) gate_.Enter(b->click);
      Mirror(*b);
      return 0;
    }
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
      if (hdr->code == UDN_DELTAPOS) {
        for (auto& [control, spin] : spin_edits_)
          if (spin->UpDown() == hdr->hwndFrom)
            return spin->DeltaPos(*reinterpret_cast<const NMUPDOWN*>(lp));
      }
      break;
    }
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      if (m->CtlType == ODT_COMBOBOX) {
        SpeedListBinding::Measure(*m, ctx_.dpi);
        return TRUE;
      }
      break;
    }
    case WM_DRAWITEM: {
      const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (d->CtlType == ODT_STATIC) {
        ::FillRect(d->hDC, &d->rcItem, face_brush_);
        const int saved = ::SaveDC(d->hDC);
        ::SelectObject(d->hDC, fonts_.Get(FontRole::kWindow));
        ::SetBkMode(d->hDC, TRANSPARENT);
        ::SetTextColor(d->hDC, ::GetSysColor(::IsWindowEnabled(d->hwndItem) ? COLOR_WINDOWTEXT
                                                                            : COLOR_GRAYTEXT));
        DrawFittedText(d->hDC, WindowText(d->hwndItem), d->rcItem);
        ::RestoreDC(d->hDC, saved);
        return TRUE;
      }
      if (d->CtlType == ODT_COMBOBOX && speed_list_ && d->hwndItem == speed_list_->Combo()) {
        speed_list_->Draw(*d);
        return TRUE;
      }
      break;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wp);
      Bound* b = BoundOf(reinterpret_cast<HWND>(lp));
      if (b != nullptr && b->text_color) {
        // The log's one text colour, on white.
        ::SetTextColor(dc, static_cast<COLORREF>(b->text_color()));
        ::SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(white_brush_);
      }
      ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(face_brush_);
    }
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(face_brush_);
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    default:
      break;
  }
  handled = false;
  return 0;
}

LRESULT MainView::OnControl(Bound& b, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    case WM_SETFOCUS:
      NoteFocus(hwnd);
      break;
    case WM_LBUTTONUP:
    case BM_CLICK:
    case WM_KEYUP:
      if (b.kind == Kind::kPushButton || b.kind == Kind::kCheckBox ||
          b.kind == Kind::kRadioButton) {
        if (msg == WM_KEYUP && wp != VK_SPACE) break;
        HWND before = clicking_;
        clicking_ = hwnd;
        const LRESULT r = ::DefSubclassProc(hwnd, msg, wp, lp);
        clicking_ = before;
        return r;
      }
      break;
    case WM_ERASEBKGND:
      // A group box paints its frame and caption only; its inside is the window's face.
      if (b.kind == Kind::kGroupBox) {
        RECT r{};
        ::GetClientRect(hwnd, &r);
        ::FillRect(reinterpret_cast<HDC>(wp), &r, face_brush_);
        return TRUE;
      }
      break;
    case WM_SETCURSOR:
      if (b.kind == Kind::kMemo) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_GETOBJECT: {
      bool handled = false;
      const LRESULT r = accessible_names_.Answer(hwnd, wp, lp, handled);
      if (handled) return r;
      break;
    }
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case WM_SETTEXT:
      // The log shows the model's lines only; the view's own WM_SETTEXT comes through.
      if (b.kind == Kind::kMemo && msg != WM_SETTEXT) return 0;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK MainView::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return ToWindowOwner(hwnd, msg, wp, lp, &MainView::window_, &MainView::OnWindow);
}

LRESULT CALLBACK MainView::ClientProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  bool created = false;
  auto* self = WindowOwner<MainView>(hwnd, msg, lp, created);
  if (self != nullptr) {
    bool handled = false;
    const LRESULT r = self->OnClient(msg, wp, lp, handled);
    if (handled) return r;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK MainView::ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR ref) {
  auto* b = reinterpret_cast<Bound*>(ref);
  auto* self = reinterpret_cast<MainView*>(::GetWindowLongPtrW(::GetParent(hwnd), GWLP_USERDATA));
  if (self == nullptr) return ::DefSubclassProc(hwnd, msg, wp, lp);
  return self->OnControl(*b, hwnd, msg, wp, lp);
}

void MainView::SetDpi(int dpi) {
  if (dpi == ctx_.dpi) return;
  ctx_.dpi = dpi;
  fonts_.SetDpi(dpi);
  if (query_images_ != nullptr) ShowQueryPicture(HandleOf(form_.TeButton5));
  // Every control at its new place, with its fonts made again.
  for (auto& b : bound_) b->placed_once = false;
  Layout();
}

void MainView::FitWindow() {
  const int dpi = ctx_.dpi;
  const bool scroll = form_.VertScrollBarVisible;
  DWORD style = kWindowStyle | (scroll ? WS_VSCROLL : 0);
  ::SetWindowLongW(window_, GWL_STYLE,
                   static_cast<LONG>(style | (::GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE)));
  const int client_w = Scale(form_.ClientWidth, dpi);
  const int client_h = Scale(form_.ClientHeight, dpi);
  RECT outer = OuterRect(RECT{0, 0, client_w, client_h}, kWindowStyle, 0, dpi);
  int width = outer.right - outer.left;
  int height = outer.bottom - outer.top;
  if (scroll) {
    // Shortened to the screen; wider by the scroll bar, so the client stays 434 wide.
    height = Scale(form_.OuterHeight, dpi);
    width += MetricForDpi(SM_CXVSCROLL, dpi);
  }
  ::SetWindowPos(window_, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (scroll) {
    RECT client{};
    ::GetClientRect(window_, &client);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMin = 0;
    si.nMax = client_h - 1;
    si.nPage = static_cast<UINT>(client.bottom);
    si.nPos = scroll_pos_;
    ::SetScrollInfo(window_, SB_VERT, &si, TRUE);
  }
}

void MainView::CentreOnScreen() {
  RECT r{};
  ::GetWindowRect(window_, &r);
  HMONITOR monitor = ::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  ::GetMonitorInfoW(monitor, &info);
  const RECT work = info.rcWork;
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = std::max<int>(work.left, work.left + (work.right - work.left - w) / 2);
  const int y = std::max<int>(work.top, work.top + (work.bottom - work.top - h) / 2);
  ::SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainView::Show(int show_command) {
  ::ShowWindow(window_, show_command);
  ::UpdateWindow(window_);
}

}  // namespace ornat::win32
