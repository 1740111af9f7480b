#pragma once
// FakeWin32: a recording, scriptable Win32Api for the Win32 device and the registry
// port list, on Linux and under Wine alike.
//
// - Records every call in order with its arguments (Calls(), Names()); a Win32Call
//   holds the numbers as they were passed (handles as numbers, null pointers as 0),
//   the text argument (device name, key name), the DCB and the timeouts record.
// - Handles: CreateFileA gives kDevice; CreateEventA gives 0x200, 0x201, ...; every
//   handle must be closed once (OpenHandles()).
// - Events keep their state (all manual-reset, the only kind the device makes):
//   SetEvent, the waits, and the reset the system does when a transfer or an event
//   wait starts.
// - Transfers and event waits are overlapped: ReadFile, WriteFile and WaitCommEvent
//   stay pending (FALSE with ERROR_IO_PENDING) until the test completes them
//   (CompleteRead, CompleteWrite, CompleteWait) or they are aborted; ScriptRead /
//   ScriptWrite make the next one complete at once instead, or fail at once. A
//   pending transfer ends with ERROR_OPERATION_ABORTED on PurgeComm with its abort
//   flag (as Windows does) unless PurgeEndsTransfers(false) (as Wine does), and on
//   CancelIoEx of its OVERLAPPED in either case. SetCommMask completes a pending
//   event wait with an empty mask, as Windows does.
// - FailNext(name, error): the next call of that name fails with that last error
//   (FALSE, INVALID_HANDLE_VALUE, a null event, WAIT_FAILED, or the registry error
//   code itself); GetLastError() is kept per thread, as the system keeps it.
// - Registry: SetRegistryValues(list) fills HKLM\...\SERIALCOMM (name, type, data);
//   RefuseKey(error) makes RegOpenKeyExA fail.
// - SetupAPI: SetPortDevices(names) gives the Ports class's present devices with these
//   friendly names (nullopt: a device without one); the set's handle is kDevInfo
//   (DevInfoOpen() until destroyed).
// Thread-safe: the device is used from two threads at once.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/platform/win32_api.h"

namespace ornat::testing {

struct Win32Call {
  Win32Call(std::string n, std::vector<std::uint64_t> a = {}, std::string t = {})
      : name(std::move(n)), args(std::move(a)), text(std::move(t)) {}
  std::string name;
  std::vector<std::uint64_t> args;
  std::string text;
  win32::Dcb dcb;
  CommTimeouts timeouts;
};

struct RegistryValue {
  std::string name;
  win32::Dword type = win32::kRegSz;
  std::string data;  // as stored, its terminating null included where it has one
};

class FakeWin32 {
 public:
  static constexpr std::uint64_t kDevice = 0x100;
  static constexpr std::uint64_t kKey = 0x300;
  static constexpr std::uint64_t kDevInfo = 0x400;

  FakeWin32();
  const win32::Win32Api& api() const { return api_; }

  std::vector<Win32Call> Calls() const;
  std::vector<std::string> Names() const;
  // The names without the waits and results of the event thread, whose number
  // depends on timing.
  std::vector<std::string> NamesOf(const std::vector<std::string>& only) const;
  int Count(const std::string& name) const;
  void ClearCalls();
  std::vector<std::uint64_t> OpenHandles() const;

  void FailNext(const std::string& name, win32::Dword error, int times = 1);
  void PurgeEndsTransfers(bool yes);

  // What the next ReadFile/WriteFile does at once: complete with these bytes (Read) or
  // this count (Write), or fail with the error. Without a script they stay pending.
  void ScriptReadNow(const std::vector<std::uint8_t>& bytes);
  void ScriptWriteNow(win32::Dword count);
  // Blocks until a transfer or event wait of that kind is pending, or 2 s passed.
  bool WaitForPending(const std::string& kind, int timeout_ms = 2000) const;
  // Completes the pending one of that kind; false when none is pending.
  bool CompleteRead(const std::vector<std::uint8_t>& bytes);
  bool CompleteWrite(win32::Dword count);
  bool CompleteWait(win32::Dword mask);
  // Ends the pending event wait with an error (the result call then fails with it).
  bool FailWait(win32::Dword error);

  void SetInQueue(win32::Dword bytes);
  void SetLineErrors(win32::Dword flags);
  void SetModemStatus(win32::Dword flags);

  void SetRegistryValues(std::vector<RegistryValue> values);
  void RefuseKey(win32::Long error);
  void SetPortDevices(std::vector<std::optional<std::u16string>> friendly_names);
  bool DevInfoOpen() const { return dev_info_open_; }

 private:
  struct Event {
    bool signalled = false;
  };
  struct Pending {
    win32::Overlapped* ov = nullptr;
    void* buffer = nullptr;        // ReadFile
    win32::Dword* mask = nullptr;  // WaitCommEvent
    win32::Dword count = 0;
  };
  // Records the call; true when it is to fail (the last error is then set).
  bool Enter(Win32Call call, std::unique_lock<std::mutex>& lock);
  void Signal(win32::Handle h);
  // Ends the pending op of that kind with a status and a count.
  void Finish(const std::string& kind, std::uint32_t status, win32::Dword count);
  win32::Dword WaitAny(const std::vector<win32::Handle>& handles, win32::Dword ms);

  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  win32::Win32Api api_;
  std::vector<Win32Call> calls_;
  std::map<std::string, std::vector<win32::Dword>> failures_;
  std::map<std::uint64_t, Event> events_;
  std::uint64_t next_event_ = 0x200;
  bool device_open_ = false;
  bool key_open_ = false;
  bool purge_ends_transfers_ = true;
  std::optional<std::vector<std::uint8_t>> read_now_;
  std::optional<win32::Dword> write_now_;
  std::map<std::string, Pending> pending_;  // "ReadFile", "WriteFile", "WaitCommEvent"
  win32::Dword in_queue_ = 0;
  win32::Dword line_errors_ = 0;
  win32::Dword modem_status_ = 0;
  std::vector<RegistryValue> registry_;
  win32::Long refuse_key_ = 0;
  std::vector<std::optional<std::u16string>> port_devices_;
  bool dev_info_open_ = false;
};

}  // namespace ornat::testing
