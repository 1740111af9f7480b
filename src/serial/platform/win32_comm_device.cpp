#include "serial/platform/win32_comm_device.h"

#include <algorithm>

#include "text/utf16.h"

namespace ornat {

using namespace win32;

namespace {

// A failed call whose GetLastError() reads 0 still failed: it must not pass for
// success (DevError 0).
DevError FailureCode(Dword last_error) {
  return last_error != 0 ? static_cast<DevError>(last_error)
                         : static_cast<DevError>(kErrorGenFailure);
}

// The event thread's wait kit: StopSignal, and the run loop's own event, OVERLAPPED
// block and mask variable. The block is on the heap: a wait still pending when the
// kit goes (the system may yet write into it) is cancelled first, and when it cannot
// be seen to end the block is left to the system rather than freed under it.
struct WaitBlock {
  Overlapped ov;
  Dword mask = 0;
  bool pending = false;
};

class Win32StopSignal : public CommStopSignal {
 public:
  Win32StopSignal(const Win32Api& api, const std::atomic<Handle>& device)
      : api_(api), device_(device), stop_(api.CreateEventA(nullptr, 1, 0, nullptr)) {}
  ~Win32StopSignal() override {
    if (block_ != nullptr) {
      bool ended = !block_->pending;
      if (!ended) {
        const Handle h = device_.load(std::memory_order_acquire);
        api_.CancelIoEx(h, &block_->ov);
        if (api_.WaitForSingleObject(block_->ov.hEvent, 1000) == kWaitObject0) {
          Dword n = 0;
          api_.GetOverlappedResult(h, &block_->ov, &n, 0);
          ended = true;
        }
      }
      if (ended) {
        if (block_->ov.hEvent != nullptr) api_.CloseHandle(block_->ov.hEvent);
        delete block_;
      }
    }
    if (stop_ != nullptr) api_.CloseHandle(stop_);
  }
  Win32StopSignal(const Win32StopSignal&) = delete;
  Win32StopSignal& operator=(const Win32StopSignal&) = delete;

  void Set() override {
    if (stop_ != nullptr) api_.SetEvent(stop_);
  }
  bool IsSet() const override {
    return stop_ != nullptr && api_.WaitForSingleObject(stop_, 0) == kWaitObject0;
  }

  Handle stop() const { return stop_; }
  // The loop's block, made with its event (manual reset, signalled) on first use, on
  // the event thread. Null when the event cannot be made.
  WaitBlock* Block() {
    if (block_ == nullptr) {
      Handle event = api_.CreateEventA(nullptr, 1, 1, nullptr);
      if (event == nullptr) return nullptr;
      block_ = new WaitBlock;
      block_->ov.hEvent = event;
    }
    return block_;
  }

