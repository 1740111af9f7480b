#include "support/fake_comm_device.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace ornat::testing {

FakeCommDevice::FakeCommDevice() = default;
FakeCommDevice::~FakeCommDevice() = default;

DevError FakeCommDevice::Enter(FakeCall call) {
  DevError e = 0;
  auto it = failures_.find(call.name);
  if (it != failures_.end() && it->second.times != 0) {
    e = it->second.error;
    if (it->second.times > 0) --it->second.times;
  }
  call.result = e;
  calls_.push_back(std::move(call));
  cv_.notify_all();
  return e;
}

void FakeCommDevice::SetResult(DevError e) {
  if (!calls_.empty()) calls_.back().result = e;
}

DevError FakeCommDevice::Open(const std::string& port) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "Open";
  c.port = port;
  busy_at_open_ = false;
  if (DevError e = Enter(std::move(c))) {
    busy_at_open_ = e == EBUSY;
    return e;
  }
  if (open_) {
    SetResult(EBUSY);
    return EBUSY;
  }
  open_ = true;
  hung_up_ = false;
  // A fresh open starts with nothing pending, as a device does (the POSIX device
  // flushes its input at open).
  events_.clear();
  rx_.clear();
  return 0;
}

std::vector<PortHolder> FakeCommDevice::HoldersAtLastOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_at_open_ ? holders_ : std::vector<PortHolder>{};
}

void FakeCommDevice::SetHolders(std::vector<PortHolder> holders) {
  std::lock_guard<std::mutex> lock(mutex_);
  holders_ = std::move(holders);
}

bool FakeCommDevice::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

DevError FakeCommDevice::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "Close";
  if (DevError e = Enter(std::move(c))) return e;
  open_ = false;
  event_mask_ = 0;
  cv_.notify_all();
  return 0;
}

DevError FakeCommDevice::SetupQueues(int input_size, int output_size) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "SetupQueues";
  c.args = {input_size, output_size};
  return Enter(std::move(c));
}

DevError FakeCommDevice::SetLineSettings(const LineSettings& settings) {
  std::function<void(const LineSettings&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    FakeCall c;
    c.name = "SetLineSettings";
    c.line = settings;
    if (DevError e = Enter(std::move(c))) return e;
    line_ = settings;
    hook = line_hook_;
  }
  if (hook) hook(settings);
  return 0;
}

DevError FakeCommDevice::SetTimeouts(const CommTimeouts& timeouts) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "SetTimeouts";
  c.timeouts = timeouts;
  if (DevError e = Enter(std::move(c))) return e;
  timeouts_ = timeouts;
  return 0;
}

DevError FakeCommDevice::SetEventMask(std::uint32_t mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "SetEventMask";
  c.args = {static_cast<std::int64_t>(mask)};
  if (DevError e = Enter(std::move(c))) return e;
  event_mask_ = mask;
  cv_.notify_all();
  return 0;
}

std::unique_ptr<CommStopSignal> FakeCommDevice::CreateStopSignal() {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "CreateStopSignal";
  Enter(std::move(c));
  return std::make_unique<LockedStopSignal>(mutex_, cv_);
}

WaitResult FakeCommDevice::WaitEvent(CommStopSignal& stop) {
  auto& s = static_cast<LockedStopSignal&>(stop);
  std::unique_lock<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "WaitEvent";
  if (DevError e = Enter(std::move(c))) return {WaitOutcome::kFailed, 0, e};
  ++waiting_;
  cv_.notify_all();
  WaitResult result;
  for (;;) {
    if (s.IsSetLocked()) {
      result = {WaitOutcome::kStopped, 0, 0};
      break;
    }
    if (!open_ || hung_up_) {
      result = {WaitOutcome::kFailed, 0, hung_up_ ? EIO : EBADF};
      break;
    }
    if (event_mask_ == 0) {
      result = {WaitOutcome::kFailed, 0, EINVAL};
      break;
    }
    bool delivered = false;
    while (!events_.empty()) {
      std::uint32_t m = events_.front() & event_mask_;
      events_.pop_front();
      if (m != 0) {
        result = {WaitOutcome::kEvents, m, 0};
        delivered = true;
        break;
      }
    }
    if (delivered) break;
    cv_.wait(lock);
  }
  --waiting_;
  return result;
}

IoResult FakeCommDevice::Read(void* buffer, int count) {
  std::function<IoResult(void*, int)> hook;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    FakeCall c;
    c.name = "Read";
    c.args = {count};
    if (DevError e = Enter(std::move(c))) return {e, 0};
    hook = read_hook_;
    if (!hook) {
      if (!open_) return {EBADF, 0};
      const std::uint64_t gen = rx_abort_gen_;
      auto ready = [&] {
        switch (read_mode_) {
          case FakeReadMode::kReturnQueued:
            return true;
          case FakeReadMode::kWaitForFirstByte:
            return !rx_.empty();
          case FakeReadMode::kWaitForCount:
            return rx_.size() >= static_cast<std::size_t>(std::max(count, 0));
        }
        return true;
      };
      ++reads_pending_;
      cv_.notify_all();
      while (!ready() && gen == rx_abort_gen_ && !hung_up_ && open_) cv_.wait(lock);
      --reads_pending_;
      if (!ready()) {
        DevError e = gen != rx_abort_gen_ ? ECANCELED : (hung_up_ ? EIO : EBADF);
        return {e, 0};
      }
      int n = static_cast<int>(std::min<std::size_t>(rx_.size(), std::max(count, 0)));
      auto* out = static_cast<std::uint8_t*>(buffer);
      for (int i = 0; i < n; ++i) {
        out[i] = rx_.front();
        rx_.pop_front();
      }
      return {0, n};
    }
  }
  return hook(buffer, count);
}

