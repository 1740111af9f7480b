// The Win32 window's log pane: it shows all of a handler's changes together once the
// handler has returned (the send clears it, colours it and adds its lines one by one),
// and inside a modal box's loop it shows the answer above the question.

#include <gtest/gtest.h>

#include <string>

#include "win32_window.h"
// After the form's headers (see win32_window.h).
#include "text/wide.h"

namespace ornat::testing {
namespace {

std::string LogText(Win32Window& win) {
  return win32::Utf8(WindowText(win.Handle(win.form().TeMemo1)));
}

TEST(LogPane, ShowsAHandlersChangesOnceItHasReturned) {
  Win32Window win;
  win.base.gate.Enter([&] {
    win.form().TeMemo1.Clear();
    win.form().TeMemo1.Add("TX : F7 03 00 00 00 08 50 9A ");
    win.form().TeMemo1.Add("RX :");
  });
  win.Pump();
  const std::string before = LogText(win);
  EXPECT_EQ(before, "TX : F7 03 00 00 00 08 50 9A \r\nRX :");
  win.base.gate.Enter([&] {
    win.form().TeMemo1.Clear();
    win.form().TeMemo1.Add("TX : 05 03 00 00 00 08 44 4C ");
    EXPECT_EQ(LogText(win), before) << "not rebuilt inside the handler";
  });
  win.Pump();
  EXPECT_EQ(LogText(win), "TX : 05 03 00 00 00 08 44 4C ");
  // A change from outside any handler is shown as the loop comes round, too.
  win.form().TeMemo1.Add("   : TIME OUT.");
  win.Pump();
  EXPECT_EQ(LogText(win), "TX : 05 03 00 00 00 08 44 4C \r\n   : TIME OUT.");
}

TEST(LogPane, AModalBoxsLoopShowsTheAnswerAboveTheQuestion) {
  Win32Window win;
  std::string shown_during_question;
  win.base.gate.Enter([&] {
    win.form().TeMemo1.Clear();
    win.form().TeMemo1.Add("RX : F7 06 00 02 00 06 2D 5B ");
    win.form().TeMemo1.Add("   : ОК.");
    // What MessageBoxW's own loop does while the question is open: it dispatches what
    // was posted to the thread's windows.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    shown_during_question = LogText(win);
  });
  EXPECT_EQ(shown_during_question, "RX : F7 06 00 02 00 06 2D 5B \r\n   : ОК.");
}

}  // namespace
}  // namespace ornat::testing
