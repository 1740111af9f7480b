#include "runtime/loop_waiter.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

#include <timeapi.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace ornat {

namespace {

class TimerWaiter : public LoopWaiter {
 public:
  TimerWaiter() {
    // Windows 10 1803 and later; elsewhere (and under Wine) the call fails and the
    // plain timer on a 1 ms tick takes its place.
    timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS);
    if (timer_ == nullptr) {
      tick_set_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
      timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    } else {
      high_resolution_ = true;
    }
    wake_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  }
  ~TimerWaiter() override {
    if (timer_ != nullptr) ::CloseHandle(timer_);
    if (wake_ != nullptr) ::CloseHandle(wake_);
    if (tick_set_) ::timeEndPeriod(1);
  }
  TimerWaiter(const TimerWaiter&) = delete;
  TimerWaiter& operator=(const TimerWaiter&) = delete;

  void SleepUntil(std::chrono::steady_clock::time_point until) override {
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      ::WaitForSingleObject(wake_, 0);  // a wake-up that came is used up here
      return;
    }
    // Relative due time, in 100 ns units, negative.
    const auto ticks =
        std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(left)
            .count();
    LARGE_INTEGER due;
    due.QuadPart = -(ticks > 0 ? ticks : 1);
    HANDLE handles[2] = {wake_, timer_};
    if (timer_ != nullptr && ::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
      ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      ::CancelWaitableTimer(timer_);
    } else {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
      ::WaitForSingleObject(wake_, static_cast<DWORD>(ms > 0 ? ms : 1));
    }
  }
  void Wake() override { ::SetEvent(wake_); }
  const char* Kind() const override {
    if (high_resolution_) return "high-resolution waitable timer";
    return tick_set_ ? "waitable timer, 1 ms tick" : "waitable timer";
  }

 private:
  HANDLE timer_ = nullptr;
  HANDLE wake_ = nullptr;
  bool high_resolution_ = false;
  bool tick_set_ = false;
};

}  // namespace

std::unique_ptr<LoopWaiter> LoopWaiter::Make() {
  return std::make_unique<TimerWaiter>();
}

}  // namespace ornat
