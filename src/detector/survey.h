#pragma once
// The survey: every device on the line, not only the first. An operation of its own
// over the window's exchange engine: it sweeps each run of addresses with the bus
// search's probe (one register from register 0), sent through the engine's senders to
// each address in turn, 5 ms after the previous exchange has ended, as the search's step
// timer does; it goes on past every address that answers and stops after the last
// address of each run. The window's search, its probe counter (DeviceAddress) and its
// address editor are left alone. The PC's speed is chosen from the baud-rate menu, as an
// engineer would. Each detector found gets the window's parameter query at once, and
// each device is told (OnDevice) as soon as its line is complete.
//
// The pace. With the window's timing a probe waits 150 ms and more, as an answer is
// handed over only 150 ms after its last byte. The survey gives the engine its pace
// (survey_pace.h): a probe's window covers the request on the wire, a turnaround of up
// to 40 ms and the first answer byte, and is extended while an answer that began in it
// is being read; a read ends as soon as an answer stands whole at its end, or after a
// short silence. The parameter queries go at the same pace (their window is the
// window's response timeout), so that noise a little after an answer is not read into
// it, and the port stays open after each of them and each probe. The frames, the
// senders, the completion and the validator stay the window's.
//
// One at a time. The survey does not start while a sequence of the window runs (it ends
// at once, as stopped); while it runs, the window's search, cyclic query and interface
// reset do not start (TForm1::BeginSurveyPace).
//
// What the exchanges bring. Every byte of a probe's exchange, over all its reads, is
// searched for whole answers (an answer stands inside garbage as well as at its end):
// a probe's answer (function 3 with one register) or exception (0x83) is a device at
// the address it carries; any other whole answer is reported whole, not as a device.
// An answer of an address probed before the window it came in came late; the probes
// it may have hidden (a detector does not hear a request while another answers) are
// made again. A window that held bytes but no answer of its own address (noise, a CRC
// that failed) is probed again, up to twice. After the last probe of each speed the
// line is watched a while more, so that nothing answered late is lost.
//
// The queries. A probe that got no answer of its own may still be answered, for
// kLateAnswerMs: a query waits until then, so that no such answer comes in its
// exchange. A query whose window held noise, a garbled answer or another address's
// answer is made again, up to twice; each failed one's reason is kept.
//
// Two or more devices at one address: two answers from one address in one window, or
// one and a garbled one (their bytes met on the wire), or a garbled answer to each of
// a detector's three queries. Such a device is marked, and its query is not made where
// that is known first.
//
// Threads: the user-interface thread only. The survey is an ExchangeObserver: add it
// to the window's observer list; it acts on the window through the HandlerGate, never
// from inside the completion that tells it.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "detector/shown_parameters.h"
#include "modbus/answer_scan.h"
#include "modbus/exchange_observer.h"
#include "modbus/exchange_outcome.h"
#include "modbus/survey_pace.h"
#include "ui/main_window.h"

