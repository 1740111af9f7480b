#pragma once
// A user-interface loop without a window: a wall-clock scheduler and a dispatcher
// queue served by one thread. Integration tests, benchmarks and the simulator's
// tools run the window's logic on it in real time. It sleeps through a LoopWaiter, so
// its timers keep their milliseconds on Windows too.

#include <chrono>
#include <functional>
#include <memory>

#include "runtime/dispatcher.h"
#include "runtime/loop_waiter.h"
#include "runtime/scheduler.h"
#include "runtime/task_queue.h"

namespace ornat {

class RealtimeLoop : public Scheduler {
 public:
  explicit RealtimeLoop(HandlerGate& gate);
  TaskId ScheduleAfter(Micros delay, std::function<void()> task) override;
  void Cancel(TaskId id) override;
  Micros Now() const override;

  QueueDispatcher& dispatcher() { return dispatcher_; }
  // How the loop sleeps (for the benchmarks).
  const char* WaiterKind() const { return waiter_->Kind(); }
  // Runs timers and posted work on the calling thread for d.
  void RunFor(std::chrono::milliseconds d);
  // Runs until pred() holds (checked after each item) or timeout; returns pred().
  bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

 private:
  using Clock = std::chrono::steady_clock;
  bool RunOnce(Clock::time_point until);
  Clock::time_point start_;
  std::unique_ptr<LoopWaiter> waiter_;
  QueueDispatcher dispatcher_;
  TaskQueue<Clock::time_point> tasks_;
};

}  // namespace ornat
