#pragma once
// The state of a PosixCommDevice, shared by the files that implement its calls
// (posix_comm_device.cpp, posix_open.cpp, posix_line_settings.cpp,
// posix_event_wait.cpp, posix_transfers.cpp). Not for other users.

#include <linux/serial.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/port_holders.h"
#include "serial/platform/posix_calls_in_flight.h"
#include "serial/platform/posix_comm_device.h"
#include "serial/platform/posix_open_watch.h"

namespace ornat {

using PosixClock = std::chrono::steady_clock;

// The stop signal of an event wait: a flag, and an eventfd that wakes the wait's poll.
class PosixStopSignal : public CommStopSignal {
 public:
  PosixStopSignal(const PosixSyscalls& sys, int fd) : sys_(sys), fd_(fd) {}
  ~PosixStopSignal() override {
    if (fd_ >= 0) sys_.close(fd_);
  }
  void Set() override {
    set_.store(true, std::memory_order_release);
    PokeEventfd(sys_, fd_);
  }
  bool IsSet() const override { return set_.load(std::memory_order_acquire); }
  int fd() const { return fd_; }

 private:
  const PosixSyscalls& sys_;
  int fd_;
  std::atomic<bool> set_{false};
};

struct PosixCommDevice::Impl {
  Impl(const PosixSyscalls& s, HolderLook holder_look)
      : sys(s), look(std::move(holder_look)), watch(s), calls(s, mu) {
    if (!look) look = [this](const DeviceNode& node) { return LookForHolders(sys, node); };
  }

  const PosixSyscalls& sys;
  HolderLook look;
  // Who opens the node between our opens; used by Open alone (one thread at a time).
  PosixOpenWatch watch;
  mutable std::mutex mu;  // guards everything below that is not atomic
  int fd = -1;
  std::string path;
  bool exclusive_set = false;               // this device set TIOCEXCL on the open tty
  std::vector<PortHolder> holders_at_open;  // found by the last Open that failed
  CommTimeouts timeouts;
  LineSettings line;
  bool have_line = false;
  int input_size = 1024;
  std::uint32_t event_mask = 0;
  bool modem_supported = false;
  bool icount_supported = false;
  struct serial_icounter_struct err_icount {};   // snapshot for ClearError
  struct serial_icounter_struct wait_icount {};  // snapshot for the event wait
  int last_modem = 0;                            // TIOCM_* at the last wait
  CallsInFlight calls;
  int wake_efd = -1;  // pokes a waiting WaitEvent (a write started: EV_TXEMPTY)

  std::atomic<bool> hung_up{false};
  std::atomic<bool> tx_pending{false};     // written since the last EV_TXEMPTY
  std::atomic<std::uint64_t> consumed{0};  // bytes taken from the queue by Read/purge
  std::uint64_t reported_total = 0;        // received total at the last EV_RXCHAR
  bool rx80_reported = false;

  int Fd() const {
    std::lock_guard<std::mutex> lock(mu);
    return fd;
  }
  // FIONREAD: 0 and the count, or the errno.
  int QueueCount(int f, int& count) const;
  bool ReadIcount(int f, struct serial_icounter_struct& ic) const;
};

}  // namespace ornat
