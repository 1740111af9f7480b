#pragma once
// Win32CommDevice: CommDevice over Win32's communications calls, one to one, every
// call through the Win32Api table.
//
// - Open: CreateFileA("\\.\" + port, GENERIC_READ | GENERIC_WRITE, no sharing, no
//   security attributes, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, no template). The
//   prefix opens COM10 and above too. A failure gives GetLastError() (2: no such
//   port; 5: another program has it). A name that is not ASCII (the port names are
//   UTF-8) goes to CreateFileW in UTF-16 with the same arguments: through the ANSI
//   code page its letters would become "?".
// - Settings: SetupComm, SetCommState with the record as a DCB, SetCommTimeouts;
//   SetEventMask is SetCommMask.
// - Event wait: an overlapped WaitCommEvent, then WaitForMultipleObjects on the stop
//   signal (first) and the wait's own event (second), then GetOverlappedResult without
//   waiting. The wait looks at the input queue every queue_look_ms (ClearCommError):
//   bytes queued (or line errors) with no event are delivered as EV_RXCHAR (EV_ERR)
//   if those are wanted, the WaitCommEvent staying pending. Wine's event wait can
//   stall when a WaitCommEvent follows the previous one's completion at once (seen on
//   a loaded machine: an answer queued for 400 ms with no event, then purged), and a
//   byte must never wait unread for the port's close; the look's error flags are kept
//   for the next ClearCommError, so that EV_ERR's handler still sees them. The stop signal carries
//   the wait's event, its OVERLAPPED block and the mask variable, so they live as long as the event
//   thread that uses them. A WaitCommEvent that fails at once (not ERROR_IO_PENDING)
//   fails the wait: a device that is gone ends the thread instead of spinning it. A
//   batch whose result cannot be had, or whose mask is empty, is dropped and the wait
//   starts again.
// - Read and Write: one request each, an OVERLAPPED with a manual-reset event of its
//   own created signalled (CreateEventA); ReadFile/WriteFile; immediate success or
//   ERROR_IO_PENDING is accepted; then WaitForSingleObject on the event without a
//   time limit and GetOverlappedResult without waiting; the event is closed however
//   the call ends. The timeouts of SetCommTimeouts decide when a transfer completes.
// - Purge: PurgeComm. With an abort flag, the transfers in flight are then also
//   cancelled one by one (CancelIoEx on their OVERLAPPED): on Windows PurgeComm has
//   ended them already and this finds nothing; Wine does not end a pending read on
//   PurgeComm, and the cancel does. They then fail with ERROR_OPERATION_ABORTED (995).
// - ClearCommError gives the error flags and cbInQue; GetCommModemStatus the lines.
// - Close: CloseHandle.
// Errors are GetLastError() values, read right after the failed call.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"
#include "serial/platform/win32_api.h"

namespace ornat {

class Win32CommDevice : public CommDevice {
 public:
  // How often a pending event wait looks at the input queue (ms).
  static constexpr win32::Dword kQueueLookMs = 20;

  // queue_look_ms: win32::kInfinite looks never (the event wait alone).
  explicit Win32CommDevice(const win32::Win32Api& api, win32::Dword queue_look_ms = kQueueLookMs);
  ~Win32CommDevice() override;
  Win32CommDevice(const Win32CommDevice&) = delete;
  Win32CommDevice& operator=(const Win32CommDevice&) = delete;

  DevError Open(const std::string& port) override;
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

  // The device name CreateFileA gets for a port: "\\.\" + port.
  static std::string DeviceName(const std::string& port);

 private:
  enum class Kind { kRead, kWrite };
  IoResult Transfer(Kind kind, void* read_buffer, const void* write_buffer, int count);
  DevError LastError() const;

  // A look at the input queue: EV_RXCHAR for queued bytes, EV_ERR for line errors,
  // as far as they are wanted: the events the wait missed.
  std::uint32_t MissedEvents(win32::Handle h);

  const win32::Win32Api& api_;
  const win32::Dword queue_look_ms_;
  // The events SetEventMask asked for, and the error flags a look at the queue took
  // (given to the next ClearError).
  std::atomic<std::uint32_t> event_mask_{0};
  std::atomic<std::uint32_t> looked_errors_{0};
  // Set by Open and cleared by Close on the user-interface thread; read by the event
  // thread, which runs only in between.
  std::atomic<win32::Handle> handle_;
  // The transfers in flight, for the cancel after an abort.
  struct InFlight {
    win32::Overlapped* ov;
    Kind kind;
  };
  std::mutex in_flight_mutex_;
  std::vector<InFlight> in_flight_;
};

}  // namespace ornat