namespace ornat {

// The delay-menu item of `ms` (CustomItem7 for 100 ... CustomItem12 for 350), or null.
TTeItem* DelayMenuItem(TForm1& form, std::uint16_t ms);

struct SurveyPlan {
  // Rows of the baud-rate table to sweep, in this order.
  std::vector<std::uint8_t> baud_indices;
  // Address runs, each inclusive, within 1..247, ascending and not overlapping.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> ranges{{1, 247}};
  // 0: each probe's window is the line's (SurveyWindowMs); otherwise at least this many
  // milliseconds, for devices slower than 40 ms.
  std::uint16_t delay_ms = 0;
};

struct SurveyDevice {
  // kGarbled: bytes came in the window of every probe of its address and never formed
  // an answer, while the probes around it met a quiet line: something answers there.
  enum class Kind { kDetector, kOtherIdentity, kException, kGarbled };
  Kind kind = Kind::kDetector;
  std::uint8_t address = 0;     // the address in the answer
  std::uint8_t baud_index = 0;  // the speed it answered at
  // The probe whose window it came in; for an answer that came between two exchanges
  // (or in a query's), the last probe made before it.
  std::uint8_t probed = 0;
  int attempt = 1;             // which probe of that address it came in (1 to 3)
  std::uint16_t identity = 0;  // register 0 (not for kException)
  std::uint8_t exception_code = 0;
  std::vector<std::uint8_t> answer;  // the answer itself (kGarbled: the last window's bytes)
  // It came after its probe's window: handed over between two probes, or in the
  // window of a later probe.
  bool late = false;
  // Bytes in front of it and behind it in its exchange, not forming an answer: noise,
  // or (one byte behind) what an RS-485 transmitter leaves as it turns off.
  std::vector<std::uint8_t> before;
  std::vector<std::uint8_t> after;
  bool TrailingByte() const { return after.size() == 1; }
  // Two or more devices answer at this address: two answers in one window, one and a
  // garbled one, or a garbled answer to every query.
  bool several_devices = false;
  // For a detector: the window's parameter query, made when it was found (not when
  // several devices answer), and made again up to twice when its window held noise, a
  // garbled answer or another address's answer. The outcome and log are the last
  // query's; query_troubles says what went wrong with each failed one.
  bool queried = false;
  int query_attempts = 0;
  ExchangeOutcome query_outcome = ExchangeOutcome::kNone;
  std::vector<std::string> query_troubles;
  ShownParameters shown;
  std::vector<std::string> query_log;
};

// What an exchange of the survey brought that is no device: bytes that form no answer
// (a garbled answer, a device at another speed behind an adapter that garbles, noise),
// or a whole answer that no probe asks for (a late answer to another request).
struct SurveyNoise {
  std::uint8_t probed = 0;  // the probe whose window it came in (0: between probes)
  int attempt = 1;
  std::uint8_t baud_index = 0;
  std::vector<std::uint8_t> bytes;  // every byte of the exchange, as read
  // A whole answer no probe asks for: where it stands in bytes, and its address.
  bool whole_answer = false;
  std::size_t answer_at = 0;
  std::size_t answer_length = 0;
};

class BusSurvey : public ExchangeObserver {
 public:
  BusSurvey(TForm1& form, SurveyPlan plan);
  // Turns the engine's survey pace off, whatever state the survey is in.
  ~BusSurvey() override;
  BusSurvey(const BusSurvey&) = delete;
  BusSurvey& operator=(const BusSurvey&) = delete;

  // Told of each device as soon as its line is complete: a detector after its
  // parameter query (or at the end, unqueried, when the survey stopped first), any
  // other device when it was found. Set before Start.
  void OnDevice(std::function<void(const SurveyDevice&)> f) { on_device_ = std::move(f); }

  // Starts the first sweep (through the gate). Once only. A sequence of the window under
  // way (SessionMode not 0) or another survey's pace: it ends at once, Stopped().
  void Start();
  // Ends the survey after the exchange in flight, as the search's "Stop" does.
  void Stop();
  bool Done() const { return phase_ == Phase::kDone; }
  // A send failed (the port could not be opened): the survey ended there.
  bool PortFailed() const { return port_failed_; }
  // Stop was called, or the survey could not start.
  bool Stopped() const { return stop_requested_; }

  const std::vector<SurveyDevice>& Devices() const { return devices_; }
  const std::vector<SurveyNoise>& Noise() const { return noise_; }
  // Devices whose answer came after its probe's window.
  int LateAnswers() const;
  // Every probe made, and those made again after noise, a failed CRC or a late answer.
  int Probes() const { return probes_done_; }
  int Reprobes() const { return reprobes_; }

  struct Progress {
    std::uint8_t baud_index = 0;
    int speed_number = 0;  // 1-based
    int speed_count = 0;
    std::uint8_t address = 0;  // probed last
    int probes_done = 0;
    int probes_total = 0;  // of the plan, probes made again not counted
    double ms_left = 0;    // nominal, for the probes of the plan left
  };
  Progress CurrentProgress() const;
  // The window of each probe at that row of the baud-rate table.
  std::uint16_t WindowMs(std::uint8_t baud_index) const;
  // The round-trip allowance on the form's port (TForm1::RoundTripAllowanceMs).
  std::uint16_t Allowance() const;
  // The length of the survey on a silent line: probes x (window + 5 ms), and the
  // watch after the last probe of each speed.
  double NominalMs() const;

  // The engine's pace of the survey at that row of the baud-rate table; a probe window
  // of at least delay_ms, and the round-trip allowance of a network line on top.
  static SurveyPace PaceFor(std::uint8_t baud_index, std::uint16_t delay_ms = 0,
                            std::uint16_t allowance_ms = 0);
  // The line's window of a probe: request (8 bytes) on the wire, 40 ms of turnaround and
  // the first answer byte, rounded up to whole milliseconds.
  static std::uint16_t SurveyWindowMs(std::uint8_t baud_index);
  // How long the line is watched after the last probe of a speed.
  static constexpr int kWatchAfterSweepMs = 200;
  // How long after a probe that got no answer of its own in its window that answer may
  // still come: a query waits until then.
  static constexpr int kLateAnswerMs = kWatchAfterSweepMs;

