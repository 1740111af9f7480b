#pragma once
// The Win32 view over a TForm1 in the test's own process: the form on a virtual clock
// with the scripted serial device and scripted dialogs (support/basic_form.h), its native
// window built, hidden, and FormCreate run through the gate, as the program composes
// them. Messages are sent to the controls as Windows sends them, or posted and pumped
// through the view's message filter as the message loop does.

#include <string>
#include <vector>

#include "support/basic_form.h"
#include "win32/main_view.h"
#include "win32/window_text.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

namespace ornat::testing {

struct Win32Window {
  explicit Win32Window(int screen_height = 1080) : base(screen_height) {
    base.ports.ports = std::vector<std::string>{"COM1", "COM3"};
    view = std::make_unique<win32::MainView>(*base.form, base.gate);
    view->Create();
    base.Create();
    view->FitWindow();
    // On the screen (without taking the activation): the keyboard's moves need visible
    // controls.
    view->Show(SW_SHOWNOACTIVATE);
  }
  ~Win32Window() { view.reset(); }
  TForm1& form() { return *base.form; }

  HWND Handle(const TControl& c) const { return view->HandleOf(c); }
  // Every message waiting for this thread, through the view's filter (the loop's part).
  void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!view->FilterMessage(msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
  }
  // A key pressed and released on the control with the focus (or `to`), through the loop.
  void Key(UINT vk, HWND to = nullptr, bool alt = false) {
    HWND target = to != nullptr ? to : ::GetFocus();
    const LPARAM down = alt ? (1 << 29) | 1 : 1;
    const LPARAM up = down | (1u << 30) | (1u << 31);
    ::PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, down);
    ::PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, up);
    Pump();
  }
  void SysChar(wchar_t ch) {
    ::PostMessageW(::GetFocus() != nullptr ? ::GetFocus() : view->Window(), WM_SYSCHAR, ch,
                   (1 << 29) | 1);
    Pump();
  }
  // The frames written to the device.
  std::vector<std::vector<std::uint8_t>> Writes() const {
    std::vector<std::vector<std::uint8_t>> frames;
    for (const DeviceCall& c : base.device.calls())
      if (c.name == "Write") frames.push_back(c.data);
    return frames;
  }

  BasicForm base;
  std::unique_ptr<win32::MainView> view;
};

using win32::WindowText;

}  // namespace ornat::testing
