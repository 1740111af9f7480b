#include "app/qt_scheduler.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdint>

namespace ornat {

QtScheduler::QtScheduler(QObject* parent, Wakeup wakeup) : QObject(parent), start_(Clock::now()) {
  // The steady clock is CLOCK_MONOTONIC: the timerfd's deadlines are its time points.
  if (wakeup == Wakeup::kTimerfd)
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ >= 0) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
      std::uint64_t expirations = 0;
      // Only clears the readable state; a nested run may have read it already (EAGAIN).
      while (::read(fd_, &expirations, sizeof expirations) < 0 && errno == EINTR) {
      }
      RunDue();
    });
  } else {
    fallback_ = new QTimer(this);
    fallback_->setTimerType(Qt::PreciseTimer);
    fallback_->setSingleShot(true);
    connect(fallback_, &QTimer::timeout, this, [this] { RunDue(); });
  }
}

QtScheduler::~QtScheduler() {
  delete notifier_;
  notifier_ = nullptr;
  if (fd_ >= 0) ::close(fd_);
}

Scheduler::TaskId QtScheduler::ScheduleAfter(Micros delay, std::function<void()> task) {
  if (delay < Micros(0)) delay = Micros(0);
  const TaskId id = tasks_.Add(Clock::now() + delay, std::move(task));
  Arm();
  return id;
}

void QtScheduler::Cancel(TaskId id) {
  if (tasks_.Cancel(id)) Arm();
}

Micros QtScheduler::Now() const {
  return std::chrono::duration_cast<Micros>(Clock::now() - start_);
}

void QtScheduler::Arm() {
  const std::optional<Clock::time_point> next = tasks_.NextDue();
  if (next == armed_) return;
  armed_ = next;
  if (fd_ >= 0) {
    itimerspec wake{};  // all zero: disarmed
    if (next) {
      const auto ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(next->time_since_epoch());
      wake.it_value.tv_sec = static_cast<time_t>(ns.count() / 1'000'000'000);
      wake.it_value.tv_nsec = static_cast<long>(ns.count() % 1'000'000'000);
      // A zero value would disarm it: a deadline at the clock's origin is long past.
      if (wake.it_value.tv_sec == 0 && wake.it_value.tv_nsec == 0) wake.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &wake, nullptr);
    return;
  }
  if (!next) {
    fallback_->stop();
    return;
  }
  // Rounded up: the QTimer may wake late, never before the due time.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
  fallback_->start(std::max(left, std::chrono::milliseconds(0)));
}

void QtScheduler::RunDue() {
  // The descriptor fired (or the fallback woke): nothing is armed until Arm says so.
  armed_.reset();
  // Tasks that come due while these run (a task scheduling one with no delay) wait for
  // the next wake-up, so the event loop gets its turn in between.
  const Clock::time_point now = Clock::now();
  while (auto due = tasks_.TakeDue(now)) {
    // The next one is armed before this one runs: it may run a nested event loop.
    Arm();
    due->task();
  }
  Arm();
}

}  // namespace ornat
