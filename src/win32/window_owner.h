#pragma once
// The object a window of our own classes belongs to: handed over in CreateWindowExW's
// last argument, kept in the window's GWLP_USERDATA from WM_NCCREATE on, so that the
// class's window procedure finds it for every later message.

#include <windows.h>

namespace ornat::win32 {

// The owner of `hwnd`, or null before WM_NCCREATE (WM_GETMINMAXINFO comes first) and
// after the owner let go of it. `created` is true for WM_NCCREATE itself.
template <typename Owner>
Owner* WindowOwner(HWND hwnd, UINT msg, LPARAM lp, bool& created) {
  created = msg == WM_NCCREATE;
  if (created) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  return reinterpret_cast<Owner*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// A window procedure that hands each message to the window's owner: `handle` is the
// owner's member that learns the window at WM_NCCREATE, `on_message` its handler.
// Without an owner (before WM_NCCREATE, or while the owner destroys it) the window
// does what windows do by default.
template <typename Owner>
LRESULT ToWindowOwner(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, HWND Owner::*handle,
                      LRESULT (Owner::*on_message)(UINT, WPARAM, LPARAM)) {
  bool created = false;
  Owner* self = WindowOwner<Owner>(hwnd, msg, lp, created);
  if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
  if (created) self->*handle = hwnd;
  return (self->*on_message)(msg, wp, lp);
}

}  // namespace ornat::win32
