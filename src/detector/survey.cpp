#include "detector/survey.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "detector/register_map.h"
#include "modbus/exchange.h"
#include "modbus/protocol.h"
#include "serial/comport.h"

namespace ornat {

namespace {

// A probe is 8 bytes; its window waits for the first byte of the answer.
constexpr double kProbeChars = 8;
// How long a detector may take to answer.
constexpr double kTurnaroundAllowanceMs = 40;
// A USB adapter hands received bytes over in bursts, up to 16 ms apart with an FTDI
// chip's default latency timer: the silence that ends a read is longer, with a margin.
constexpr double kAdapterBurstGapMs = 16;
constexpr double kSilenceMarginMs = 8;
// What a window may be extended for once an answer has begun: 12 stray bytes, the
// answer, a trailing byte, then the silence and one more adapter burst.
constexpr double kExtensionChars = 12 + 7 + 1;
// The search's next probe follows its completion after 5 ms.
constexpr int kStepMs = 5;
// A first probe, and up to two more after noise or a failed CRC.
constexpr int kProbesPerAddress = 3;

constexpr std::uint16_t kProbeCount = 1;       // registers a probe reads
constexpr std::uint8_t kProbeAnswerCount = 2;  // its answer's byte count

constexpr std::uint16_t kDelayMenu[] = {100, 150, 200, 250, 300, 350};

// Why a query failed: what begins as its detector's answer but fails its CRC.
constexpr const char* kGarbledAnswer = "an answer that failed its CRC check";

// One character (10 bits) at that row of the baud-rate table, in ms.
double CharMs(std::uint8_t baud_index) {
  return 10 * 1000.0 / BaudRateToBits(kBaudTable.at(baud_index).port_value);
}

std::uint16_t CeilMs(double ms) {
  // Whole milliseconds, rounded up; the epsilon keeps an exact value from going up.
  return static_cast<std::uint16_t>(std::ceil(ms - 1e-9));
}

}  // namespace

TTeItem* DelayMenuItem(TForm1& form, std::uint16_t ms) {
  TTeItem* items[] = {&form.CustomItem7,  &form.CustomItem8,  &form.CustomItem9,
                      &form.CustomItem10, &form.CustomItem11, &form.CustomItem12};
  for (std::size_t i = 0; i < std::size(kDelayMenu); ++i)
    if (kDelayMenu[i] == ms) return items[i];
  return nullptr;
}

// --- the pace -------------------------------------------------------------------------

std::uint16_t BusSurvey::SurveyWindowMs(std::uint8_t baud_index) {
  return CeilMs((kProbeChars + 1) * CharMs(baud_index) + kTurnaroundAllowanceMs);
}

SurveyPace BusSurvey::PaceFor(std::uint8_t baud_index, std::uint16_t delay_ms,
                              std::uint16_t allowance_ms) {
  const double c = CharMs(baud_index);
  SurveyPace p;
  // A network line's round trip on top of the line's window (or the one chosen).
  p.window_ms =
      static_cast<std::uint16_t>(std::max(SurveyWindowMs(baud_index), delay_ms) + allowance_ms);
  p.allowance_ms = allowance_ms;
  // 3.5 characters is the end of a frame on Modbus RTU; at 2400 bit/s and above the
  // adapter's burst gap is the longer.
  p.silence_ms = CeilMs(std::max(3.5 * c, kAdapterBurstGapMs) + kSilenceMarginMs);
  // 3.5 characters, the silence Modbus RTU keeps between two frames: the next request
  // goes out no sooner after an answer, and the byte a transmitter leaves as it turns
  // off (within a character) still comes in the answer's exchange.
  p.settle_ms = std::max<std::uint16_t>(static_cast<std::uint16_t>(kSettlingMs), CeilMs(3.5 * c));
  // On a network line the rest of an answer that has begun may come a round trip later
  // (a TCP segment may end inside it).
  p.extension_ms = static_cast<std::uint16_t>(
      CeilMs(kExtensionChars * c + p.silence_ms + kAdapterBurstGapMs) + allowance_ms);
  return p;
}

BusSurvey::BusSurvey(TForm1& form, SurveyPlan plan) : form_(form), plan_(std::move(plan)) {}

BusSurvey::~BusSurvey() {
  for (Scheduler::TaskId task : {watch_task_, recheck_task_, probe_task_})
    if (task != 0) form_.Environment().scheduler->Cancel(task);
  if (pace_given_) form_.EndSurveyPace();
}

std::uint16_t BusSurvey::Allowance() const {
  return static_cast<std::uint16_t>(form_.RoundTripAllowanceMs());
}

std::uint16_t BusSurvey::WindowMs(std::uint8_t baud_index) const {
  return PaceFor(baud_index, plan_.delay_ms, Allowance()).window_ms;
}

int BusSurvey::ProbesPerSpeed() const {
  int n = 0;
  for (const auto& [first, last] : plan_.ranges) n += last - first + 1;
  return n;
}

double BusSurvey::NominalMs() const {
  double ms = 0;
  for (std::uint8_t b : plan_.baud_indices)
    ms += ProbesPerSpeed() * (WindowMs(b) + kStepMs) + kWatchAfterSweepMs;
  return ms;
}

int BusSurvey::LateAnswers() const {
  return static_cast<int>(std::count_if(devices_.begin(), devices_.end(),
                                        [](const SurveyDevice& d) { return d.late; }));
}

BusSurvey::Progress BusSurvey::CurrentProgress() const {
  Progress p;
  p.speed_count = static_cast<int>(plan_.baud_indices.size());
  p.speed_number = static_cast<int>(std::min(speed_pos_ + 1, plan_.baud_indices.size()));
  if (speed_pos_ < plan_.baud_indices.size()) p.baud_index = plan_.baud_indices[speed_pos_];
  p.address = last_probed_;
  p.probes_done = plan_probes_done_;
  p.probes_total = ProbesPerSpeed() * p.speed_count;
  const int done_here = plan_probes_done_ - ProbesPerSpeed() * static_cast<int>(speed_pos_);
  for (std::size_t s = speed_pos_; s < plan_.baud_indices.size(); ++s) {
    const int left = s == speed_pos_ ? std::max(0, ProbesPerSpeed() - done_here) : ProbesPerSpeed();
    p.ms_left += left * (WindowMs(plan_.baud_indices[s]) + kStepMs) + kWatchAfterSweepMs;
  }
  return p;
}

// --- driving the window ------------------------------------------------------------

void BusSurvey::Later(void (BusSurvey::*step)()) {
  // Through the gate: from inside a completion this runs right after it returns.
  form_.Environment().gate->Enter([this, step] { (this->*step)(); });
}

void BusSurvey::RecheckSoon() {
  // The window's work can end without an exchange that tells it (a read that closing
  // the port cut short hands nothing over): look again shortly.
  if (recheck_task_ != 0 || phase_ == Phase::kDone) return;
  recheck_task_ = form_.Environment().scheduler->ScheduleAfter(Millis(kRecheckMs), [this] {
    recheck_task_ = 0;
    form_.Environment().gate->Enter([this] { Step(); });
  });
}

void BusSurvey::Start() {
  if (phase_ != Phase::kReady) return;
  phase_ = Phase::kSweep;
  Later(&BusSurvey::BeginSpeed);
}

void BusSurvey::Stop() {
  form_.Environment().gate->Enter([this] {
    if (phase_ == Phase::kDone) return;
    stop_requested_ = true;
    if (phase_ == Phase::kReady) {
      Finish();
      return;
    }
    // As the search's own "Stop": a probe in flight still completes, and its completion
    // comes back to Step, which ends the survey.
    StopSweep();
    if (watch_task_ != 0) {
      form_.Environment().scheduler->Cancel(watch_task_);
      watch_task_ = 0;
    }
    Step();
  });
}

void BusSurvey::StopSweep() {
  pace_.probing = false;
  if (probe_task_ != 0) form_.Environment().scheduler->Cancel(probe_task_);
  probe_task_ = 0;
}

void BusSurvey::BeginSpeed() {
  // One at a time: a sequence of the window (its search, its cyclic query, an interface
  // reset) or another survey has the line.
  if (!pace_given_ && (form_.State.SessionMode != kSessionIdle || form_.SurveyPaced()))
    stop_requested_ = true;
  if (stop_requested_ || port_failed_ || speed_pos_ >= plan_.baud_indices.size()) {
    Finish();
    return;
  }
  phase_ = Phase::kSweep;
  const std::uint8_t b = CurrentBaud();
  std::fill(attempts_.begin(), attempts_.end(), 0);
  std::fill(answered_.begin(), answered_.end(), false);
  std::fill(garbled_.begin(), garbled_.end(), 0);
  std::fill(garbled_own_.begin(), garbled_own_.end(), 0);
  rewind_to_ = 0;
  try {
    form_.BaudItem(b).Click();  // the PC's speed, from the BaudRate menu
  } catch (const std::exception&) {
    // An open port that refuses its speed: nothing more can be sent.
    port_failed_ = true;
    Finish();
    return;
  }
  pace_ = PaceFor(b, plan_.delay_ms, Allowance());
  form_.BeginSurveyPace(&pace_);
  pace_given_ = true;
  range_pos_ = 0;
  BeginRange();
}

void BusSurvey::BeginRange() {
  if (range_pos_ >= plan_.ranges.size()) {
    EndOfSweep();
    return;
  }
  SweepAfter(static_cast<std::uint8_t>(plan_.ranges[range_pos_].first - 1));
}

void BusSurvey::SweepAfter(std::uint8_t address) {
  last_probed_ = address;
  pace_.probing = true;
  ProbeSoon();
}

void BusSurvey::ProbeSoon() {
  // As enabling an enabled step timer: a probe due already stays due when it was.
  if (probe_task_ != 0) return;
  probe_task_ = form_.Environment().scheduler->ScheduleAfter(Millis(kStepMs), [this] {
    probe_task_ = 0;
    form_.Environment().gate->Enter([this] { Probe(); });
  });
}

void BusSurvey::Probe() {
  if (!pace_.probing || phase_ == Phase::kDone) return;
  // Never over an exchange in flight (bytes that came between two probes settling): on
  // the half-duplex line the probe would collide with them. Its completion brings the
  // next step.
  if (form_.Timer_Rx.Enabled()) return;
  form_.SendReadRegistersTo(static_cast<std::uint8_t>(last_probed_ + 1), kRegIdentity, kProbeCount,
                            form_.TeMemo1);
  // No operation of the window awaits the answer: the dispatcher acknowledges it, by the
  // address it carries, and this survey reads it from the exchange's bytes.
  form_.State.PendingOp = kOpNone;
}

void BusSurvey::Step() {
  if (phase_ == Phase::kQuery) {
    if (query_in_flight_ || watch_task_ != 0) return;
    if (form_.Working()) return RecheckSoon();
    // Answers still owed to earlier probes are waited out first: one that came in the
    // query's exchange would take the query's place.
    const Micros now = form_.Environment().scheduler->Now();
    if (!stop_requested_ && !port_failed_ && now < owed_until_) {
      watch_task_ = form_.Environment().scheduler->ScheduleAfter(owed_until_ - now, [this] {
        watch_task_ = 0;
        form_.Environment().gate->Enter([this] {
          if (phase_ == Phase::kQuery) Step();
        });
      });
      return;
    }
    NextQuery();
    return;
  }
  if (phase_ == Phase::kWatch) {
    if (watch_task_ != 0) return;
    if (form_.Working()) return RecheckSoon();
    AfterWatch();
    return;
  }
  if (phase_ != Phase::kSweep) return;
  if (port_failed_ || stop_requested_) {
    StopSweep();
    if (form_.Working()) return RecheckSoon();
    Finish();
    return;
  }
  // A detector found gets its parameter query now, with the sweep stopped, once the
  // answers still owed to earlier probes have come or their time has passed.
  if (!to_query_.empty()) {
    StopSweep();
    if (form_.Working()) return RecheckSoon();  // bytes still settling
    phase_ = Phase::kQuery;
    after_queries_ = Phase::kSweep;
    Step();
    return;
  }
  const bool sweeping = pace_.probing;
  if (rewind_to_ != 0) {
    // Probes made again: the sweep goes on before the first of them.
    const auto before = static_cast<std::uint8_t>(rewind_to_ - 1);
    rewind_to_ = 0;
    if (sweeping) {
      last_probed_ = before;
      return ProbeSoon();
    }
    if (form_.Working()) {
      rewind_to_ = static_cast<std::uint8_t>(before + 1);
      return RecheckSoon();
    }
    SweepAfter(before);
    return;
  }
  const std::uint8_t last = plan_.ranges[range_pos_].second;
  if (sweeping) {
    if (last_probed_ < last) return ProbeSoon();  // the sweep goes on
    StopSweep();                                  // after the last address of the run
  } else if (form_.Working()) {
    return RecheckSoon();  // after the queries; bytes still settling
  }
  if (last_probed_ < last) {
    SweepAfter(last_probed_);
    return;
  }
  ++range_pos_;
  BeginRange();
}

void BusSurvey::NextQuery() {
  if (stop_requested_ || port_failed_) {
    Finish();
    return;
  }
  if (to_query_.empty()) {
    if (after_queries_ == Phase::kWatch) {
      NextSpeed();
      return;
    }
    phase_ = Phase::kSweep;
    Step();
    return;
  }
  querying_ = to_query_.front();
  to_query_.erase(to_query_.begin());
  SurveyDevice& d = devices_[querying_];
  ++d.query_attempts;
  query_in_flight_ = true;
  form_.QueryParametersAt(d.address);
}

void BusSurvey::EndOfSweep() {
  // The line is watched a while after the last probe, for an answer that comes late;
  // only while the port is open (the pace keeps it open after a probe).
  phase_ = Phase::kWatch;
  if (stop_requested_ || !form_.ComPort1().Connected()) {
    AfterWatch();
    return;
  }
  watch_task_ = form_.Environment().scheduler->ScheduleAfter(Millis(kWatchAfterSweepMs), [this] {
    watch_task_ = 0;
    form_.Environment().gate->Enter([this] {
      if (phase_ == Phase::kWatch) Step();
    });
  });
}

void BusSurvey::AfterWatch() {
  if (watch_task_ != 0) {
    form_.Environment().scheduler->Cancel(watch_task_);
    watch_task_ = 0;
  }
  if (stop_requested_ || port_failed_) {
    Finish();
    return;
  }
  if (!to_query_.empty()) {
    phase_ = Phase::kQuery;
    after_queries_ = Phase::kWatch;
    Step();
    return;
  }
  NextSpeed();
}

void BusSurvey::TellGarbledAddresses() {
  // Two devices at one address whose answers meet on the wire give bytes that form no
  // answer at every probe of that address, as does a unit that garbles its own; noise
  // falls on the windows of other addresses too. Without this, such a line would end
  // in "no device answered" although something answers at that address every time.
  const auto quiet = [this](int a) { return !IsSlaveAddress(a) || garbled_[a] == 0; };
  for (int a = kLowestAddress; a <= kHighestAddress; ++a) {
    if (attempts_[a] < kProbesPerAddress || garbled_[a] != attempts_[a] || answered_[a]) continue;
    if (!quiet(a - 1) || !quiet(a + 1)) continue;
    SurveyDevice d;
    d.kind = SurveyDevice::Kind::kGarbled;
    d.address = static_cast<std::uint8_t>(a);
    d.baud_index = CurrentBaud();
    d.probed = d.address;
    d.attempt = attempts_[a];
    d.answer = garbled_bytes_[a];
    // Whole in length with a CRC that fails every time: one unit's answers; anything
    // else: answers that collide.
    d.several_devices = garbled_own_[a] != attempts_[a];
    devices_.push_back(std::move(d));
    told_.push_back(false);
    Tell(devices_.size() - 1);
  }
}

void BusSurvey::NextSpeed() {
  TellGarbledAddresses();
  form_.EndSurveyPace();
  ++speed_pos_;
  BeginSpeed();
}

void BusSurvey::Finish() {
  if (phase_ == Phase::kDone) return;
  phase_ = Phase::kDone;
  StopSweep();
  for (Scheduler::TaskId* task : {&watch_task_, &recheck_task_}) {
    if (*task != 0) form_.Environment().scheduler->Cancel(*task);
    *task = 0;
  }
  if (pace_given_) form_.EndSurveyPace();
  pace_given_ = false;
  // Detectors whose query the stop cut off are told all the same, unqueried.
  for (std::size_t i = 0; i < devices_.size(); ++i) Tell(i);
}

// --- what the exchanges bring ------------------------------------------------------

void BusSurvey::ExchangeEnded(const ExchangeRecord& record) {
  if (phase_ == Phase::kReady || phase_ == Phase::kDone) return;
  if (record.PortFailed()) {
    port_failed_ = true;
    if (query_in_flight_) {
      SurveyDevice& d = devices_[querying_];
      d.queried = true;
      d.query_log = record.log;
      d.query_outcome = record.outcome;  // the port error
      query_in_flight_ = false;
      Tell(querying_);
    }
    Later(&BusSurvey::Step);
    return;
  }
  const std::string operation = OperationName(record);
  if (phase_ == Phase::kQuery && query_in_flight_ && operation == "query") {
    query_in_flight_ = false;
    const std::size_t queried = querying_;
    const bool again = JudgeQuery(queried, record);
    // A probe's answer that came this late is still a device.
    TakeExchange(record, last_probed_, true, true);
    if (again)
      to_query_.insert(to_query_.begin(), queried);
    else
      Tell(queried);
  } else if (operation == "probe") {
    const std::uint8_t probed = record.request[0];
    last_probed_ = probed;
    ++probes_done_;
    if (attempts_[probed]++ == 0)
      ++plan_probes_done_;
    else
      ++reprobes_;
    // A probe without its own answer may still be answered, for a while.
    if (!HeldAnswerFrom(record, probed))
      owed_until_ = std::max(owed_until_, record.started + Millis(kLateAnswerMs));
    TakeExchange(record, probed, false, false);
  } else {
    // Bytes handed over between two exchanges came after the window of the last probe.
    TakeExchange(record, last_probed_, true, false);
  }
  Later(&BusSurvey::Step);
}

bool BusSurvey::JudgeQuery(std::size_t index, const ExchangeRecord& record) {
  SurveyDevice& d = devices_[index];
  d.queried = true;
  d.query_log = record.log;
  const std::vector<std::uint8_t> bytes = record.AllBytes();
  if (SeveralAnswerers(bytes) == d.address) {
    d.several_devices = true;
    d.query_outcome = ExchangeOutcome::kSeveralDevices;
    return false;
  }
  d.query_outcome = record.outcome;
  // The completion has shown the answer by now; a rejected one left the cells empty.
  if (d.query_outcome == ExchangeOutcome::kOk) {
    d.shown = ReadShownParameters(form_);
    return false;
  }
  // Why it failed. A window that held no answer the window could take (silence, noise,
  // a CRC that failed, another address's answer) is queried again: the detector has
  // just answered its probe, and a request or an answer that noise destroyed leaves
  // the same window. An answer the detector gave (an exception, another identity or
  // length) is not.
  const bool taken_wrong = d.query_outcome == ExchangeOutcome::kException ||
                           d.query_outcome == ExchangeOutcome::kWrongId ||
                           d.query_outcome == ExchangeOutcome::kWrongLength;
  if (!bytes.empty() && taken_wrong) {
    d.query_troubles.push_back(OutcomeName(d.query_outcome));
    return false;
  }
  if (bytes.empty()) {
    d.query_troubles.push_back("no answer");
    return d.query_attempts < kProbesPerAddress;
  }
  const std::vector<FoundAnswer> found = FindAnswers(bytes);
  std::string trouble = "bytes that form no answer";
  if (GarbledAnswerFrom(bytes, found, d.address)) {
    trouble = kGarbledAnswer;
  } else {
    for (const FoundAnswer& f : found) {
      if (bytes[f.at] == d.address) continue;
      trouble = "the answer of address " + std::to_string(bytes[f.at]);
      break;
    }
  }
  d.query_troubles.push_back(trouble);
  if (d.query_attempts < kProbesPerAddress) return true;
  // A garbled answer every time, from an address whose probe was answered: the
  // answers of two devices meeting on the wire, as one device's would not each time.
  if (std::all_of(d.query_troubles.begin(), d.query_troubles.end(),
                  [](const std::string& t) { return t == kGarbledAnswer; })) {
    d.several_devices = true;
    d.query_outcome = ExchangeOutcome::kSeveralDevices;
  }
  return false;
}

bool BusSurvey::HeldAnswerFrom(const ExchangeRecord& record, std::uint8_t address) {
  const std::vector<std::uint8_t> bytes = record.AllBytes();
  for (const FoundAnswer& f : FindAnswers(bytes))
    if (bytes[f.at] == address) return true;
  return false;
}

bool BusSurvey::ProbedHere(std::uint8_t address) const {
  return attempts_[address] > 0;
}

void BusSurvey::TakeExchange(const ExchangeRecord& record, std::uint8_t probed, bool late,
                             bool devices_only) {
  std::vector<std::uint8_t> bytes = record.AllBytes();
  // An echoing adapter gives the request back: its own bytes are neither an answer
  // nor noise.
  if (record.request.size() == kRequestLength) {
    auto it = std::search(bytes.begin(), bytes.end(), record.request.begin(), record.request.end());
    while (it != bytes.end()) {
      it = bytes.erase(it, it + static_cast<long>(kRequestLength));
      it = std::search(it, bytes.end(), record.request.begin(), record.request.end());
    }
  }
  if (bytes.empty()) return;
  const std::uint8_t b = CurrentBaud();
  const std::vector<FoundAnswer> found = FindAnswers(bytes);
  bool any_device = false;
  bool own = false;
  std::uint8_t rewind = 0;
  std::vector<FoundAnswer> others;
  for (std::size_t k = 0; k < found.size(); ++k) {
    const FoundAnswer& f = found[k];
    const std::uint8_t* a = bytes.data() + f.at;
    const bool probe_answer = a[1] == kReadHoldingRegisters && a[2] == kProbeAnswerCount;
    const bool refused = a[1] == kReadException;
    if (!probe_answer && (devices_only || !refused)) {
      others.push_back(f);
      continue;
    }
    SurveyDevice d;
    d.address = a[0];
    d.baud_index = b;
    d.probed = probed;
    d.attempt = std::max(1, attempts_[probed]);
    d.answer.assign(a, a + f.length);
    if (probe_answer) {
      d.identity = static_cast<std::uint16_t>(a[3] * 256 + a[4]);
      d.kind = d.identity == kDetectorIdentity ? SurveyDevice::Kind::kDetector
                                               : SurveyDevice::Kind::kOtherIdentity;
    } else {
      d.kind = SurveyDevice::Kind::kException;
      d.exception_code = a[2];
    }
    const std::size_t from = k == 0 ? 0 : found[k - 1].at + found[k - 1].length;
    const std::size_t to = k + 1 < found.size() ? found[k + 1].at : bytes.size();
    d.before.assign(bytes.begin() + static_cast<long>(from),
                    bytes.begin() + static_cast<long>(f.at));
    d.after.assign(bytes.begin() + static_cast<long>(f.at + f.length),
                   bytes.begin() + static_cast<long>(to));
    // An answer of an address probed before this window came after its own window.
    d.late = late || (d.address != probed && ProbedHere(d.address));
    if (d.address == probed) own = true;
    answered_[d.address] = true;
    if (d.late && d.address != probed && d.address < probed && !devices_only)
      rewind = rewind == 0
                   ? static_cast<std::uint8_t>(d.address + 1)
                   : std::min<std::uint8_t>(rewind, static_cast<std::uint8_t>(d.address + 1));
    any_device = true;
    AddDevice(std::move(d));
  }
  if (probed != 0 && !devices_only && found.empty()) {
    ++garbled_[probed];
    if (GarbledAnswerFrom(bytes, found, probed)) ++garbled_own_[probed];
    garbled_bytes_[probed] = bytes;
  }
  if (!devices_only) {
    if (!any_device) {
      // Bytes that form no device's answer: one entry with all of them.
      SurveyNoise n;
      n.probed = probed;
      n.attempt = std::max(1, attempts_[probed]);
      n.baud_index = b;
      n.bytes = bytes;
      if (!others.empty()) {
        n.whole_answer = true;
        n.answer_at = others.front().at;
        n.answer_length = others.front().length;
      }
      noise_.push_back(std::move(n));
    } else {
      for (const FoundAnswer& f : others) {
        SurveyNoise n;
        n.probed = probed;
        n.attempt = std::max(1, attempts_[probed]);
        n.baud_index = b;
        n.bytes = bytes;
        n.whole_answer = true;
        n.answer_at = f.at;
        n.answer_length = f.length;
        noise_.push_back(std::move(n));
      }
    }
  }
  // Two devices answering at one address probed once (so that both answer that one
  // probe): a detector among them is not queried (its query would meet the other's
  // answer) and is told at once.
  if (const auto several = SeveralAnswerers(bytes); several && attempts_[*several] <= 1) {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      SurveyDevice& d = devices_[i];
      if (d.address != *several || d.baud_index != b || told_[i]) continue;
      d.several_devices = true;
      to_query_.erase(std::remove(to_query_.begin(), to_query_.end(), i), to_query_.end());
      Tell(i);
    }
  }
  const bool sweeping =
      phase_ == Phase::kSweep || (phase_ == Phase::kQuery && after_queries_ == Phase::kSweep);
  if (probed == 0 || devices_only || !sweeping) return;

