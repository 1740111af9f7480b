#pragma once
// QtScheduler: the window's time source on the Qt event loop.
//
// A QTimer counts whole milliseconds and, on Linux, wakes up to a millisecond or more
// after its time: the 500 ms between two cyclic queries came out 1 to 1.5 ms long. So
// the scheduler keeps its tasks itself, ordered by their due time on the steady clock,
// and sets one timerfd (CLOCK_MONOTONIC, absolute) to the earliest of them; the event
// loop watches that descriptor with a QSocketNotifier. When it becomes readable, every
// task whose due time has come runs, in the order of the due times (ties in the order
// they were scheduled), exactly as the virtual clock runs them. A task never runs before
// its due time: it runs only once the clock has reached it. Where no timerfd can be made
// (out of descriptors), one precise QTimer, rounded up to whole milliseconds, wakes the
// loop instead; the order and the never-early rule stay the same.
//
// Tasks run straight from the event loop, as the virtual scheduler runs them: a
// TTimer's firing re-arms itself first and then enters the HandlerGate on its own,
// so a firing that comes due inside a modal dialog's nested loop is held there. The
// descriptor is set to the next task before a task runs, so tasks that come due while
// one runs a nested loop still run in it.

#include <QObject>
#include <chrono>
#include <functional>
#include <optional>

#include "runtime/scheduler.h"
#include "runtime/task_queue.h"

class QSocketNotifier;
class QTimer;

namespace ornat {

class QtScheduler : public QObject, public Scheduler {
  Q_OBJECT

 public:
  // How the event loop is woken: by the timerfd (the program), or by the QTimer the
  // scheduler falls back on when it can have no timerfd (tests choose it, too).
  enum class Wakeup { kTimerfd, kQTimer };
  explicit QtScheduler(QObject* parent = nullptr, Wakeup wakeup = Wakeup::kTimerfd);
  ~QtScheduler() override;
  QtScheduler(const QtScheduler&) = delete;
  QtScheduler& operator=(const QtScheduler&) = delete;

  // Runs task once on this thread's event loop, once delay has passed (never earlier).
  TaskId ScheduleAfter(Micros delay, std::function<void()> task) override;
  void Cancel(TaskId id) override;
  Micros Now() const override;
  // Tasks scheduled and not yet run or cancelled.
  std::size_t Pending() const { return tasks_.Size(); }
  // Whether the loop is woken by a timerfd (false: by the QTimer fallback).
  bool Exact() const { return fd_ >= 0; }

 private:
  using Clock = std::chrono::steady_clock;
  void Arm();
  void RunDue();
  Clock::time_point start_;
  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* fallback_ = nullptr;
  std::optional<Clock::time_point> armed_;
  TaskQueue<Clock::time_point> tasks_;
};

}  // namespace ornat
