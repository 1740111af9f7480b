#include "win32/event_queue.h"

namespace ornat::win32 {

EventQueue::EventQueue(std::function<TimePoint()> now, std::function<void()> wake)
    : now_(std::move(now)), wake_(std::move(wake)) {}

EventQueue::TaskId EventQueue::Schedule(TimePoint due, std::function<void()> task) {
  const TaskId id = next_id_++;
  tasks_.emplace(std::make_pair(due, id), std::move(task));
  due_of_.emplace(id, due);
  return id;
}

void EventQueue::Cancel(TaskId id) {
  auto it = due_of_.find(id);
  if (it == due_of_.end()) return;
  tasks_.erase(std::make_pair(it->second, id));
  due_of_.erase(it);
}

void EventQueue::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(Posted{now_(), next_seq_++, std::move(work)});
  }
  if (wake_) wake_();
}

std::size_t EventQueue::RunDue() {
  const TimePoint horizon = now_();
  std::size_t ran = 0;
  for (;;) {
    std::optional<TimePoint> post_at;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!posted_.empty() && posted_.front().at <= horizon) post_at = posted_.front().at;
    }
    const bool task_due = !tasks_.empty() && tasks_.begin()->first.first <= horizon;
    if (task_due && (!post_at || tasks_.begin()->first.first <= *post_at)) {
      auto it = tasks_.begin();
      std::function<void()> task = std::move(it->second);
      due_of_.erase(it->first.second);
      tasks_.erase(it);
      ++ran;
      task();
      continue;
    }
    if (!post_at) return ran;
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // A nested call may have taken it meanwhile.
      if (posted_.empty() || posted_.front().at > horizon) continue;
      work = std::move(posted_.front().work);
      posted_.pop_front();
    }
    ++ran;
    work();
  }
}

std::optional<EventQueue::TimePoint> EventQueue::NextDue() const {
  if (tasks_.empty()) return std::nullopt;
  return tasks_.begin()->first.first;
}

bool EventQueue::HasPosted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !posted_.empty();
}

}  // namespace ornat::win32
