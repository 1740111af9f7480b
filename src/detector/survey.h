#pragma once
// The survey: every device on the line, not only the first. It drives the window's
// own bus search (the "Search" menu, the delay items, the baud-rate menu, the address
// editor and the query button, as an engineer would) and goes on where the search
// stops: after a hit it starts the search again past the address that answered, and
// it ends each run of addresses where the plan says. After the sweep of a speed it
// runs the window's parameter query at each detector found there. It builds no frame
// and times nothing itself: every probe, window and query is the window's.
//
// Why its windows are longer than the search's. An answer is handed over 150 ms after
// its last byte (the port's read interval), and two answers whose bytes come within
// 150 ms of each other end up in one read, of which the validator keeps only the last.
// With the search's 100 or 150 ms windows the next probe goes out while the previous
// answer is still being read, so neighbours (5 and 6) can merge and one of them is
// lost. The survey's window at a speed is therefore the smallest delay-menu value that
// covers the request and the answer on the wire, a turnaround of up to 40 ms, the
// 150 ms read interval and 20 ms to spare (SafeWindowMs): 350 ms at 1200 bit/s,
// 300 ms at 2400, 250 ms at 4800 and above. Every answer is then handed over within
// its own probe's window, before the next probe goes out. An answer is attributed by
// the address it carries; one that carries another address than the probe's came late
// and is counted (LateAnswers).
//
// Threads: the user-interface thread only. The survey is an ExchangeObserver: add it
// to the window's observer list; it acts on the window through the HandlerGate, never
// from inside the completion that tells it.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "detector/shown_parameters.h"
#include "modbus/exchange_observer.h"
#include "ui/exchange_outcome.h"
#include "ui/main_window.h"

namespace ornat {

// The delay-menu item of `ms` (CustomItem7 for 100 ... CustomItem12 for 350), or null.
TTeItem* DelayMenuItem(TForm1& form, std::uint16_t ms);

struct SurveyPlan {
  // Rows of the baud-rate table to sweep, in this order.
  std::vector<std::uint8_t> baud_indices;
  // Address runs, each inclusive, within 1..247, ascending and not overlapping.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> ranges{{1, 247}};
  // 0: the safe window of each speed; otherwise a delay-menu value that is not below
  // the safe window of any speed swept (the caller checks: UnsafeDelay).
  std::uint16_t delay_ms = 0;
};

struct SurveyDevice {
  enum class Kind { kDetector, kOtherIdentity, kException };
  Kind kind = Kind::kDetector;
  std::uint8_t address = 0;     // the address in the answer
  std::uint8_t baud_index = 0;  // the speed it answered at
  std::uint8_t probed = 0;      // the address of the probe whose exchange it came in
  std::uint16_t identity = 0;   // register 0 (not for kException)
  std::uint8_t exception_code = 0;
  std::vector<std::uint8_t> answer;  // the answer as validated
  // For a detector: the parameter query after the sweep of its speed.
  bool queried = false;
  ExchangeOutcome query_outcome = ExchangeOutcome::kNone;
  ShownParameters shown;
  std::vector<std::string> query_log;
};

// Bytes that came after a probe and form no answer of a device (a garbled frame, a
// device at another speed with a garbling adapter, noise).
struct SurveyNoise {
  std::uint8_t probed = 0;
  std::uint8_t baud_index = 0;
  std::vector<std::uint8_t> bytes;
};

class BusSurvey : public ExchangeObserver {
 public:
  BusSurvey(TForm1& form, SurveyPlan plan);
  BusSurvey(const BusSurvey&) = delete;
  BusSurvey& operator=(const BusSurvey&) = delete;

  // Starts the first sweep (through the gate). Once only.
  void Start();
  // Ends the survey after the exchange in flight, as the search's "Stop" does.
  void Stop();
  bool Done() const { return phase_ == Phase::kDone; }
  // A send failed (the port could not be opened): the survey ended there.
  bool PortFailed() const { return port_failed_; }
  bool Stopped() const { return stop_requested_; }

  const std::vector<SurveyDevice>& Devices() const { return devices_; }
  const std::vector<SurveyNoise>& Noise() const { return noise_; }
  int LateAnswers() const { return late_answers_; }

  struct Progress {
    std::uint8_t baud_index = 0;
    int speed_number = 0;  // 1-based
    int speed_count = 0;
    std::uint8_t address = 0;  // probed last
    int probes_done = 0;
    int probes_total = 0;
    double ms_left = 0;  // nominal: the probes left x (their window + 5 ms)
  };
  Progress CurrentProgress() const;
  // The window of each probe at that row of the baud-rate table.
  std::uint16_t WindowMs(std::uint8_t baud_index) const;
  // probes x (window + 5 ms), the length of the sweep on a silent line.
  double NominalMs() const;

  // The smallest delay-menu value that lets an answer at that speed be handed over
  // within its own probe's window (see above).
  static std::uint16_t SafeWindowMs(std::uint8_t baud_index);
  // The latest a probe's answer is handed over, from the end of the write: request
  // and answer on the wire, turnaround allowance, read interval.
  static double HandOverMs(std::uint8_t baud_index);
  // The rows among baud_indices whose safe window is longer than delay_ms.
  static std::vector<std::uint8_t> UnsafeDelay(const std::vector<std::uint8_t>& baud_indices,
                                               std::uint16_t delay_ms);

  void ExchangeEnded(const ExchangeRecord& record) override;

 private:
  enum class Phase { kReady, kSweep, kQuery, kDone };
  void Later(void (BusSurvey::*step)());
  void BeginSpeed();
  void BeginRange();
  void SearchAfter(std::uint8_t address);
  void Step();
  void BeginQueries();
  void NextQuery();
  void Finish();
  void TakeRead(const std::vector<std::uint8_t>& read, const ExchangeRecord& record);
  int ProbesPerSpeed() const;

  TForm1& form_;
  SurveyPlan plan_;
  Phase phase_ = Phase::kReady;
  std::size_t speed_pos_ = 0;
  std::size_t range_pos_ = 0;
  std::uint8_t last_probed_ = 0;
  int probes_done_ = 0;
  std::vector<std::size_t> queries_;  // indices into devices_
  std::size_t query_pos_ = 0;
  bool query_in_flight_ = false;
  bool stop_requested_ = false;
  bool port_failed_ = false;
  std::vector<SurveyDevice> devices_;
  std::vector<SurveyNoise> noise_;
  int late_answers_ = 0;
};

}  // namespace ornat