 private:
  const Win32Api& api_;
  const std::atomic<Handle>& device_;
  Handle stop_;
  WaitBlock* block_ = nullptr;
};

}  // namespace

Dcb win32::ToDcb(const LineSettings& s) {
  Dcb d;
  d.DCBlength = s.DCBlength;
  d.BaudRate = s.BaudRate;
  d.fBinary = s.fBinary;
  d.fParity = s.fParity;
  d.fOutxCtsFlow = s.fOutxCtsFlow;
  d.fOutxDsrFlow = s.fOutxDsrFlow;
  d.fDtrControl = s.fDtrControl & 3u;
  d.fDsrSensitivity = s.fDsrSensitivity;
  d.fTXContinueOnXoff = s.fTXContinueOnXoff;
  d.fOutX = s.fOutX;
  d.fInX = s.fInX;
  d.fErrorChar = s.fErrorChar;
  d.fNull = s.fNull;
  d.fRtsControl = s.fRtsControl & 3u;
  d.fAbortOnError = s.fAbortOnError;
  d.XonLim = s.XonLim;
  d.XoffLim = s.XoffLim;
  d.ByteSize = s.ByteSize;
  d.Parity = s.Parity;
  d.StopBits = s.StopBits;
  d.XonChar = static_cast<char>(s.XonChar);
  d.XoffChar = static_cast<char>(s.XoffChar);
  d.ErrorChar = static_cast<char>(s.ErrorChar);
  d.EofChar = static_cast<char>(s.EofChar);
  d.EvtChar = static_cast<char>(s.EvtChar);
  return d;
}

Win32CommDevice::Win32CommDevice(const Win32Api& api, Dword queue_look_ms)
    : api_(api), queue_look_ms_(queue_look_ms), handle_(InvalidHandle()) {}

Win32CommDevice::~Win32CommDevice() {
  Close();
}

std::string Win32CommDevice::DeviceName(const std::string& port) {
  return "\\\\.\\" + port;
}

DevError Win32CommDevice::LastError() const {
  return FailureCode(api_.GetLastError());
}

DevError Win32CommDevice::Open(const std::string& port) {
  // A second open of the same port is what Windows refuses another program.
  if (IsOpen()) return static_cast<DevError>(kErrorAccessDenied);
  const std::string name = DeviceName(port);
  Handle h = text::IsAscii(name)
                 ? api_.CreateFileA(name.c_str(), kGenericRead | kGenericWrite, 0, nullptr,
                                    kOpenExisting, kFileFlagOverlapped, nullptr)
                 : api_.CreateFileW(text::Utf16FromUtf8(name).c_str(), kGenericRead | kGenericWrite,
                                    0, nullptr, kOpenExisting, kFileFlagOverlapped, nullptr);
  if (h == InvalidHandle()) return LastError();
  event_mask_.store(0, std::memory_order_release);
  looked_errors_.store(0, std::memory_order_release);
  handle_.store(h, std::memory_order_release);
  return 0;
}

bool Win32CommDevice::IsOpen() const {
  return handle_.load(std::memory_order_acquire) != InvalidHandle();
}

DevError Win32CommDevice::Close() {
  const Handle h = handle_.load(std::memory_order_acquire);
  if (h == InvalidHandle()) return 0;
  const Bool ok = api_.CloseHandle(h);
  const DevError e = ok ? 0 : LastError();
  handle_.store(InvalidHandle(), std::memory_order_release);
  return e;
}

DevError Win32CommDevice::SetupQueues(int input_size, int output_size) {
  if (!api_.SetupComm(handle_.load(std::memory_order_acquire), static_cast<Dword>(input_size),
                      static_cast<Dword>(output_size)))
    return LastError();
  return 0;
}

DevError Win32CommDevice::SetLineSettings(const LineSettings& settings) {
  const Dcb dcb = ToDcb(settings);
  if (!api_.SetCommState(handle_.load(std::memory_order_acquire), &dcb)) return LastError();
  return 0;
}

DevError Win32CommDevice::SetTimeouts(const CommTimeouts& timeouts) {
  if (!api_.SetCommTimeouts(handle_.load(std::memory_order_acquire), &timeouts)) return LastError();
  return 0;
}

DevError Win32CommDevice::SetEventMask(std::uint32_t mask) {
  if (!api_.SetCommMask(handle_.load(std::memory_order_acquire), mask)) return LastError();
  event_mask_.store(mask, std::memory_order_release);
  return 0;
}

std::unique_ptr<CommStopSignal> Win32CommDevice::CreateStopSignal() {
  return std::make_unique<Win32StopSignal>(api_, handle_);
}

WaitResult Win32CommDevice::WaitEvent(CommStopSignal& stop) {
  auto* signal = dynamic_cast<Win32StopSignal*>(&stop);
  if (signal == nullptr || signal->stop() == nullptr)
    return {WaitOutcome::kFailed, 0, static_cast<DevError>(kErrorInvalidHandle)};
  WaitBlock* block = signal->Block();
  if (block == nullptr) return {WaitOutcome::kFailed, 0, LastError()};
  const Handle h = handle_.load(std::memory_order_acquire);
  for (;;) {
    if (!block->pending) {
      block->mask = 0;
      if (!api_.WaitCommEvent(h, &block->mask, &block->ov)) {
        const Dword e = api_.GetLastError();
        // Failing at once (a device that is gone, a driver without event waits): the
        // wait's event may still be signalled, and waiting again would spin.
        if (e != kErrorIoPending) return {WaitOutcome::kFailed, 0, FailureCode(e)};
      }
      block->pending = true;
    }
    const Handle handles[2] = {signal->stop(), block->ov.hEvent};
    const Dword woke = api_.WaitForMultipleObjects(2, handles, 0, queue_look_ms_);
    if (woke == kWaitObject0) return {WaitOutcome::kStopped, 0, 0};
    if (woke == kWaitTimeout) {
      if (const std::uint32_t missed = MissedEvents(h); missed != 0)
        return {WaitOutcome::kEvents, missed, 0};
      continue;
    }
    if (woke != kWaitObject0 + 1) return {WaitOutcome::kFailed, 0, LastError()};
    Dword n = 0;
    if (!api_.GetOverlappedResult(h, &block->ov, &n, 0)) {
      // 996, ERROR_IO_INCOMPLETE: still pending, wait on; anything else ended the
      // wait with an error, and that batch is dropped.
      if (api_.GetLastError() != 996) block->pending = false;
      continue;
    }
    block->pending = false;
    // A mask changed under the wait completes it with no event: nothing to deliver.
    if (block->mask == 0) continue;
    return {WaitOutcome::kEvents, block->mask, 0};
  }
}

IoResult Win32CommDevice::Transfer(Kind kind, void* read_buffer, const void* write_buffer,
                                   int count) {
  const Handle h = handle_.load(std::memory_order_acquire);
  Overlapped ov;
  ov.hEvent = api_.CreateEventA(nullptr, 1, 1, nullptr);
  if (ov.hEvent == nullptr) return {LastError(), 0};
  {
    std::lock_guard<std::mutex> lock(in_flight_mutex_);
    in_flight_.push_back({&ov, kind});
  }
  Dword done = 0;
  const Dword n = static_cast<Dword>(std::max(count, 0));
  const Bool started = kind == Kind::kRead ? api_.ReadFile(h, read_buffer, n, &done, &ov)
                                           : api_.WriteFile(h, write_buffer, n, &done, &ov);
  DevError error = 0;
  if (!started) {
    const Dword e = api_.GetLastError();
    if (e != kErrorIoPending) error = FailureCode(e);
  }
  if (error == 0) {
    if (api_.WaitForSingleObject(ov.hEvent, kInfinite) != kWaitObject0)
      error = LastError();
    else if (!api_.GetOverlappedResult(h, &ov, &done, 0))
      error = LastError();
  }
  {
    std::lock_guard<std::mutex> lock(in_flight_mutex_);
    in_flight_.erase(std::find_if(in_flight_.begin(), in_flight_.end(),
                                  [&](const InFlight& f) { return f.ov == &ov; }));
  }
  api_.CloseHandle(ov.hEvent);
  if (error != 0) return {error, 0};
  return {0, static_cast<int>(std::min<Dword>(done, n))};
}

IoResult Win32CommDevice::Read(void* buffer, int count) {
  return Transfer(Kind::kRead, buffer, nullptr, count);
}

IoResult Win32CommDevice::Write(const void* buffer, int count) {
  return Transfer(Kind::kWrite, nullptr, buffer, count);
}

std::uint32_t Win32CommDevice::MissedEvents(Handle h) {
  const std::uint32_t wanted = event_mask_.load(std::memory_order_acquire);
  if ((wanted & (EV_RXCHAR | EV_ERR)) == 0) return 0;
  Dword flags = 0;
  ComStat stat;
  if (!api_.ClearCommError(h, &flags, &stat)) return 0;  // the wait goes on
  looked_errors_.fetch_or(flags, std::memory_order_acq_rel);
  std::uint32_t missed = 0;
  if (stat.cbInQue > 0) missed |= EV_RXCHAR;
  if (looked_errors_.load(std::memory_order_acquire) != 0) missed |= EV_ERR;
  return missed & wanted;
}

DevError Win32CommDevice::ClearError(std::uint32_t& errors, std::uint32_t& in_queue) {
  Dword flags = 0;
  ComStat stat;
  if (!api_.ClearCommError(handle_.load(std::memory_order_acquire), &flags, &stat))
    return LastError();
  errors = flags | looked_errors_.exchange(0, std::memory_order_acq_rel);
  in_queue = stat.cbInQue;
  return 0;
}

DevError Win32CommDevice::GetModemStatus(std::uint32_t& status) {
  Dword lines = 0;
  if (!api_.GetCommModemStatus(handle_.load(std::memory_order_acquire), &lines)) return LastError();
  status = lines;
  return 0;
}

DevError Win32CommDevice::Purge(std::uint32_t flags) {
  const Handle h = handle_.load(std::memory_order_acquire);
  if (!api_.PurgeComm(h, flags)) return LastError();
  if ((flags & (PURGE_TXABORT | PURGE_RXABORT)) != 0) {
    std::lock_guard<std::mutex> lock(in_flight_mutex_);
    for (const InFlight& f : in_flight_) {
      const bool aborted =
          f.kind == Kind::kRead ? (flags & PURGE_RXABORT) != 0 : (flags & PURGE_TXABORT) != 0;
      // ERROR_NOT_FOUND when the purge has ended it already: nothing to report.
      if (aborted) api_.CancelIoEx(h, f.ov);
    }
  }
  return 0;
}

}  // namespace ornat
