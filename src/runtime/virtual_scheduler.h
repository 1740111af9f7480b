#pragma once
// A virtual clock: nothing happens until the test advances it; due tasks then run in
// the order of their due time (ties in the order they were scheduled), each with the
// clock set to its own due time, so intervals are asserted exactly.

#include <optional>

#include "runtime/scheduler.h"
#include "runtime/task_queue.h"

namespace ornat {

class VirtualScheduler : public Scheduler {
 public:
  TaskId ScheduleAfter(Micros delay, std::function<void()> task) override;
  void Cancel(TaskId id) override;
  Micros Now() const override { return now_; }

  // Moves the clock forward by d, running every task that comes due on the way
  // (tasks scheduled meanwhile included). Ends with Now() = start + d.
  void Advance(Micros d);
  void AdvanceMs(long ms) { Advance(Millis(ms)); }
  // Runs tasks until none is due within `limit` of now; returns true when the
  // queue ran empty. The clock stops at the last task run.
  bool RunUntilIdle(Micros limit = std::chrono::hours(24));
  // Advances to the next due task and runs all tasks due at that instant.
  // Returns false when nothing is scheduled.
  bool Step();
  std::optional<Micros> NextDue() const;
  std::size_t Pending() const { return tasks_.Size(); }

 private:
  bool RunNextDueBy(Micros deadline);
  Micros now_{0};
  TaskQueue<Micros> tasks_;
};

}  // namespace ornat
