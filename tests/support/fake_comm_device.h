#pragma once
// FakeCommDevice: a recording, scriptable CommDevice for unit tests.
//
// What it does
// - Records every call, in order, with its arguments (calls()/Names()/Count()).
//   Call names: "Open", "Close", "SetupQueues", "SetLineSettings", "SetTimeouts",
//   "SetEventMask", "CreateStopSignal", "WaitEvent", "Read", "Write", "ClearError",
//   "GetModemStatus", "Purge".
// - Fails any call on demand with a chosen errno: FailNext("Open", ENOENT) fails the
//   next Open once; FailAlways(name, errno) until ClearFailures(). A failed call
//   changes no state (a failed SetLineSettings keeps the previous settings).
// - Event wait: WaitEvent blocks until the test pushes an event mask (PushEvent), the
//   stop signal is set, or a hang-up is simulated (HangUp: the wait fails with EIO).
//   Masks are delivered as pushed (filtered by the current event mask; a pushed mask
//   with no bit in the event mask is dropped, as the driver would never report it).
//   Open drops pushed events and received bytes left from before.
// - Received bytes: PushReceived(bytes) appends to the receive queue; ClearError
//   reports its size as in_queue; Read takes from it. PushReceived(bytes, true) also
//   pushes EV_RXCHAR.
// - Read completion is controllable (SetReadMode):
//     kReturnQueued     return at once with min(count, queued), possibly 0 (default)
//     kWaitForFirstByte block until at least one byte is queued, then return
//                       min(count, queued)
//     kWaitForCount     block until count bytes are queued, then return count
//   A blocked Read ends with ECANCELED on Purge(PURGE_RXABORT), with EIO on HangUp.
//   SetReadHook replaces all of that with a function of its own.
// - Holders: SetHolders(list) is what HoldersAtLastOpen reports after an Open that a
//   scripted EBUSY failed (nothing after any other outcome).
// - Line errors (SetLineErrors: CE_* flags returned and cleared by the next
//   ClearError), modem status (SetModemStatus: MS_* flags).
//
// Hooks for the simulated detector line (built on top of this fake)
// - SetWriteHook(fn): fn(bytes) is called on every successful Write with the bytes
//   written (outside the fake's lock, so fn may call PushReceived/PushEvent).
// - PushReceived(bytes, signal): the bytes a pending or the next Read returns.
// - SetReadMode / SetReadHook: the read completion semantics.
// - CurrentLineSettings() / CurrentBaudRate() / CurrentTimeouts(): the settings the
//   component last applied successfully (bit rate of the line).
// - SetLineSettingsHook(fn): fn(settings) after each successful SetLineSettings.
//
// Thread-safe: the component calls it from the UI thread and the event thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"

namespace ornat::testing {

struct FakeCall {
  std::string name;
  std::string port;                // Open
  std::vector<std::int64_t> args;  // SetupQueues {in, out}; SetEventMask {mask};
                                   // Purge {flags}; Read/Write {count requested}
  LineSettings line;               // SetLineSettings
  CommTimeouts timeouts;           // SetTimeouts
  std::vector<std::uint8_t> data;  // Write: the bytes given
  DevError result = 0;             // what the call returned
};

enum class FakeReadMode { kReturnQueued, kWaitForFirstByte, kWaitForCount };

class FakeCommDevice : public CommDevice {
 public:
  FakeCommDevice();
  ~FakeCommDevice() override;

  // --- CommDevice ------------------------------------------------------
  DevError Open(const std::string& port) override;
  std::vector<PortHolder> HoldersAtLastOpen() const override;
  bool IsOpen() const override;
  DevError Close() override;
  DevError SetupQueues(int input_size, int output_size) override;
  DevError SetLineSettings(const LineSettings& settings) override;
  DevError SetTimeouts(const CommTimeouts& timeouts) override;
  DevError SetEventMask(std::uint32_t mask) override;
  std::unique_ptr<CommStopSignal> CreateStopSignal() override;
  WaitResult WaitEvent(CommStopSignal& stop) override;
  IoResult Read(void* buffer, int count) override;
  IoResult Write(const void* buffer, int count) override;
  DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) override;
  DevError GetModemStatus(std::uint32_t& status) override;
  DevError Purge(std::uint32_t flags) override;