  void ExchangeEnded(const ExchangeRecord& record) override;

 private:
  enum class Phase { kReady, kSweep, kQuery, kWatch, kDone };
  void Later(void (BusSurvey::*step)());
  void RecheckSoon();
  static constexpr int kRecheckMs = 5;
  void BeginSpeed();
  void BeginRange();
  // The sweep goes on with a probe of address + 1, 5 ms from now.
  void SweepAfter(std::uint8_t address);
  void StopSweep();
  // The step timer of the sweep: the next probe 5 ms from now, unless it is due already.
  void ProbeSoon();
  void Probe();
  void Step();
  void NextQuery();
  void EndOfSweep();
  void AfterWatch();
  void NextSpeed();
  void Finish();
  // What an exchange brought. probed: the probe whose window it was (0: none); late:
  // every answer in it came after its window; devices_only: only probes' answers count
  // (a parameter query's exchange, whose own answer is no noise).
  void TakeExchange(const ExchangeRecord& record, std::uint8_t probed, bool late,
                    bool devices_only);
  // Takes a query's outcome; true when the query is to be made again.
  bool JudgeQuery(std::size_t index, const ExchangeRecord& record);
  static bool HeldAnswerFrom(const ExchangeRecord& record, std::uint8_t address);
  void AddDevice(SurveyDevice d);
  void Tell(std::size_t index);
  bool ProbedHere(std::uint8_t address) const;
  int ProbesPerSpeed() const;
  std::uint8_t CurrentBaud() const { return plan_.baud_indices[speed_pos_]; }

  TForm1& form_;
  SurveyPlan plan_;
  // The engine's pace at the current speed; pace_.probing while the sweep goes on.
  SurveyPace pace_;
  // The engine has this survey's pace (from the first speed to the end).
  bool pace_given_ = false;
  std::function<void(const SurveyDevice&)> on_device_;
  Phase phase_ = Phase::kReady;
  std::size_t speed_pos_ = 0;
  std::size_t range_pos_ = 0;
  std::uint8_t last_probed_ = 0;
  int probes_done_ = 0;
  int plan_probes_done_ = 0;
  int reprobes_ = 0;
  // Probes made of each address at the current speed.
  std::vector<int> attempts_ = std::vector<int>(256, 0);
  // Addresses whose answer has come at the current speed, in time or late.
  std::vector<bool> answered_ = std::vector<bool>(256, false);
  // Windows of each address at the current speed that held bytes forming no whole
  // answer at all; those of them that began as a garbled answer of that address; and
  // the bytes of the last such window.
  std::vector<int> garbled_ = std::vector<int>(256, 0);
  std::vector<int> garbled_own_ = std::vector<int>(256, 0);
  std::vector<std::vector<std::uint8_t>> garbled_bytes_ =
      std::vector<std::vector<std::uint8_t>>(256);
  // After the sweep of a speed: every address whose every probe held bytes that formed
  // no answer, between neighbours that met a quiet line, is a device (kGarbled).
  void TellGarbledAddresses();
  // The probes to make again: the search goes on after rewind_to_ - 1 (0: none).
  std::uint8_t rewind_to_ = 0;
  // Detectors found and not yet queried (indices into devices_), the one in flight.
  std::vector<std::size_t> to_query_;
  std::size_t querying_ = 0;
  bool query_in_flight_ = false;
  // Where the survey goes on after the queries: the sweep, or the next speed.
  Phase after_queries_ = Phase::kSweep;
  // Until then an answer may still come for a probe that got none in its window.
  Micros owed_until_{0};
  // The watch after a sweep, or the wait for owed answers before a query.
  Scheduler::TaskId watch_task_ = 0;
  Scheduler::TaskId recheck_task_ = 0;
  // The next probe of the sweep.
  Scheduler::TaskId probe_task_ = 0;
  bool stop_requested_ = false;
  bool port_failed_ = false;
  std::vector<SurveyDevice> devices_;
  std::vector<bool> told_;
  std::vector<SurveyNoise> noise_;
};

}  // namespace ornat
