#pragma once
// LockedCommDevice: a device held in memory, its state under one lock and its waits
// asleep on one condition variable: the settings the component last applied, whether
// it is open or its other end gone, and the event wait. The simulated line and the
// scripted test device derive from it and say which event comes next, and how their
// reads, writes and queues go.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "serial/platform/comm_device.h"

namespace ornat {

class LockedCommDevice : public CommDevice {
 public:
  bool IsOpen() const override;
  DevError SetupQueues(int input_size, int output_size) override;  // advisory: 0
  DevError SetLineSettings(const LineSettings& settings) override;
  DevError SetTimeouts(const CommTimeouts& timeouts) override;
  DevError SetEventMask(std::uint32_t mask) override;
  std::unique_ptr<CommStopSignal> CreateStopSignal() override;
  // Ends on the next event TakeEventLocked gives, on the stop signal, or fails: EBADF
  // on a closed device, EIO once its other end is gone, EINVAL with no event mask.
  WaitResult WaitEvent(CommStopSignal& stop) override;

  // What the component last applied.
  LineSettings CurrentLineSettings() const;
  std::uint32_t CurrentBaudRate() const;
  CommTimeouts CurrentTimeouts() const;

 protected:
  // Lock held: the events of the mask to report now, taken (0: none yet).
  virtual std::uint32_t TakeEventLocked() = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  // --- guarded by mutex_ ---
  bool open_ = false;
  bool hung_up_ = false;  // the other end is gone, until the next Open
  LineSettings line_{};
  CommTimeouts timeouts_{};
  std::uint32_t event_mask_ = 0;
  int waiting_ = 0;  // event waits under way
};

}  // namespace ornat
