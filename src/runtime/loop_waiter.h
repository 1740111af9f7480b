#pragma once
// How the real-time loop sleeps until its next timer is due or work is posted. Linux:
// a condition variable (the kernel's timers are fine-grained). Windows: a
// high-resolution waitable timer (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION), else a
// waitable timer with the system's tick at 1 ms (timeBeginPeriod), and an event for the
// wake-up: on the default 15.6 ms tick the 5 ms settling would take 15.6 ms and each
// 20 ms step 31 ms.

#include <chrono>
#include <memory>

namespace ornat {

class LoopWaiter {
 public:
  static std::unique_ptr<LoopWaiter> Make();
  virtual ~LoopWaiter() = default;
  // On the loop's thread: sleeps until `until` or a Wake(); a Wake() that came since
  // the last return makes it return at once.
  virtual void SleepUntil(std::chrono::steady_clock::time_point until) = 0;
  // Any thread.
  virtual void Wake() = 0;
  // How it sleeps, for the benchmarks: "condition variable", "high-resolution
  // waitable timer", "waitable timer, 1 ms tick".
  virtual const char* Kind() const = 0;
};

}  // namespace ornat
