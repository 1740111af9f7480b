#pragma once
// The window's Scheduler and Dispatcher on the Win32 message loop.
//
// Timers: a waitable timer of high resolution (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION),
// or, where the system has none, a plain one with the system tick at 1 ms
// (timeBeginPeriod), is set to the earliest task and waited for together with the
// messages (MsgWaitForMultipleObjectsEx). SetTimer would round 5 ms up to 10-16 ms.
//
// Hand-overs from other threads (the serial event thread) are queued with the time
// they were posted, and a wake-up message is posted to a message-only window of the
// loop's thread.
//
// Nested loops (a message box, an open menu, the window being moved) do not wait for
// our timer; while one runs, a relay timer (SetTimer, the system's tick) brings the
// due tasks in, and the wake-up message the hand-overs. Both run in time order (see
// EventQueue), and both enter the window's handlers only through the HandlerGate: a
// firing or a hand-over that comes due while a handler runs (a completion that shows
// the Yes/No question, for example) is held and runs right after it returns.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "runtime/scheduler.h"
#include "win32/event_queue.h"

namespace ornat::win32 {

class MessageLoop : public Scheduler, public Dispatcher {
 public:
  // On the thread that runs the window: it becomes the UI thread.
  explicit MessageLoop(HandlerGate& gate);
  ~MessageLoop() override;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Scheduler: the task runs once, on the UI thread, not before delay has passed.
  TaskId ScheduleAfter(Micros delay, std::function<void()> task) override;
  void Cancel(TaskId id) override;
  Micros Now() const override;

  // Dispatcher.
  void Post(std::function<void()> work) override;
  void Send(std::function<void()> work) override;
  void ServeSynchronous() override;
  bool OnUiThread() const override;

  // A message filter: returns true when it handled the message itself (keyboard
  // navigation, accelerators), which is then neither translated nor dispatched.
  using Filter = std::function<bool(MSG&)>;
  // Runs the loop until WM_QUIT; returns its exit code.
  int Run(const Filter& filter);
  // Runs messages and due work until pred() holds or timeout passes (tests).
  bool RunUntil(const std::function<bool()>& pred, Millis timeout, const Filter& filter = {});

  // How the timers are waited for: "high-resolution waitable timer" or "waitable
  // timer, 1 ms tick" (benchmarks).
  const char* TimerKind() const;

 private:
  static LRESULT CALLBACK WakeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // One pass of the loop: the waiting messages, then due work; false on WM_QUIT.
  bool Pump(const Filter& filter, int& exit_code);
  void RunDue();
  void ArmTimer();
  // The relay runs while anything of ours is on the stack: a message box or a menu
  // opened there would otherwise hold the timers up.
  void EnterNested();
  void LeaveNested();
  void Wake();

  HandlerGate& gate_;
  DWORD ui_thread_;
  EventQueue::TimePoint start_;
  EventQueue queue_;
  SyncCallQueue sync_;
  HWND wake_hwnd_ = nullptr;
  HANDLE timer_ = nullptr;
  bool high_resolution_ = false;
  bool tick_set_ = false;
  std::atomic<bool> wake_pending_{false};
  int nested_ = 0;
};

}  // namespace ornat::win32
