#include "support/scripted_comm_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace ornat::testing {

DevError ScriptedCommDevice::Open(const std::string& /*port*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) return EBUSY;
  open_ = true;
  hung_up_ = false;
  // A fresh open starts with nothing pending, as a device does (the POSIX device
  // flushes its input at open).
  events_.clear();
  rx_.clear();
  return 0;
}

DevError ScriptedCommDevice::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
  event_mask_ = 0;
  cv_.notify_all();
  return 0;
}

std::uint32_t ScriptedCommDevice::TakeEventLocked() {
  // A pushed mask with no bit of the event mask is dropped: the driver never reports it.
  while (!events_.empty()) {
    const std::uint32_t m = events_.front() & event_mask_;
    events_.pop_front();
    if (m != 0) return m;
  }
  return 0;
}

IoResult ScriptedCommDevice::Read(void* buffer, int count) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!open_) return {EBADF, 0};
  const std::uint64_t gen = rx_abort_gen_;
  auto ready = [&] {
    switch (read_mode_) {
      case ReadMode::kReturnQueued:
        return true;
      case ReadMode::kWaitForFirstByte:
        return !rx_.empty();
      case ReadMode::kWaitForCount:
        return rx_.size() >= static_cast<std::size_t>(std::max(count, 0));
    }
    return true;
  };
  ++reads_pending_;
  cv_.notify_all();
  while (!ready() && gen == rx_abort_gen_ && !hung_up_ && open_) cv_.wait(lock);
  --reads_pending_;
  if (!ready()) return {gen != rx_abort_gen_ ? ECANCELED : (hung_up_ ? EIO : EBADF), 0};
  const int n = static_cast<int>(std::min<std::size_t>(rx_.size(), std::max(count, 0)));
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (int i = 0; i < n; ++i) {
    out[i] = rx_.front();
    rx_.pop_front();
  }
  return {0, n};
}

IoResult ScriptedCommDevice::Write(const void* /*buffer*/, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return {EBADF, 0};
  return {0, write_limit_ >= 0 ? std::min(count, write_limit_) : count};
}

DevError ScriptedCommDevice::ClearError(std::uint32_t& errors, std::uint32_t& in_queue) {
  std::lock_guard<std::mutex> lock(mutex_);
  errors = line_errors_;
  line_errors_ = 0;
  in_queue = static_cast<std::uint32_t>(rx_.size());
  return 0;
}

DevError ScriptedCommDevice::GetModemStatus(std::uint32_t& status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status = modem_status_;
  return 0;
}

DevError ScriptedCommDevice::Purge(std::uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (flags & PURGE_RXABORT) ++rx_abort_gen_;
  if (flags & PURGE_RXCLEAR) rx_.clear();
  cv_.notify_all();
  return 0;
}

// --- scripting --------------------------------------------------------------

void ScriptedCommDevice::PushEvent(std::uint32_t mask) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(mask);
  }
  cv_.notify_all();
}

void ScriptedCommDevice::PushReceived(const std::vector<std::uint8_t>& bytes, bool signal_rxchar) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    if (signal_rxchar) events_.push_back(EV_RXCHAR);
  }
  cv_.notify_all();
}

void ScriptedCommDevice::HangUp() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hung_up_ = true;
  }
  cv_.notify_all();
}

void ScriptedCommDevice::SetReadMode(ReadMode mode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    read_mode_ = mode;
  }
  cv_.notify_all();
}

void ScriptedCommDevice::SetWriteLimit(int max_bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  write_limit_ = max_bytes;
}

void ScriptedCommDevice::SetLineErrors(std::uint32_t ce_flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_errors_ = ce_flags;
}

void ScriptedCommDevice::SetModemStatus(std::uint32_t ms_flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  modem_status_ = ms_flags;
}

// --- state ------------------------------------------------------------------

std::uint32_t ScriptedCommDevice::CurrentEventMask() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return event_mask_;
}

std::size_t ScriptedCommDevice::QueuedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rx_.size();
}

bool ScriptedCommDevice::WaitUntilWaiting(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return waiting_ > 0; });
}

bool ScriptedCommDevice::WaitUntilReadPending(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return reads_pending_ > 0; });
}

}  // namespace ornat::testing