  // Which probes to make again: this one, when its window held bytes but no answer of
  // its own address (noise, a failed CRC, another's late answer) and that address has
  // not answered yet; and every probe since a late answer's own, which that answer may
  // have hidden: a detector does not hear a request while another one answers.
  std::uint8_t again = own || answered_[probed] ? 0 : probed;
  if (rewind != 0 && (again == 0 || rewind < again)) again = rewind;
  if (again == 0) return;
  again = std::max(again, plan_.ranges[range_pos_].first);
  for (int a = probed; a >= again; --a) {
    if (attempts_[a] >= kProbesPerAddress) {
      again = static_cast<std::uint8_t>(a + 1);
      break;
    }
  }
  if (again > probed) return;
  rewind_to_ = rewind_to_ == 0 ? again : std::min(rewind_to_, again);
}

void BusSurvey::AddDevice(SurveyDevice d) {
  for (SurveyDevice& known : devices_) {
    if (known.address != d.address || known.baud_index != d.baud_index) continue;
    // Heard again: an answer in time tells more than a late one (until the device has
    // been told: what was told stays as told).
    const auto index = static_cast<std::size_t>(&known - devices_.data());
    if (known.late && !d.late && !told_[index]) {
      known.late = false;
      known.probed = d.probed;
      known.attempt = d.attempt;
      known.before = d.before;
      known.after = d.after;
    }
    return;
  }
  devices_.push_back(std::move(d));
  told_.push_back(false);
  const std::size_t index = devices_.size() - 1;
  if (devices_[index].kind == SurveyDevice::Kind::kDetector)
    to_query_.push_back(index);
  else
    Tell(index);
}

void BusSurvey::Tell(std::size_t index) {
  if (told_[index]) return;
  told_[index] = true;
  if (on_device_) on_device_(devices_[index]);
}

}  // namespace ornat
