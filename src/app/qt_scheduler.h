#pragma once
// QtScheduler: the window's time source on the Qt event loop. Each task gets its own
// single-shot QTimer of the precise kind (millisecond accuracy), so the 5 ms
// hand-over and 20 ms sequencer timers keep their periods.
//
// Tasks run straight from the event loop, as the virtual scheduler runs them: a
// TTimer's firing re-arms itself first and then enters the HandlerGate on its own,
// so a firing that comes due inside a modal dialog's nested loop is held there.

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <unordered_map>

#include "ui/toolkit/scheduler.h"

class QTimer;

namespace ornat {

class QtScheduler : public QObject, public Scheduler {
  Q_OBJECT

 public:
  explicit QtScheduler(QObject* parent = nullptr);
  ~QtScheduler() override;

  // Runs task once after delay, rounded up to whole milliseconds (never early).
  TaskId ScheduleAfter(Micros delay, std::function<void()> task) override;
  void Cancel(TaskId id) override;
  Micros Now() const override;
  // Tasks scheduled and not yet run or cancelled.
  std::size_t Pending() const { return timers_.size(); }

 private:
  void Run(TaskId id);
  QElapsedTimer clock_;
  TaskId next_id_ = 1;
  struct Entry {
    QTimer* timer;
    std::function<void()> task;
  };
  std::unordered_map<TaskId, Entry> timers_;
};

}  // namespace ornat
