#pragma once
// The calls that use a POSIX device's descriptor while they run (transfers and event
// waits). Each has an eventfd of its own, which a purge with abort (transfers) or the
// close (all) writes to, waking its poll. The close waits until every call has left
// before it closes the descriptor, so no call ever uses a closed (or reused)
// descriptor number. Guarded by the device's lock, which the registry shares.

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "serial/platform/comm_device.h"
#include "serial/platform/posix_syscalls.h"

namespace ornat {

class CallsInFlight {
 public:
  enum class Kind { kRead, kWrite, kWait };

  // A call while it is registered; it leaves the registry when destroyed.
  class Call {
   public:
    Call(CallsInFlight& registry, Kind kind) : registry_(registry), kind_(kind) {}
    ~Call() { registry_.Leave(this); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    // The descriptor as it stood when the call registered.
    int fd() const { return fd_; }
    // Readable once the call is to end (aborted, or the device closing).
    int efd() const { return efd_; }

   private:
    friend class CallsInFlight;
    CallsInFlight& registry_;
    Kind kind_;
    int fd_ = -1;
    int efd_ = -1;
  };

  CallsInFlight(const PosixSyscalls& sys, std::mutex& device_lock) : sys_(sys), mu_(device_lock) {}

  // Registers a call on `fd`, the device's descriptor, which the device's lock guards.
  // Null with `error` EBADF when the device is closed (or closing), or with the errno
  // of an eventfd that could not be had.
  std::unique_ptr<Call> Enter(Kind kind, const int& fd, DevError& error);
  // With the device's lock held: wakes the transfers that the PURGE_* abort flags end.
  void Abort(std::uint32_t purge_flags) const;
  // With the device's lock held (in `lock`): wakes every call and waits until all have
  // left.
  void EndAll(std::unique_lock<std::mutex>& lock);

 private:
  void Leave(Call* call);

  const PosixSyscalls& sys_;
  std::mutex& mu_;
  std::list<Call*> calls_;
  std::condition_variable left_;  // signalled when a call leaves
};

}  // namespace ornat
