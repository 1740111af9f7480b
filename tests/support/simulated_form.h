#pragma once
// SimulatedForm: a TForm1 on the virtual clock whose ComPort1 (the real component,
// with its real event thread) talks to a SimulatedLine with one detector at address
// 247, 9600 bit/s, seen through a RecordingCommDevice. FormCreate has run (port
// "COM1", address 247, BaudIndex 3). Nothing moves until the test drives the clock.
//
//   SimulatedForm t;
//   t.Click(t.w().TeButton5);                 // "&ЗАПРОС ПАРАМЕТРОВ"
//   t.RunUntilIdle();                          // the whole exchange, in virtual time
//   EXPECT_EQ(t.LogLines().back(), "   : \u041E\u041A.");
//   EXPECT_EQ(t.Requests()[0], (Bytes{0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A}));
//
// Faults: t.line.faults().silent = true; t.line.detector().SetState(1); ...
// Failures of the port: t.device.FailNext("Open", ENOENT).

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line/simulated_line.h"
#include "runtime/dispatcher.h"
#include "runtime/virtual_scheduler.h"
#include "serial/comport.h"
#include "serial/platform/recording_comm_device.h"
#include "support/basic_form.h"
#include "ui/main_window.h"

namespace ornat::testing {

using sim::Bytes;

struct SimulatedForm {
  // with_detector false: an empty line (add detectors with line.AddDetector).
  // hold_line: the window takes its line's lock as the programs do (BasicForm).
  explicit SimulatedForm(bool with_detector = true, bool hold_line = false);
  ~SimulatedForm();
  SimulatedForm(const SimulatedForm&) = delete;
  SimulatedForm& operator=(const SimulatedForm&) = delete;

  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  VirtualScheduler clock;
  QueueDispatcher dispatcher{gate};
  sim::SimulatedLine line{clock, dispatcher};
  RecordingCommDevice device{line};  // the window's device: records the line's calls
  FakePortList ports;
  TempDir dir;
  // The window's exchange observer: add the journal, a survey... to it.
  ExchangeObserverList exchanges;
  std::unique_ptr<TForm1> form;  // last: destroyed first, before the line

  TForm1& w() { return *form; }
  SharedState& state() { return form->State; }

  // Runs fn as an event of the window: through the gate, like a click.
  void Do(const std::function<void()>& fn);
  void Click(TTeButton& button);
  void Click(TTeCheckBox& box);
  void Click(TTeRadioButton& button);
  void Click(TTeItem& item);
  // Clicks the "Delay" item of `ms` (100, 150 ... 350).
  void SelectSearchDelay(int ms);

  // Virtual time.
  long NowMs() const;
  Micros Now() const { return clock.Now(); }
  void AdvanceMs(long ms) { clock.AdvanceMs(ms); }
  // Runs until nothing is scheduled within `limit`; true when the clock ran empty.
  bool RunUntilIdle(Millis limit = Millis(60'000));
  // Runs due tasks one instant at a time until pred() holds (checked after each
  // instant) or `limit` of virtual time has passed; returns pred(). The clock then
  // stands at the instant pred() became true.
  bool RunUntil(const std::function<bool()>& pred, Millis limit = Millis(60'000));
  // Runs until the next completion of an exchange (Timer_Rx fired and ran).
  bool RunToCompletion(Millis limit = Millis(60'000));

  // What the window and the line show.
  std::vector<std::string> LogLines() const;
  std::vector<sim::WireFrame> WireFrames() const { return line.WireFrames(); }
  std::vector<Bytes> Requests() const { return line.Requests(); }
  std::vector<long> RequestTimesMs() const;
  // Virtual times (ms) at which Timer_RxTimer ran, in order.
  const std::vector<Micros>& Completions() const { return completions_; }
  std::vector<std::string> ExceptionsShown() const { return dialogs.exceptions; }
  // Forgets what the line, the device and the completions recorded so far, so that a
  // long run holds only what the window itself holds.
  void ForgetHistory();

 private:
  std::vector<Micros> completions_;
};

// Micros to milliseconds, for readable expectations (exact: asserts on whole ms).
inline double Ms(Micros t) {
  return static_cast<double>(t.count()) / 1000.0;
}

}  // namespace ornat::testing
