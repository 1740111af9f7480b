#pragma once
// A window timer. Its rules, which the exchange engine and the sequencer rely on:
//  1. enabled, it fires after Interval ms and again after every further Interval
//     until it is disabled;
//  2. enabling a disabled timer starts a fresh countdown; enabling an enabled one
//     changes nothing;
//  3. a different Interval restarts an enabled timer's countdown; the same one
//     changes nothing;
//  4. without a handler, or with Interval 0, it never fires.
// Firings enter through the HandlerGate; a firing held there is dropped if the timer
// was stopped or restarted before it could run (as a killed timer's message is).

#include "runtime/handler_gate.h"
#include "runtime/object.h"
#include "runtime/scheduler.h"

namespace ornat {

class TTimer : public TComponent {
 public:
  TTimer(std::string name, Scheduler& scheduler, HandlerGate& gate, int interval_ms = 1000,
         bool enabled = true);
  ~TTimer() override;
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  int Interval() const { return interval_ms_; }
  void SetInterval(int ms);
  const TNotifyEvent& OnTimer() const { return on_timer_; }
  // Replacing the handler does not restart the countdown.
  void SetOnTimer(TNotifyEvent handler);

 private:
  void Restart();
  void Stop();
  void Arm();
  void Fire(unsigned long generation);
  Scheduler& scheduler_;
  HandlerGate& gate_;
  int interval_ms_;
  bool enabled_ = false;
  TNotifyEvent on_timer_;
  Scheduler::TaskId task_ = 0;
  unsigned long generation_ = 0;
  bool firing_held_ = false;
  unsigned long held_generation_ = 0;
};

}  // namespace ornat
