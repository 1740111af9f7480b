// The two dialogs of the Win32 window as Windows message boxes: the Yes/No question with
// its text under "Warning", the answer as pressed; the exception report under "ornat"
// with the exception's message and OK.

#include "win32/dialogs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "text/wide.h"

namespace ornat::win32 {
namespace {

using namespace std::chrono_literals;

struct Seen {
  std::wstring caption, text;
  bool found = false;
};

// Waits for the thread's message box, notes its caption and text, presses `button`.
std::thread PressLater(DWORD thread, int button, Seen& seen) {
  return std::thread([thread, button, &seen] {
    for (int i = 0; i < 500 && !seen.found; ++i) {
      std::this_thread::sleep_for(10ms);
      ::EnumThreadWindows(
          thread,
          [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Seen*>(lp);
            wchar_t cls[16] = {}, caption[64] = {};
            ::GetClassNameW(hwnd, cls, 16);
            if (std::wstring(cls) != L"#32770" || !::IsWindowVisible(hwnd)) return TRUE;
            ::GetWindowTextW(hwnd, caption, 64);
            s->caption = caption;
            ::EnumChildWindows(
                hwnd,
                [](HWND child, LPARAM lp2) -> BOOL {
                  wchar_t ccls[16] = {}, text[256] = {};
                  ::GetClassNameW(child, ccls, 16);
                  ::GetWindowTextW(child, text, 256);
                  auto* s2 = reinterpret_cast<Seen*>(lp2);
                  if (std::wstring(ccls) == L"Static" &&
                      std::wstring(text).size() > s2->text.size())
                    s2->text = text;
                  return TRUE;
                },
                lp);
            s->found = true;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&seen));
    }
    if (!seen.found) return;
    // The box is the thread's active window: its button by its id.
    HWND box = nullptr;
    ::EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM lp) -> BOOL {
          wchar_t cls[16] = {};
          ::GetClassNameW(hwnd, cls, 16);
          if (std::wstring(cls) == L"#32770") {
            *reinterpret_cast<HWND*>(lp) = hwnd;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&box));
    ::PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
  });
}

TEST(MessageBoxDialogs, TheQuestionShowsItsTextAndGivesTheButtonPressed) {
  const struct {
    int button;
    DialogAnswer answer;
  } presses[] = {{IDYES, DialogAnswer::Yes}, {IDNO, DialogAnswer::No}};
  for (const auto& p : presses) {
    SCOPED_TRACE(p.button);
    MessageBoxDialogs dialogs;
    Seen seen;
    std::thread presser = PressLater(::GetCurrentThreadId(), p.button, seen);
    const DialogAnswer answer = dialogs.AskYesNo("Сменить скорость обмена COM-порта ПК?");
    presser.join();
    EXPECT_EQ(answer, p.answer);
    EXPECT_EQ(Utf8(seen.caption), "Warning");
    EXPECT_EQ(Utf8(seen.text), "Сменить скорость обмена COM-порта ПК?");
  }
}

TEST(MessageBoxDialogs, TheExceptionReportShowsTheMessage) {
  MessageBoxDialogs dialogs;
  Seen seen;
  std::thread presser = PressLater(::GetCurrentThreadId(), IDOK, seen);
  dialogs.ShowException("Unable to open com port (win error code: 5)");
  presser.join();
  EXPECT_EQ(Utf8(seen.caption), "ornat");
  EXPECT_EQ(Utf8(seen.text), "Unable to open com port (win error code: 5)");
}

}  // namespace
}  // namespace ornat::win32