  // --- recording ---------------------------------------------------------
  std::vector<FakeCall> calls() const;
  std::vector<std::string> Names() const;  // the call names in order
  // Names without the event-thread traffic that timing makes vary
  // ("WaitEvent", "CreateStopSignal").
  std::vector<std::string> NamesWithoutWaits() const;
  int Count(const std::string& name) const;
  // The last recorded call of that name (a default FakeCall when there is none).
  FakeCall Last(const std::string& name) const;
  void ClearCalls();

  // --- failures ---------------------------------------------------------
  void FailNext(const std::string& name, DevError error, int times = 1);
  void FailAlways(const std::string& name, DevError error);
  void ClearFailures();

  // --- scripting -----------------------------------------------------------
  void PushEvent(std::uint32_t mask);
  void PushReceived(const std::vector<std::uint8_t>& bytes, bool signal_rxchar = false);
  // Simulates the other side gone: waits and blocked reads fail with EIO from now
  // until the next Open.
  void HangUp();
  void SetReadMode(FakeReadMode mode);
  // fn(buffer, count) -> IoResult runs instead of the built-in read (outside the lock).
  void SetReadHook(std::function<IoResult(void* buffer, int count)> fn);
  void SetWriteHook(std::function<void(const std::vector<std::uint8_t>& bytes)> fn);
  void SetLineSettingsHook(std::function<void(const LineSettings&)> fn);
  // Write returns this many bytes at most (default: all); models a write timeout.
  void SetWriteLimit(int max_bytes);
  void SetLineErrors(std::uint32_t ce_flags);
  void SetModemStatus(std::uint32_t ms_flags);
  void SetHolders(std::vector<PortHolder> holders);

  // --- state ------------------------------------------------------------
  LineSettings CurrentLineSettings() const;
  std::uint32_t CurrentBaudRate() const;
  CommTimeouts CurrentTimeouts() const;
  std::uint32_t CurrentEventMask() const;
  std::size_t QueuedBytes() const;
  // Blocks until a WaitEvent (or a blocking Read) is waiting, or the time is up.
  bool WaitUntilWaiting(int timeout_ms = 2000) const;
  bool WaitUntilReadPending(int timeout_ms = 2000) const;
  // Blocks until Count(name) >= n or the time is up.
  bool WaitForCalls(const std::string& name, int n, int timeout_ms = 2000) const;

 private:
  // Records the call; returns the scripted failure for it (0 = none). Lock held.
  DevError Enter(FakeCall call);
  void SetResult(DevError e);  // sets the result of the last recorded call

  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<FakeCall> calls_;
  struct Failure {
    DevError error = 0;
    int times = 0;  // -1: always
  };
  std::map<std::string, Failure> failures_;

  bool open_ = false;
  bool busy_at_open_ = false;  // a scripted EBUSY failed the last Open
  std::vector<PortHolder> holders_;
  bool hung_up_ = false;
  LineSettings line_;
  CommTimeouts timeouts_;
  std::uint32_t event_mask_ = 0;
  std::deque<std::uint32_t> events_;
  std::deque<std::uint8_t> rx_;
  std::uint32_t line_errors_ = 0;
  std::uint32_t modem_status_ = 0;
  FakeReadMode read_mode_ = FakeReadMode::kReturnQueued;
  int write_limit_ = -1;
  std::uint64_t rx_abort_gen_ = 0;
  std::uint64_t tx_abort_gen_ = 0;
  int waiting_ = 0;        // WaitEvent calls blocked now
  int reads_pending_ = 0;  // Read calls blocked now
  std::function<IoResult(void*, int)> read_hook_;
  std::function<void(const std::vector<std::uint8_t>&)> write_hook_;
  std::function<void(const LineSettings&)> line_hook_;
};

}  // namespace ornat::testing
