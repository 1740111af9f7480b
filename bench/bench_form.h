#pragma once
// The window's logic in real time against a running ornat-sim, for the exchange
// benchmarks: the window program (ui/window_program.h) on a RealtimeLoop with the real
// ComPort1 over the POSIX device (or another, such as a network line's) under a device
// that stamps each Open and Write, and a stamp of each completion. Not a test: nothing
// here asserts.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/handler_gate.h"
#include "runtime/realtime_loop.h"
#include "serial/comport.h"
#include "serial/platform/port_list.h"
#include "stamping_device.h"
#include "ui/main_window.h"
#include "ui/toolkit/dialogs.h"
#include "ui/window_program.h"

namespace ornat::bench {

class OnePort : public PortListSource {
 public:
  explicit OnePort(std::string name) : name_(std::move(name)) {}
  std::optional<std::vector<std::string>> ListPorts() override {
    return std::vector<std::string>{name_};
  }

 private:
  std::string name_;
};

// The loop's dispatcher, with the moment each piece of posted work (a hand-over of the
// bytes read, on the event thread) began to run on the user-interface thread.
class StampingDispatcher : public Dispatcher {
 public:
  explicit StampingDispatcher(Dispatcher& inner) : inner_(inner) {}
  void Post(std::function<void()> work) override {
    inner_.Post([this, w = std::move(work)] {
      ran_.push_back(Clock::now());
      w();
    });
  }
  void Send(std::function<void()> work) override { inner_.Send(std::move(work)); }
  void ServeSynchronous() override { inner_.ServeSynchronous(); }
  bool OnUiThread() const override { return inner_.OnUiThread(); }
  // UI thread only.
  const std::vector<Clock::time_point>& Ran() const { return ran_; }

 private:
  Dispatcher& inner_;
  std::vector<Clock::time_point> ran_;
};

struct BenchForm {
  // `target`: the device under the stamps; none, the POSIX device.
  explicit BenchForm(const std::string& port, std::unique_ptr<CommDevice> target = nullptr)
      : device(std::move(target)), ports(port), program(Environment()) {
    form->Timer_Rx.SetOnTimer([this](TObject* sender) {
      completions.push_back(Clock::now());
      form->Timer_RxTimer(sender);
      completed.push_back(Clock::now());
    });
    program.Start();
  }

  bool RunToCompletion(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const std::size_t before = completions.size();
    return loop.RunUntil([&] { return completions.size() > before; }, limit);
  }

  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  RealtimeLoop loop{gate};
  StampingDispatcher dispatcher{loop.dispatcher()};
  StampingDevice device;
  OnePort ports;
  // The start and the end of every completion (Timer_RxTimer).
  std::vector<Clock::time_point> completions, completed;
  WindowProgram program;
  // The window's exchange observer (a survey adds itself here).
  ExchangeObserverList& exchanges = program.observers();
  TForm1* form = &program.form();

 private:
  FormEnvironment Environment() {
    FormEnvironment env = FormEnvironment::Realtime(loop, gate, dialogs, device);
    env.dispatcher = &dispatcher;
    env.ports = &ports;
    env.working_dir = "/nonexistent";
    // ORNAT_BENCH_HOLD_LINE=0: without the line lock, to weigh what it costs.
    const char* hold = std::getenv("ORNAT_BENCH_HOLD_LINE");
    env.hold_line = hold == nullptr || std::string(hold) != "0";
    return env;
  }
};

inline double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Prints "name: median X ms, worst Y ms (n values)".
inline void Report(const char* name, std::vector<double> values) {
  if (values.empty()) {
    std::printf("%-48s no values\n", name);
    return;
  }
  std::sort(values.begin(), values.end());
  const double median = values.size() % 2
                            ? values[values.size() / 2]
                            : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
  std::printf("%-48s median %8.3f ms   worst %8.3f ms   best %8.3f ms   (n = %zu)\n", name, median,
              values.back(), values.front(), values.size());
}

// Prints "RESULT <key>_median V ms", "RESULT <key>_p95 V ms" (the 95th percentile)
// and "RESULT <key>_worst V ms", the lines that bench/run gathers into its table.
inline void Result(const char* key, std::vector<double> values) {
  if (values.empty()) return;
  std::sort(values.begin(), values.end());
  const double median = values.size() % 2
                            ? values[values.size() / 2]
                            : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
  const std::size_t p95 = std::min(values.size() - 1, (values.size() * 95 + 99) / 100 - 1);
  std::printf("RESULT %s_median %.3f ms\n", key, median);
  std::printf("RESULT %s_p95 %.3f ms\n", key, values[p95]);
  std::printf("RESULT %s_worst %.3f ms\n", key, values.back());
}

}  // namespace ornat::bench
