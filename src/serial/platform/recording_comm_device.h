#pragma once
// RecordingCommDevice: a decorator over any CommDevice that records every call, in
// order, with its arguments and what it returned, and fails calls on demand. The unit
// tests read the record (over the scripted test device or the simulated line) to see
// what the serial component asked of its device; the same record can be kept over a
// real port or a network transport.
//
// Call names: "Open", "Close", "SetupQueues", "SetLineSettings", "SetTimeouts",
// "SetEventMask", "CreateStopSignal", "WaitEvent", "Read", "Write", "ClearError",
// "GetModemStatus", "Purge" (IsOpen and HoldersAtLastOpen are queries and are not
// recorded). A call is recorded when it starts, so a wait or a read that blocks is in
// the record while it blocks; its result is filled in when it returns.
//
// Failures on demand: FailNext("Open", ENOENT) fails the next Open once;
// FailAlways(name, error) until ClearFailures(). A failed call is recorded with its
// error and not passed on, so the wrapped device's state stays as it was (a failed
// SetLineSettings keeps the previous settings). After an Open failed on demand with
// EBUSY, HoldersAtLastOpen reports the holders given to SetHolders.
//
// Thread-safe: the component calls it from the user-interface thread and the event
// thread at once.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/forwarding_comm_device.h"

namespace ornat {

struct DeviceCall {
  std::string name;
  std::string port;                // Open
  std::vector<std::int64_t> args;  // SetupQueues {in, out}; SetEventMask {mask};
                                   // Purge {flags}; Read/Write {count requested}
  LineSettings line;               // SetLineSettings
  CommTimeouts timeouts;           // SetTimeouts
  std::vector<std::uint8_t> data;  // Write: the bytes given
  DevError result = 0;             // what the call returned (its error)
};

class RecordingCommDevice : public ForwardingCommDevice {
 public:
  // `target` outlives the decorator.
  explicit RecordingCommDevice(CommDevice& target) : target_(target) {}
  RecordingCommDevice(const RecordingCommDevice&) = delete;
  RecordingCommDevice& operator=(const RecordingCommDevice&) = delete;

  // --- CommDevice --------------------------------------------------------------
  DevError Open(const std::string& port) override;
  std::vector<PortHolder> HoldersAtLastOpen() const override;
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

  // --- the record ----------------------------------------------------------------
  std::vector<DeviceCall> calls() const;
  std::vector<std::string> Names() const;
  // Names without "WaitEvent" and "CreateStopSignal" (the event thread's own calls).
  std::vector<std::string> NamesWithoutWaits() const;
  int Count(const std::string& name) const;
  // The last call of that name (a default DeviceCall when there was none).
  DeviceCall Last(const std::string& name) const;
  void ClearCalls();
  // Blocks until Count(name) >= n or the time is up.
  bool WaitForCalls(const std::string& name, int n, int timeout_ms = 2000) const;

  // --- failures on demand ----------------------------------------------------------
  void FailNext(const std::string& name, DevError error, int times = 1);
  void FailAlways(const std::string& name, DevError error);
  void ClearFailures();
  void SetHolders(std::vector<PortHolder> holders);

 protected:
  CommDevice& Target() const override { return target_; }

 private:
  // Records the call as started; returns its number and the failure on demand for it
  // (0: none, the call goes on).
  struct Entry {
    std::uint64_t id = 0;
    DevError failure = 0;
  };
  Entry Enter(DeviceCall call);
  // Records what the call returned; returns `result`.
  DevError Leave(std::uint64_t id, DevError result);
  // Enter, then act() unless the call fails on demand, then Leave.
  template <typename Act>
  DevError Record(DeviceCall call, Act act);
  int CountLocked(const std::string& name) const;

  CommDevice& target_;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  // --- guarded by mutex_ ---
  std::vector<DeviceCall> calls_;
  std::vector<std::uint64_t> ids_;  // the number of each recorded call
  std::uint64_t next_id_ = 0;
  struct Failure {
    DevError error = 0;
    int times = 0;  // -1: always
  };
  std::map<std::string, Failure> failures_;
  std::vector<PortHolder> holders_;
  bool busy_on_demand_ = false;  // an EBUSY on demand failed the last Open
};

}  // namespace ornat
