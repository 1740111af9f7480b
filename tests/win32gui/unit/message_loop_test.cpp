// The window's message loop in real time: a task never runs before its delay; work
// from other threads runs on the loop's thread through the gate; a Send waits and
// carries an exception back; and while a handler has a message box open (its own
// nested loop), timer firings and hand-overs that come due are held and run right
// after the handler returns, in the order they came due. No assertion on speed: the
// figures are bench/'s.

#include "win32/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ui/toolkit/timer.h"
#include "win32/dialogs.h"

namespace ornat::win32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(MessageLoop, ATaskNeverRunsBeforeItsDelay) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  MessageLoop loop(gate);
  const std::chrono::microseconds delays[] = {0us, 100us, 1ms, 5ms, 20ms, 37ms, 500ms};
  for (auto delay : delays) {
    SCOPED_TRACE(delay.count());
    const auto asked = Clock::now();
    std::optional<Clock::time_point> ran;
    loop.ScheduleAfter(delay, [&] { ran = Clock::now(); });
    ASSERT_TRUE(loop.RunUntil([&] { return ran.has_value(); }, 5s));
    EXPECT_GE(*ran - asked, delay);
  }
}

TEST(MessageLoop, ACancelledTaskDoesNotRunAndTheOthersDoInTheirOrder) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  MessageLoop loop(gate);
  std::vector<int> ran;
  loop.ScheduleAfter(30ms, [&] { ran.push_back(30); });
  const auto id = loop.ScheduleAfter(10ms, [&] { ran.push_back(10); });
  loop.ScheduleAfter(20ms, [&] { ran.push_back(20); });
  loop.ScheduleAfter(20ms, [&] { ran.push_back(21); });
  loop.Cancel(id);
  ASSERT_TRUE(loop.RunUntil([&] { return ran.size() == 3; }, 5s));
  EXPECT_EQ(ran, (std::vector<int>{20, 21, 30}));
}

TEST(MessageLoop, WorkFromAnotherThreadRunsOnTheLoopsThreadAndASendCarriesItsException) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  MessageLoop loop(gate);
  const DWORD ui = ::GetCurrentThreadId();
  std::atomic<DWORD> posted_on{0};
  std::atomic<bool> send_done{false};
  std::string caught;
  std::thread other([&] {
    EXPECT_FALSE(loop.OnUiThread());
    loop.Post([&] { posted_on = ::GetCurrentThreadId(); });
    try {
      loop.Send([] { throw std::runtime_error("from the UI thread"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    send_done = true;
  });
  EXPECT_TRUE(loop.OnUiThread());
  const bool done = loop.RunUntil([&] { return send_done.load() && posted_on.load() != 0; }, 5s);
  if (!done) loop.ServeSynchronous();  // lets the other thread end
  other.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(posted_on.load(), ui);
  EXPECT_EQ(caught, "from the UI thread");
}

// Presses "No" on the thread's message box once it is open.
void AnswerTheBoxLater(DWORD thread, std::chrono::milliseconds after) {
  std::thread([thread, after] {
    std::this_thread::sleep_for(after);
    for (int i = 0; i < 500; ++i) {
      struct Find {
        DWORD thread;
        HWND box = nullptr;
      } find{thread};
      ::EnumThreadWindows(
          thread,
          [](HWND hwnd, LPARAM lp) -> BOOL {
            wchar_t cls[16] = {};
            ::GetClassNameW(hwnd, cls, 16);
            if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(hwnd)) {
              reinterpret_cast<Find*>(lp)->box = hwnd;
              return FALSE;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&find));
      if (find.box != nullptr) {
        ::PostMessageW(find.box, WM_COMMAND, IDNO, 0);
        return;
      }
      std::this_thread::sleep_for(10ms);
    }
  }).detach();
}

TEST(MessageLoop, WhileAHandlersMessageBoxIsOpenFiringsAndHandOversWaitAndThenRunInOrder) {
  MessageBoxDialogs dialogs;
  HandlerGate gate(dialogs);
  MessageLoop loop(gate);
  std::vector<std::string> ran;
  bool in_handler = false;
  std::vector<std::string> during;
  TTimer timer("Timer_Rx", loop, gate, 20, false);
  timer.SetOnTimer([&](TObject*) {
    timer.SetEnabled(false);
    (in_handler ? during : ran).push_back("timer");
  });
  std::thread handover;
  // A handler that asks its question: the box's loop runs for about 300 ms.
  loop.ScheduleAfter(1ms, [&] {
    gate.Enter([&] {
      in_handler = true;
      timer.SetEnabled(true);  // due 20 ms from here
      handover = std::thread([&] {
        std::this_thread::sleep_for(60ms);  // after the timer came due
        loop.Post([&] { (in_handler ? during : ran).push_back("hand-over"); });
      });
      AnswerTheBoxLater(::GetCurrentThreadId(), 300ms);
      const DialogAnswer a = dialogs.AskYesNo("Сменить скорость обмена COM-порта ПК?");
      ran.push_back(a == DialogAnswer::No ? "handler answered No" : "handler answered ?");
      in_handler = false;
    });
  });
  const bool done = loop.RunUntil([&] { return ran.size() == 3; }, 10s);
  if (handover.joinable()) handover.join();
  ASSERT_TRUE(done);
  EXPECT_TRUE(during.empty()) << "nothing of ours runs inside the running handler";
  EXPECT_EQ(ran, (std::vector<std::string>{"handler answered No", "timer", "hand-over"}));
}

TEST(MessageLoop, TimersKeepFiringWhileANestedLoopRunsOutsideAnyHandler) {
  MessageBoxDialogs dialogs;
  HandlerGate gate(dialogs);
  MessageLoop loop(gate);
  int firings = 0;
  bool box_open = false;
  int while_open = 0;
  TTimer timer("Timer_Programm", loop, gate, 20, false);
  timer.SetOnTimer([&](TObject*) {
    ++firings;
    if (box_open) ++while_open;
  });
  timer.SetEnabled(true);
  // A modal loop that is not a handler of ours (as a menu or the window being moved
  // runs): the relay brings the firings in.
  loop.ScheduleAfter(1ms, [&] {
    AnswerTheBoxLater(::GetCurrentThreadId(), 400ms);
    box_open = true;
    ::MessageBoxW(nullptr, L"nested", L"nested", MB_YESNO);
    box_open = false;
  });
  ASSERT_TRUE(loop.RunUntil([&] { return firings > 0 && !box_open && while_open > 0; }, 10s));
  EXPECT_GT(while_open, 0);
}

}  // namespace
}  // namespace ornat::win32
