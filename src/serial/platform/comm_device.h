#pragma once
// CommDevice: the platform boundary of the serial layer.
//
// The component (TCustomComPort, TComThread) asks exactly what it asks of Win32's
// communications API, and nothing else: open a device exclusively, queue sizes
// (SetupComm), line settings from a DCB-like record (SetCommState), timeouts
// (SetCommTimeouts), an event mask and an event wait that a stop signal wakes
// (SetCommMask, WaitCommEvent), blocking reads and writes with the Win32 timeout
// semantics (ReadFile/WriteFile + GetOverlappedResult), queue count and line errors
// (ClearCommError), modem status (GetCommModemStatus), purge with abort (PurgeComm),
// close (CloseHandle).
//
// Errors: every call returns a DevError, 0 on success or the platform's error number:
// errno on Linux (ENOENT for a name without a device, EBUSY for a device another
// program holds, ECANCELED for a transfer that a purge with abort ended, EIO for a
// hung-up device, ...), GetLastError() on Windows (2, 5, 995, ...). The component turns
// it into an EComPort code and keeps the number as its SystemError. No file descriptor
// or handle is visible above this interface. The errno values named below are Linux's;
// Windows gives its own codes for the same cases.
//
// Threads: a device is used by the user-interface thread (open, close, settings,
// write, purge) and the port's event thread (event wait, read, queries) at once;
// every implementation is safe for that.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ornat {

// 0 = success, else the platform's error number (errno; GetLastError() on Windows).
using DevError = int;

// The DCB-like record passed to SetLineSettings. Field names and codes are Win32's;
// every field the component does not fill is zero.
struct LineSettings {
  std::uint32_t DCBlength = 28;  // size of the Win32 record
  std::uint32_t BaudRate = 0;    // bit/s, any value (not only the TBaudRate table)
  bool fBinary = false;
  bool fParity = false;  // check parity of received bytes
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  std::uint8_t fDtrControl = 0;  // 0 disable, 1 enable, 2 handshake
  bool fDsrSensitivity = false;
  bool fTXContinueOnXoff = false;
  bool fOutX = false;  // XON/XOFF for output
  bool fInX = false;   // XON/XOFF for input
  bool fErrorChar = false;
  bool fNull = false;            // discard received null bytes
  std::uint8_t fRtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
  bool fAbortOnError = false;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;  // 5..8
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  std::uint8_t XonChar = 0;
  std::uint8_t XoffChar = 0;
  std::uint8_t ErrorChar = 0;
  std::uint8_t EofChar = 0;
  std::uint8_t EvtChar = 0;

  bool operator==(const LineSettings&) const = default;
};

// The COMMTIMEOUTS-like record; milliseconds. kMaxDword is the -1 of the component.
inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const CommTimeouts&) const = default;
};

// A file that included <windows.h> first has these names as the system's macros, of the
// same values; the declarations would not compile there.
#ifndef EV_RXCHAR
// Event mask bits (Win32 EV_*).
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;

// Line error flags (Win32 CE_*), as ClearError returns them.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;
inline constexpr std::uint32_t CE_TXFULL = 0x0100;
inline constexpr std::uint32_t CE_IOE = 0x0400;
inline constexpr std::uint32_t CE_MODE = 0x8000;

// Modem status bits (Win32 MS_*).
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// Purge flags (Win32 PURGE_*).
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;
#endif

// The stop signal of an event wait (the TComThread's StopSignal): a manual-reset
// event, created not signalled. Set() is thread-safe and wakes a WaitEvent that
// waits on this signal, now or later.
class CommStopSignal {
 public:
  virtual ~CommStopSignal() = default;
  virtual void Set() = 0;
  virtual bool IsSet() const = 0;
};

// A stop signal kept under a device's own lock, for devices whose waits sleep on one
// condition variable (the test fake, the simulated line): Set wakes those waits.
class LockedStopSignal : public CommStopSignal {
 public:
  LockedStopSignal(std::mutex& mutex, std::condition_variable& cv) : mutex_(mutex), cv_(cv) {}
  void Set() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_ = true;
    }
    cv_.notify_all();
  }
  bool IsSet() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }
  // With the device's lock held.
  bool IsSetLocked() const { return set_; }

 private:
  std::mutex& mutex_;
  std::condition_variable& cv_;
  bool set_ = false;  // guarded by mutex_
};

// A program found holding a device: its process id and its name as the system
// knows it (empty when that could not be read).
struct PortHolder {
  int pid = 0;
  std::string name;
  bool operator==(const PortHolder&) const = default;
};

// How an event wait ended.
enum class WaitOutcome {
  kEvents,   // events happened; the mask holds them (never 0)
  kStopped,  // the stop signal is set
  kFailed,   // the wait failed (error holds the errno; EIO for a hung-up device)
};
struct WaitResult {
  WaitOutcome outcome = WaitOutcome::kFailed;
  std::uint32_t mask = 0;  // EV_* bits, with kEvents
  DevError error = 0;      // with kFailed
};

