#include "detector/survey.h"

#include <algorithm>
#include <functional>

#include "detector/register_map.h"
#include "modbus/rtu_codec.h"
#include "serial/comport.h"

namespace ornat {

namespace {

// A probe is 8 bytes, its answer 7 (an exception answer 5), 10 bits a byte.
constexpr double kProbeAndAnswerBits = (8 + 7) * 10;
// The port hands an answer over 150 ms after its last byte.
constexpr double kReadIntervalMs = 150;
// How long a detector may take to answer, and what is kept to spare on top.
constexpr double kTurnaroundAllowanceMs = 40;
constexpr double kSpareMs = 20;
// The search's next probe follows its completion after 5 ms.
constexpr double kStepMs = 5;

constexpr std::uint16_t kDelayMenu[] = {100, 150, 200, 250, 300, 350};

}  // namespace

TTeItem* DelayMenuItem(TForm1& form, std::uint16_t ms) {
  TTeItem* items[] = {&form.CustomItem7,  &form.CustomItem8,  &form.CustomItem9,
                      &form.CustomItem10, &form.CustomItem11, &form.CustomItem12};
  for (std::size_t i = 0; i < std::size(kDelayMenu); ++i)
    if (kDelayMenu[i] == ms) return items[i];
  return nullptr;
}

double BusSurvey::HandOverMs(std::uint8_t baud_index) {
  const int bits_per_second = BaudRateToBits(kBaudTable.at(baud_index).port_value);
  return kProbeAndAnswerBits * 1000.0 / bits_per_second + kTurnaroundAllowanceMs + kReadIntervalMs;
}

std::uint16_t BusSurvey::SafeWindowMs(std::uint8_t baud_index) {
  const double needed = HandOverMs(baud_index) + kSpareMs;
  for (std::uint16_t ms : kDelayMenu)
    if (ms >= needed) return ms;
  return kDelayMenu[std::size(kDelayMenu) - 1];
}

std::vector<std::uint8_t> BusSurvey::UnsafeDelay(const std::vector<std::uint8_t>& baud_indices,
                                                 std::uint16_t delay_ms) {
  std::vector<std::uint8_t> unsafe;
  for (std::uint8_t b : baud_indices)
    if (SafeWindowMs(b) > delay_ms) unsafe.push_back(b);
  return unsafe;
}

BusSurvey::BusSurvey(TForm1& form, SurveyPlan plan) : form_(form), plan_(std::move(plan)) {}

std::uint16_t BusSurvey::WindowMs(std::uint8_t baud_index) const {
  return plan_.delay_ms != 0 ? plan_.delay_ms : SafeWindowMs(baud_index);
}

int BusSurvey::ProbesPerSpeed() const {
  int n = 0;
  for (const auto& [first, last] : plan_.ranges) n += last - first + 1;
  return n;
}

double BusSurvey::NominalMs() const {
  double ms = 0;
  for (std::uint8_t b : plan_.baud_indices) ms += ProbesPerSpeed() * (WindowMs(b) + kStepMs);
  return ms;
}

BusSurvey::Progress BusSurvey::CurrentProgress() const {
  Progress p;
  p.speed_count = static_cast<int>(plan_.baud_indices.size());
  p.speed_number = static_cast<int>(std::min(speed_pos_ + 1, plan_.baud_indices.size()));
  if (speed_pos_ < plan_.baud_indices.size()) p.baud_index = plan_.baud_indices[speed_pos_];
  p.address = last_probed_;
  p.probes_done = probes_done_;
  p.probes_total = ProbesPerSpeed() * p.speed_count;
  const int done_here = probes_done_ - ProbesPerSpeed() * static_cast<int>(speed_pos_);
  for (std::size_t s = speed_pos_; s < plan_.baud_indices.size(); ++s) {
    const int left = s == speed_pos_ ? std::max(0, ProbesPerSpeed() - done_here) : ProbesPerSpeed();
    p.ms_left += left * (WindowMs(plan_.baud_indices[s]) + kStepMs);
  }
  return p;
}

// --- driving the window ------------------------------------------------------------

void BusSurvey::Later(void (BusSurvey::*step)()) {
  // Through the gate: from inside a completion this runs right after it returns.
  form_.Environment().gate->Enter([this, step] { (this->*step)(); });
}

void BusSurvey::Start() {
  if (phase_ != Phase::kReady) return;
  phase_ = Phase::kSweep;
  Later(&BusSurvey::BeginSpeed);
}

void BusSurvey::Stop() {
  form_.Environment().gate->Enter([this] {
    stop_requested_ = true;
    if (phase_ == Phase::kReady) {
      Finish();
      return;
    }
    // The search's own "Stop": a probe in flight still completes.
    if (form_.State.SessionMode == kSessionSearch) form_.CustomItem5.Click();
    if (!form_.Working()) Finish();
  });
}

void BusSurvey::BeginSpeed() {
  if (stop_requested_ || speed_pos_ >= plan_.baud_indices.size()) {
    Finish();
    return;
  }
  phase_ = Phase::kSweep;
  const std::uint8_t b = plan_.baud_indices[speed_pos_];
  form_.BaudItem(b).Click();  // the PC's speed, from the BaudRate menu
  if (TTeItem* delay = DelayMenuItem(form_, WindowMs(b))) delay->Click();
  range_pos_ = 0;
  BeginRange();
}

void BusSurvey::BeginRange() {
  if (range_pos_ >= plan_.ranges.size()) {
    BeginQueries();
    return;
  }
  SearchAfter(static_cast<std::uint8_t>(plan_.ranges[range_pos_].first - 1));
}

void BusSurvey::SearchAfter(std::uint8_t address) {
  last_probed_ = address;
  form_.CustomItem5.Click();  // "Start"
  // The search counts its probes in DeviceAddress, which Start has just set to 0: its
  // first probe, 5 ms from now, goes to address + 1.
  form_.State.DeviceAddress = address;
}

void BusSurvey::Step() {
  if (phase_ == Phase::kSweep) {
    const std::uint8_t last = plan_.ranges[range_pos_].second;
    if (form_.State.SessionMode == kSessionSearch) {
      // A search that is not working any more has halted on a failed send.
      if (port_failed_ || !form_.Working()) {
        port_failed_ = true;
        form_.CustomItem5.Click();
        Finish();
        return;
      }
      if (!stop_requested_ && last_probed_ < last) return;  // the search goes on
      form_.CustomItem5.Click();  // "Stop" after the last address of the run
      if (stop_requested_) {
        Finish();
        return;
      }
      ++range_pos_;
      BeginRange();
      return;
    }
    // The search ended by itself: a hit, or its own end past 247.
    if (form_.Working()) return;  // an exchange in flight comes back here when it ends
    if (stop_requested_ || port_failed_) {
      Finish();
      return;
    }
    if (last_probed_ < last) {
      SearchAfter(last_probed_);
    } else {
      ++range_pos_;
      BeginRange();
    }
    return;
  }
  if (phase_ == Phase::kQuery) {
    if (form_.Working() || query_in_flight_) return;
    ++query_pos_;
    NextQuery();
  }
}

void BusSurvey::BeginQueries() {
  phase_ = Phase::kQuery;
  queries_.clear();
  const std::uint8_t b = plan_.baud_indices[speed_pos_];
  for (std::size_t i = 0; i < devices_.size(); ++i)
    if (devices_[i].baud_index == b && devices_[i].kind == SurveyDevice::Kind::kDetector)
      queries_.push_back(i);
  query_pos_ = 0;
  NextQuery();
}

void BusSurvey::NextQuery() {
  if (stop_requested_ || port_failed_ || query_pos_ >= queries_.size()) {
    ++speed_pos_;
    BeginSpeed();
    return;
  }
  const SurveyDevice& d = devices_[queries_[query_pos_]];
  // Typed into the address editor and confirmed with Enter, as an engineer does: Enter
  // sets DeviceAddress also when the editor already shows that number.
  form_.TeSpinEdit1.SetText(std::to_string(d.address));
  form_.TeSpinEdit1.KeyPress('\r');
  query_in_flight_ = true;
  form_.TeButton5.Click();  // "ЗАПРОС ПАРАМЕТРОВ", a single query
}

void BusSurvey::Finish() {
  phase_ = Phase::kDone;
}

// --- what the exchanges bring ------------------------------------------------------

void BusSurvey::ExchangeEnded(const ExchangeRecord& record) {
  if (phase_ == Phase::kSweep) {
    if (record.end == ExchangeRecord::End::kSendFailed) port_failed_ = true;
    if (OperationName(record) == "probe" && record.end != ExchangeRecord::End::kSendFailed) {
      last_probed_ = record.request[0];
      ++probes_done_;
    }
    for (const auto& read : record.reads) TakeRead(read, record);
    Later(&BusSurvey::Step);
  } else if (phase_ == Phase::kQuery) {
    if (query_in_flight_ && OperationName(record) == "query") {
      SurveyDevice& d = devices_[queries_[query_pos_]];
      d.queried = true;
      d.query_log = record.log;
      d.query_outcome = OutcomeOf(record.log);
      if (record.end == ExchangeRecord::End::kSendFailed) port_failed_ = true;
      // The completion has shown the answer by now; a rejected one left the cells empty.
      if (d.query_outcome == ExchangeOutcome::kOk) d.shown = ReadShownParameters(form_);
      query_in_flight_ = false;
    }
    Later(&BusSurvey::Step);
  }
}

void BusSurvey::TakeRead(const std::vector<std::uint8_t>& read, const ExchangeRecord& record) {
  if (read.empty()) return;
  const std::uint8_t b = plan_.baud_indices[speed_pos_];
  const std::uint8_t probed = record.request.empty() ? last_probed_ : record.request[0];
  // The probe's own bytes (an echoing adapter, nobody answering) are no device.
  if (read == record.request) return;
  Frame f{};
  const std::size_t n = std::min(read.size(), f.size() - 1);
  std::copy(read.begin(), read.begin() + static_cast<long>(n), f.begin());
  auto count = static_cast<std::uint16_t>(n);
  // The window's own check: leading bytes dropped until the CRC fits.
  if (!ValidateAnswer(f, count)) {
    noise_.push_back({probed, b, read});
    return;
  }
  SurveyDevice d;
  d.address = f[0];
  d.baud_index = b;
  d.probed = probed;
  d.answer.assign(f.begin(), f.begin() + count);
  const std::uint8_t function = f[1];
  if (function == 3 && count >= 7 && f[2] >= 2) {
    d.identity = static_cast<std::uint16_t>(f[3] * 256 + f[4]);
    d.kind = d.identity == kDetectorIdentity ? SurveyDevice::Kind::kDetector
                                             : SurveyDevice::Kind::kOtherIdentity;
  } else if ((function & 0x80) != 0) {
    d.kind = SurveyDevice::Kind::kException;
    d.exception_code = f[2];
  } else {
    if (d.answer != record.request) noise_.push_back({probed, b, read});
    return;
  }
  if (d.address < 1 || d.address > 247) {
    noise_.push_back({probed, b, read});
    return;
  }
  if (d.address != probed) ++late_answers_;
  for (const SurveyDevice& known : devices_)
    if (known.address == d.address && known.baud_index == b) return;
  devices_.push_back(std::move(d));
}

}  // namespace ornat