IoResult FakeCommDevice::Write(const void* buffer, int count) {
  std::function<void(const std::vector<std::uint8_t>&)> hook;
  std::vector<std::uint8_t> bytes;
  int n = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    FakeCall c;
    c.name = "Write";
    c.args = {count};
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    if (count > 0) c.data.assign(in, in + count);
    if (DevError e = Enter(std::move(c))) return {e, 0};
    if (!open_) return {EBADF, 0};
    n = write_limit_ >= 0 ? std::min(count, write_limit_) : count;
    if (n > 0) bytes.assign(in, in + n);
    hook = write_hook_;
  }
  if (hook) hook(bytes);
  return {0, n};
}

DevError FakeCommDevice::ClearError(std::uint32_t& errors, std::uint32_t& in_queue) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "ClearError";
  if (DevError e = Enter(std::move(c))) return e;
  errors = line_errors_;
  line_errors_ = 0;
  in_queue = static_cast<std::uint32_t>(rx_.size());
  return 0;
}

DevError FakeCommDevice::GetModemStatus(std::uint32_t& status) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "GetModemStatus";
  if (DevError e = Enter(std::move(c))) return e;
  status = modem_status_;
  return 0;
}

DevError FakeCommDevice::Purge(std::uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeCall c;
  c.name = "Purge";
  c.args = {static_cast<std::int64_t>(flags)};
  if (DevError e = Enter(std::move(c))) return e;
  if (flags & PURGE_RXABORT) ++rx_abort_gen_;
  if (flags & PURGE_TXABORT) ++tx_abort_gen_;
  if (flags & PURGE_RXCLEAR) rx_.clear();
  cv_.notify_all();
  return 0;
}

// --- recording --------------------------------------------------------------

std::vector<FakeCall> FakeCommDevice::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeCommDevice::Names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const auto& c : calls_) names.push_back(c.name);
  return names;
}

std::vector<std::string> FakeCommDevice::NamesWithoutWaits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const auto& c : calls_)
    if (c.name != "WaitEvent" && c.name != "CreateStopSignal") names.push_back(c.name);
  return names;
}

int FakeCommDevice::Count(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const FakeCall& c) { return c.name == name; }));
}

FakeCall FakeCommDevice::Last(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->name == name) return *it;
  return {};
}

void FakeCommDevice::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

// --- failures ---------------------------------------------------------------

void FakeCommDevice::FailNext(const std::string& name, DevError error, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[name] = {error, times};
}

void FakeCommDevice::FailAlways(const std::string& name, DevError error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[name] = {error, -1};
}

void FakeCommDevice::ClearFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.clear();
}

// --- scripting --------------------------------------------------------------

void FakeCommDevice::PushEvent(std::uint32_t mask) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(mask);
  }
  cv_.notify_all();
}

void FakeCommDevice::PushReceived(const std::vector<std::uint8_t>& bytes, bool signal_rxchar) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    if (signal_rxchar) events_.push_back(EV_RXCHAR);
  }
  cv_.notify_all();
}

void FakeCommDevice::HangUp() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hung_up_ = true;
  }
  cv_.notify_all();
}

void FakeCommDevice::SetReadMode(FakeReadMode mode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    read_mode_ = mode;
  }
  cv_.notify_all();
}

void FakeCommDevice::SetReadHook(std::function<IoResult(void*, int)> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  read_hook_ = std::move(fn);
}

void FakeCommDevice::SetWriteHook(std::function<void(const std::vector<std::uint8_t>&)> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  write_hook_ = std::move(fn);
}

void FakeCommDevice::SetLineSettingsHook(std::function<void(const LineSettings&)> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_hook_ = std::move(fn);
}

void FakeCommDevice::SetWriteLimit(int max_bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  write_limit_ = max_bytes;
}

void FakeCommDevice::SetLineErrors(std::uint32_t ce_flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_errors_ = ce_flags;
}

void FakeCommDevice::SetModemStatus(std::uint32_t ms_flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  modem_status_ = ms_flags;
}

// --- state ------------------------------------------------------------------

LineSettings FakeCommDevice::CurrentLineSettings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return line_;
}

std::uint32_t FakeCommDevice::CurrentBaudRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return line_.BaudRate;
}

CommTimeouts FakeCommDevice::CurrentTimeouts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeouts_;
}

std::uint32_t FakeCommDevice::CurrentEventMask() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return event_mask_;
}

std::size_t FakeCommDevice::QueuedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rx_.size();
}

bool FakeCommDevice::WaitUntilWaiting(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return waiting_ > 0; });
}

bool FakeCommDevice::WaitUntilReadPending(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return reads_pending_ > 0; });
}

bool FakeCommDevice::WaitForCalls(const std::string& name, int n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return std::count_if(calls_.begin(), calls_.end(),
                         [&](const FakeCall& c) { return c.name == name; }) >= n;
  });
}

}  // namespace ornat::testing
