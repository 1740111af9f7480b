#pragma once
// The user-interface thread's due work, in the order it came due: timer tasks by the
// time they are due, work handed over from other threads by the time it was posted.
// A message loop runs it whenever it gets control: its own loop when the waitable
// timer fires or a wake-up message arrives, and a nested loop (a message box, an
// open menu, the window being dragged) through the same wake-up message and a relay
// timer. Whoever runs it, a timer due before a hand-over was posted runs before it,
// so the two keep their order also where a nested loop delivers them late.
//
// The clock is given, so that the order can be tested on a virtual one. Tasks run
// only once due: never early, whatever woke the loop.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace ornat::win32 {

class EventQueue {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using TaskId = std::uint64_t;

  // now: the clock (any thread may call it). wake: called on the posting thread after
  // work was queued, without the lock held; it makes the UI thread call RunDue.
  EventQueue(std::function<TimePoint()> now, std::function<void()> wake);

  // UI thread. Returns an id (never 0) for Cancel.
  TaskId Schedule(TimePoint due, std::function<void()> task);
  // UI thread; unknown or finished ids are ignored.
  void Cancel(TaskId id);
  // Any thread: queues work stamped with the present time, then wakes the UI thread.
  void Post(std::function<void()> work);

  // UI thread: runs, in time order, every task due and every work posted up to the
  // present time (taken once, when it is called: what comes due while it runs waits
  // for the next call). A task due at the moment work was posted runs first. Safe to
  // call from inside a task (a nested loop): each item runs once. Returns how many ran.
  std::size_t RunDue();

  // UI thread: the due time of the earliest task.
  std::optional<TimePoint> NextDue() const;
  std::size_t Tasks() const { return tasks_.size(); }
  bool HasPosted() const;
  TimePoint Now() const { return now_(); }

 private:
  struct Posted {
    TimePoint at;
    std::uint64_t seq;
    std::function<void()> work;
  };
  std::function<TimePoint()> now_;
  std::function<void()> wake_;
  TaskId next_id_ = 1;
  std::map<std::pair<TimePoint, TaskId>, std::function<void()>> tasks_;
  std::map<TaskId, TimePoint> due_of_;
  mutable std::mutex mutex_;
  std::deque<Posted> posted_;
  std::uint64_t next_seq_ = 0;
};

}  // namespace ornat::win32
