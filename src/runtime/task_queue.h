#pragma once
// TaskQueue: the tasks of a scheduler, in the order they come due. Every scheduler keeps
// its tasks here (the virtual clock, the real-time loop, the Qt window's scheduler) and
// differs only in how it waits for the next due time, so all of them fire in the same
// order by the same rule:
//  - tasks come out in the order of their due times, tasks due at the same time in the
//    order they were added;
//  - a task comes out only once the time given is at or past its due time, never before;
//  - a cancelled task never comes out.
// TimePoint is the scheduler's clock: Micros on the virtual clock, a steady_clock
// time point in real time.

#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "runtime/scheduler.h"

namespace ornat {

template <class TimePoint>
class TaskQueue {
 public:
  using TaskId = Scheduler::TaskId;
  struct Due {
    TimePoint due;
    std::function<void()> task;
  };

  // Ids count from 1 and are never reused.
  TaskId Add(TimePoint due, std::function<void()> task) {
    const TaskId id = next_id_++;
    tasks_.emplace(std::make_pair(due, id), std::move(task));
    due_of_.emplace(id, due);
    return id;
  }
  // False for an id that is not waiting (unknown, run or cancelled already).
  bool Cancel(TaskId id) {
    auto it = due_of_.find(id);
    if (it == due_of_.end()) return false;
    tasks_.erase(std::make_pair(it->second, id));
    due_of_.erase(it);
    return true;
  }
  std::optional<TimePoint> NextDue() const {
    if (tasks_.empty()) return std::nullopt;
    return tasks_.begin()->first.first;
  }
  // Takes out the first task whose due time is at or before `now`, if there is one.
  std::optional<Due> TakeDue(TimePoint now) {
    if (tasks_.empty() || tasks_.begin()->first.first > now) return std::nullopt;
    auto it = tasks_.begin();
    Due d{it->first.first, std::move(it->second)};
    due_of_.erase(it->first.second);
    tasks_.erase(it);
    return d;
  }
  std::size_t Size() const { return tasks_.size(); }
  bool Empty() const { return tasks_.empty(); }

 private:
  TaskId next_id_ = 1;
  // Keyed by (due time, id): the map order is the firing order.
  std::map<std::pair<TimePoint, TaskId>, std::function<void()>> tasks_;
  std::map<TaskId, TimePoint> due_of_;
};

}  // namespace ornat
