#include "ui/toolkit/virtual_scheduler.h"

namespace ornat {

Scheduler::TaskId VirtualScheduler::ScheduleAfter(Micros delay, std::function<void()> task) {
  if (delay < Micros(0)) delay = Micros(0);
  TaskId id = next_id_++;
  Micros due = now_ + delay;
  tasks_.emplace(std::make_pair(due, id), std::move(task));
  due_of_.emplace(id, due);
  return id;
}

void VirtualScheduler::Cancel(TaskId id) {
  auto it = due_of_.find(id);
  if (it == due_of_.end()) return;
  tasks_.erase(std::make_pair(it->second, id));
  due_of_.erase(it);
}

bool VirtualScheduler::RunNextDueBy(Micros deadline) {
  if (tasks_.empty()) return false;
  auto it = tasks_.begin();
  if (it->first.first > deadline) return false;
  now_ = it->first.first;
  auto task = std::move(it->second);
  due_of_.erase(it->first.second);
  tasks_.erase(it);
  task();
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
  return tasks_.empty();
}

bool VirtualScheduler::Step() {
  if (tasks_.empty()) return false;
  Micros at = tasks_.begin()->first.first;
  while (RunNextDueBy(at)) {
  }
  return true;
}

std::optional<Micros> VirtualScheduler::NextDue() const {
  if (tasks_.empty()) return std::nullopt;
  return tasks_.begin()->first.first;
}

}  // namespace ornat
