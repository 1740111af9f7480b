#pragma once
// What every control binding of the window shares: the handler gate, the fonts, the
// scale, and the window the wheel goes to.

#include <windows.h>

#include "runtime/handler_gate.h"
#include "win32/fonts.h"

namespace ornat::win32 {

struct ViewContext {
  HandlerGate* gate = nullptr;
  FontSet* fonts = nullptr;
  HWND main = nullptr;  // the top-level window
  int dpi = 96;

  // A turn of the wheel over a control never reaches the control (it would change a
  // speed or an address); it goes to the window, which scrolls when it can.
  void ForwardWheel(UINT msg, WPARAM wp, LPARAM lp) const {
    if (main != nullptr) ::SendMessageW(main, msg, wp, lp);
  }
};

}  // namespace ornat::win32
