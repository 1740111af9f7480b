#pragma once
// LiveForm: the window program (ui/window_program.h) in real time (RealtimeLoop), its
// ComPort1 the real component with its real event thread over the POSIX device, on the port `port`
// (a registered name such as "ornat-sim", or a pty path). For the integration tests against a
// running ornat-sim (support/sim_process.h). FormCreate has run with `port` as the
// only port found.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/handler_gate.h"
#include "runtime/realtime_loop.h"
#include "serial/comport.h"
#include "serial/device_factory.h"
#include "support/basic_form.h"
#include "ui/main_window.h"
#include "ui/toolkit/dialogs.h"
#include "ui/window_program.h"

namespace ornat::testing {

struct LiveForm {
  explicit LiveForm(const std::string& port);
  ~LiveForm();
  LiveForm(const LiveForm&) = delete;
  LiveForm& operator=(const LiveForm&) = delete;

  using Clock = std::chrono::steady_clock;

  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  RealtimeLoop loop{gate};
  SwitchingCommDevice device;
  FakePortList ports;
  TempDir dir;

 private:
  std::vector<Clock::time_point> completions_;
  WindowProgram program_;

 public:
  // The window's exchange observer: add the journal, a survey... to it.
  ExchangeObserverList& exchanges = program_.observers();

  TForm1& w() { return program_.form(); }
  SharedState& state() { return w().State; }
  // Runs fn as an event of the window, through the gate.
  void Do(const std::function<void()>& fn) { program_.Do(fn); }
  void Click(TTeButton& b) {
    Do([&] { b.Click(); });
  }
  void Click(TTeCheckBox& b) {
    Do([&] { b.Click(); });
  }
  void Click(TTeRadioButton& b) {
    Do([&] { b.Click(); });
  }
  // Runs the loop until pred() holds or `limit` has passed; returns pred().
  bool RunUntil(const std::function<bool()>& pred,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    return loop.RunUntil(pred, limit);
  }
  void RunFor(std::chrono::milliseconds d) { loop.RunFor(d); }
  // Runs until the next completion of an exchange.
  bool RunToCompletion(std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

  std::vector<std::string> LogLines() const { return program_.form().TeMemo1.Lines(); }
  // When each completion (Timer_RxTimer) began, on the steady clock.
  const std::vector<Clock::time_point>& Completions() const { return completions_; }

 private:
  FormEnvironment Environment();
};

// The number of file descriptors this process holds (/proc/self/fd).
int OpenFileDescriptors();

// Ends the process if a step does not finish within `limit`: a hang is the failure
// that some integration tests look for, and it must not stall the whole run.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace ornat::testing
