#include "ui/toolkit/timer.h"

namespace ornat {

TTimer::TTimer(std::string name, Scheduler& scheduler, HandlerGate& gate, int interval_ms,
               bool enabled)
    : TComponent(std::move(name)), scheduler_(scheduler), gate_(gate), interval_ms_(interval_ms) {
  SetEnabled(enabled);
}

TTimer::~TTimer() {
  Stop();
}

void TTimer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on)
    Restart();
  else
    Stop();
}

void TTimer::SetInterval(int ms) {
  if (ms == interval_ms_) return;
  interval_ms_ = ms;
  if (enabled_) Restart();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
  bool had = static_cast<bool>(on_timer_);
  on_timer_ = std::move(handler);
  // A timer that could not fire for want of a handler starts counting once it has one.
  if (enabled_ && !had && on_timer_) Restart();
}

void TTimer::Stop() {
  ++generation_;
  if (task_ != 0) scheduler_.Cancel(task_);
  task_ = 0;
}

void TTimer::Restart() {
  Stop();
  Arm();
}

void TTimer::Arm() {
  if (!enabled_ || interval_ms_ <= 0 || !on_timer_) return;
  unsigned long gen = generation_;
  task_ = scheduler_.ScheduleAfter(Millis(interval_ms_), [this, gen] { Fire(gen); });
}

void TTimer::Fire(unsigned long generation) {
  if (generation != generation_) return;
  task_ = 0;
  // The next period counts from this firing, whatever the handler does.
  Arm();
  // Like the platform's timer messages, firings do not pile up: while one waits
  // in the gate, later ones are merged into it.
  held_generation_ = generation_;
  if (firing_held_) return;
  firing_held_ = true;
  gate_.Enter([this] {
    firing_held_ = false;
    if (held_generation_ != generation_ || !enabled_ || !on_timer_) return;
    TNotifyEvent handler = on_timer_;
    handler(this);
  });
}

}  // namespace ornat
