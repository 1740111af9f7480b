#include "runtime/virtual_scheduler.h"

namespace ornat {

Scheduler::TaskId VirtualScheduler::ScheduleAfter(Micros delay, std::function<void()> task) {
  if (delay < Micros(0)) delay = Micros(0);
  return tasks_.Add(now_ + delay, std::move(task));
}

void VirtualScheduler::Cancel(TaskId id) {
  tasks_.Cancel(id);
}

bool VirtualScheduler::RunNextDueBy(Micros deadline) {
  auto due = tasks_.TakeDue(deadline);
  if (!due) return false;
  now_ = due->due;
  due->task();
  return true;
}

void VirtualScheduler::Advance(Micros d) {
  Micros deadline = now_ + d;
  while (RunNextDueBy(deadline)) {
  }
  now_ = deadline;
}

bool VirtualScheduler::RunUntilIdle(Micros limit) {
  Micros deadline = now_ + limit;
  while (RunNextDueBy(deadline)) {
  }
  return tasks_.Empty();
}

bool VirtualScheduler::Step() {
  const auto at = tasks_.NextDue();
  if (!at) return false;
  while (RunNextDueBy(*at)) {
  }
  return true;
}

std::optional<Micros> VirtualScheduler::NextDue() const {
  return tasks_.NextDue();
}

}  // namespace ornat
