#include "serial/platform/locked_comm_device.h"

#include <cerrno>

namespace ornat {

bool LockedCommDevice::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

LineSettings LockedCommDevice::CurrentLineSettings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return line_;
}

std::uint32_t LockedCommDevice::CurrentBaudRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return line_.BaudRate;
}

CommTimeouts LockedCommDevice::CurrentTimeouts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeouts_;
}

DevError LockedCommDevice::SetupQueues(int /*input_size*/, int /*output_size*/) {
  return 0;
}

DevError LockedCommDevice::SetLineSettings(const LineSettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_ = settings;
  return 0;
}

DevError LockedCommDevice::SetTimeouts(const CommTimeouts& timeouts) {
  std::lock_guard<std::mutex> lock(mutex_);
  timeouts_ = timeouts;
  return 0;
}

DevError LockedCommDevice::SetEventMask(std::uint32_t mask) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    event_mask_ = mask;
  }
  cv_.notify_all();
  return 0;
}

std::unique_ptr<CommStopSignal> LockedCommDevice::CreateStopSignal() {
  return std::make_unique<LockedStopSignal>(mutex_, cv_);
}

WaitResult LockedCommDevice::WaitEvent(CommStopSignal& stop) {
  auto& signal = static_cast<LockedStopSignal&>(stop);
  std::unique_lock<std::mutex> lock(mutex_);
  ++waiting_;
  cv_.notify_all();
  WaitResult result;
  for (;;) {
    if (signal.IsSetLocked()) {
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
    if (const std::uint32_t events = TakeEventLocked(); events != 0) {
      result = {WaitOutcome::kEvents, events, 0};
      break;
    }
    cv_.wait(lock);
  }
  --waiting_;
  cv_.notify_all();  // a side that waits for the thread to park sees it leave
  return result;
}

}  // namespace ornat
