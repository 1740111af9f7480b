#pragma once
// ScriptedCommDevice: a CommDevice whose other end is the test, for the unit tests of
// the serial component. Put a RecordingCommDevice over it to see the calls and to fail
// them on demand.
//
// - Event wait: WaitEvent blocks until the test pushes an event mask (PushEvent), the
//   stop signal is set, or a hang-up is simulated (HangUp: the wait fails with EIO).
//   Masks are delivered as pushed (filtered by the current event mask; a pushed mask
//   with no bit in the event mask is dropped, as the driver would never report it).
//   Open drops pushed events and received bytes left from before; opening it while
//   it is open fails with EBUSY.
// - Received bytes: PushReceived(bytes) appends to the receive queue; ClearError
//   reports its size as in_queue; Read takes from it. PushReceived(bytes, true) also
//   pushes EV_RXCHAR.
// - Read completion (SetReadMode):
//     kReturnQueued     return at once with min(count, queued), possibly 0 (default)
//     kWaitForFirstByte block until at least one byte is queued, then return
//                       min(count, queued)
//     kWaitForCount     block until count bytes are queued, then return count
//   A blocked Read ends with ECANCELED on Purge(PURGE_RXABORT), with EIO on HangUp.
// - Line errors (SetLineErrors: CE_* flags returned and cleared by the next
//   ClearError), modem status (SetModemStatus: MS_* flags), a write that stops short
//   (SetWriteLimit).
//
// Thread-safe: the component calls it from the UI thread and the event thread.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/platform/locked_comm_device.h"

namespace ornat::testing {

class ScriptedCommDevice : public LockedCommDevice {
 public:
  enum class ReadMode { kReturnQueued, kWaitForFirstByte, kWaitForCount };

  // --- CommDevice ------------------------------------------------------
  DevError Open(const std::string& port) override;
  DevError Close() override;
  IoResult Read(void* buffer, int count) override;
  IoResult Write(const void* buffer, int count) override;
  DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) override;
  DevError GetModemStatus(std::uint32_t& status) override;
  DevError Purge(std::uint32_t flags) override;

  // --- scripting -----------------------------------------------------------
  void PushEvent(std::uint32_t mask);
  void PushReceived(const std::vector<std::uint8_t>& bytes, bool signal_rxchar = false);
  // Simulates the other side gone: waits and blocked reads fail with EIO from now
  // until the next Open.
  void HangUp();
  void SetReadMode(ReadMode mode);
  // Write returns this many bytes at most (default: all); models a write timeout.
  void SetWriteLimit(int max_bytes);
  void SetLineErrors(std::uint32_t ce_flags);
  void SetModemStatus(std::uint32_t ms_flags);

  // --- state (the settings last applied: LockedCommDevice) ------------------
  std::uint32_t CurrentEventMask() const;
  std::size_t QueuedBytes() const;
  // Blocks until a WaitEvent (or a blocking Read) is waiting, or the time is up.
  bool WaitUntilWaiting(int timeout_ms = 2000) const;
  bool WaitUntilReadPending(int timeout_ms = 2000) const;

 private:
  std::uint32_t TakeEventLocked() override;

  // --- guarded by mutex_ ---
  std::deque<std::uint32_t> events_;
  std::deque<std::uint8_t> rx_;
  std::uint32_t line_errors_ = 0;
  std::uint32_t modem_status_ = 0;
  ReadMode read_mode_ = ReadMode::kReturnQueued;
  int write_limit_ = -1;
  std::uint64_t rx_abort_gen_ = 0;
  int reads_pending_ = 0;  // Read calls blocked now
};

}  // namespace ornat::testing
