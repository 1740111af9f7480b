#pragma once
// Time source of the window's timers. Two implementations: VirtualScheduler (tests:
// time moves only when the test advances it) and the Qt front end's QtScheduler.

#include <chrono>
#include <cstdint>
#include <functional>

namespace ornat {

using Micros = std::chrono::microseconds;
using Millis = std::chrono::milliseconds;

class Scheduler {
 public:
  using TaskId = std::uint64_t;
  virtual ~Scheduler() = default;
  // Runs task once on the user-interface thread after delay (measured from Now()).
  // Returns an id for Cancel; ids are never 0.
  virtual TaskId ScheduleAfter(Micros delay, std::function<void()> task) = 0;
  // Forgets a task that has not run yet; unknown or finished ids are ignored.
  virtual void Cancel(TaskId id) = 0;
  // Time since the scheduler was made.
  virtual Micros Now() const = 0;
};

}  // namespace ornat
