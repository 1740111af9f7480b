#include "ui/toolkit/realtime_loop.h"

namespace ornat {

RealtimeLoop::RealtimeLoop(HandlerGate& gate)
    : start_(Clock::now()), waiter_(LoopWaiter::Make()), dispatcher_(gate) {
  dispatcher_.SetWakeup([this] { waiter_->Wake(); });
}

Scheduler::TaskId RealtimeLoop::ScheduleAfter(Micros delay, std::function<void()> task) {
  if (delay < Micros(0)) delay = Micros(0);
  TaskId id = next_id_++;
  auto due = Clock::now() + delay;
  tasks_.emplace(std::make_pair(due, id), std::move(task));
  due_of_.emplace(id, due);
  return id;
}

void RealtimeLoop::Cancel(TaskId id) {
  auto it = due_of_.find(id);
  if (it == due_of_.end()) return;
  tasks_.erase(std::make_pair(it->second, id));
  due_of_.erase(it);
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
  if (!tasks_.empty() && tasks_.begin()->first.first <= now) {
    auto it = tasks_.begin();
    auto task = std::move(it->second);
    due_of_.erase(it->first.second);
    tasks_.erase(it);
    task();
    return true;
  }
  if (now >= until) return false;
  auto wake_at = until;
  if (!tasks_.empty() && tasks_.begin()->first.first < wake_at)
    wake_at = tasks_.begin()->first.first;
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
