#include "app/qt_scheduler.h"

#include <QTimer>
#include <chrono>

namespace ornat {

QtScheduler::QtScheduler(QObject* parent) : QObject(parent) {
  clock_.start();
}

QtScheduler::~QtScheduler() {
  for (auto& [id, entry] : timers_) delete entry.timer;
}

Scheduler::TaskId QtScheduler::ScheduleAfter(Micros delay, std::function<void()> task) {
  if (delay < Micros(0)) delay = Micros(0);
  // QTimer counts whole milliseconds; rounding up keeps "not before the delay".
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
  TaskId id = next_id_++;
  auto* timer = new QTimer(this);
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(true);
  connect(timer, &QTimer::timeout, this, [this, id] { Run(id); });
  timers_.emplace(id, Entry{timer, std::move(task)});
  timer->start(ms);
  return id;
}

void QtScheduler::Cancel(TaskId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.timer->stop();
  it->second.timer->deleteLater();
  timers_.erase(it);
}

Micros QtScheduler::Now() const {
  return std::chrono::duration_cast<Micros>(std::chrono::nanoseconds(clock_.nsecsElapsed()));
}

void QtScheduler::Run(TaskId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  // Forget the task before it runs: it may schedule or cancel others, itself included.
  std::function<void()> task = std::move(it->second.task);
  it->second.timer->deleteLater();
  timers_.erase(it);
  task();
}

}  // namespace ornat
