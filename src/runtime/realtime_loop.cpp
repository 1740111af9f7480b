#include "runtime/realtime_loop.h"

namespace ornat {

RealtimeLoop::RealtimeLoop(HandlerGate& gate)
    : start_(Clock::now()), waiter_(LoopWaiter::Make()), dispatcher_(gate) {
  dispatcher_.SetWakeup([this] { waiter_->Wake(); });
}

Scheduler::TaskId RealtimeLoop::ScheduleAfter(Micros delay, std::function<void()> task) {
  if (delay < Micros(0)) delay = Micros(0);
  return tasks_.Add(Clock::now() + delay, std::move(task));
}

void RealtimeLoop::Cancel(TaskId id) {
  tasks_.Cancel(id);
}

Micros RealtimeLoop::Now() const {
  return std::chrono::duration_cast<Micros>(Clock::now() - start_);
}

// Runs one due task or the posted work, or sleeps until one is due; false on `until`.
bool RealtimeLoop::RunOnce(Clock::time_point until) {
  if (dispatcher_.HasWork()) {
    dispatcher_.RunPending();
    return true;
  }
  auto now = Clock::now();
  if (auto due = tasks_.TakeDue(now)) {
    due->task();
    return true;
  }
  if (now >= until) return false;
  auto wake_at = until;
  if (auto next = tasks_.NextDue(); next && *next < wake_at) wake_at = *next;
  waiter_->SleepUntil(wake_at);
  return true;
}

void RealtimeLoop::RunFor(std::chrono::milliseconds d) {
  auto until = Clock::now() + d;
  while (RunOnce(until)) {
  }
}

bool RealtimeLoop::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  auto until = Clock::now() + timeout;
  while (!pred()) {
    if (!RunOnce(until)) return pred();
  }
  return true;
}

}  // namespace ornat