// Result of a transfer: error 0 and count bytes moved, or an errno.
struct IoResult {
  DevError error = 0;
  int count = 0;
};

class CommDevice {
 public:
  virtual ~CommDevice() = default;

  // Opens the named port exclusively (name as TComPort::Port holds it: "ttyUSB0",
  // a registered virtual port name, or a path with a '/'). Fails with the errno of
  // the open (ENOENT: no such device; EBUSY: another program, or another open of
  // this one, has it open). Opening an open device fails with EBUSY.
  virtual DevError Open(const std::string& port) = 0;
  // The other programs found holding the port when the last Open failed with EBUSY,
  // ordered by process id; empty after any other outcome, or when none could be
  // seen (a platform that cannot tell, or holders this user may not look at).
  virtual std::vector<PortHolder> HoldersAtLastOpen() const { return {}; }
  virtual bool IsOpen() const = 0;
  // Closes the device; on a closed device it does nothing and returns 0.
  virtual DevError Close() = 0;

  // Driver queue sizes in bytes (SetupComm). May be advisory.
  virtual DevError SetupQueues(int input_size, int output_size) = 0;
  // Line settings (SetCommState). Either all of the record takes effect or the call
  // fails and the previous settings stay.
  virtual DevError SetLineSettings(const LineSettings& settings) = 0;
  // Timeouts (SetCommTimeouts); they govern Read and Write.
  virtual DevError SetTimeouts(const CommTimeouts& timeouts) = 0;

  // The events the next waits report (SetCommMask). 0 disables event waits.
  virtual DevError SetEventMask(std::uint32_t mask) = 0;
  // A new stop signal for WaitEvent (one per event thread).
  virtual std::unique_ptr<CommStopSignal> CreateStopSignal() = 0;
  // Blocks until one of the events of the mask happens (reported once per
  // occurrence, as WaitCommEvent does: bytes that stay queued are not reported
  // again), the stop signal is set, or the wait fails. A hung-up device fails the
  // wait (EIO); a wait never returns kEvents with an empty mask.
  virtual WaitResult WaitEvent(CommStopSignal& stop) = 0;

  // Blocking read of at most count bytes with the Win32 timeout semantics of the
  // current CommTimeouts (ReadFile): e.g. interval 150 and zero totals: returns when
  // count bytes came or 150 ms after the last byte, and waits for the first byte
  // without end; interval kMaxDword with zero totals: returns at once with what is
  // queued (possibly 0). A purge with PURGE_RXABORT ends a pending read at once with
  // ECANCELED. A hung-up device fails the read with EIO (bytes read before the
  // hang-up are returned first).
  virtual IoResult Read(void* buffer, int count) = 0;
  // Blocking write with the write totals (multiplier * count + constant ms; both 0:
  // no limit). Running out of time is no error: the count written is returned.
  // PURGE_TXABORT ends a pending write with ECANCELED.
  virtual IoResult Write(const void* buffer, int count) = 0;

  // ClearCommError: the line errors since the last call (CE_* flags; the call
  // clears them) and the bytes in the receive queue. Where the platform has no error
  // counters (a pty), errors reads 0: that is not a failure.
  virtual DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) = 0;
  // GetCommModemStatus: MS_* flags. Where there are no modem lines (a pty), all
  // lines read as off: that is not a failure.
  virtual DevError GetModemStatus(std::uint32_t& status) = 0;
  // PurgeComm with PURGE_* flags: the abort flags end pending reads/writes at once
  // (they fail with ECANCELED); the clear flags empty the queues.
  virtual DevError Purge(std::uint32_t flags) = 0;
  // A line through a Modbus TCP gateway: the gateway's exception code (0x0A: no path to
  // the serial line, 0x0B: the detector did not answer) that came for the last request
  // in place of the detector's answer; 0 when none did, and on every other line.
  virtual std::uint8_t GatewayNoAnswerCode() const { return 0; }
  // A line through a Modbus TCP gateway: the bytes the network carried for the last
  // request (its MBAP frame) and for its answer (the gateway's MBAP frame of that
  // transaction, when one came); both empty on every other line.
  struct NetworkFrames {
    std::vector<std::uint8_t> sent, received;
  };
  virtual NetworkFrames LastNetworkFrames() const { return {}; }
  // What the last failure since the last Open was, in the device's own sentence, where
  // the error number alone says too little (a network line's: "the server refused
  // COM-PORT-OPTION (RFC 2217): it cannot set the line's speed"); empty otherwise.
  virtual std::string LastProblem() const { return {}; }
};

}  // namespace ornat
