#include "serial/comport.h"

#include <stdexcept>
#include <thread>

#include "serial/com_events.h"
#include "serial/comthread.h"

namespace ornat {

TCustomComPort::TCustomComPort(std::string name, CommDevice& device, Dispatcher& dispatcher)
    : TComponent(std::move(name)), device_(device), dispatcher_(dispatcher) {}

TCustomComPort::~TCustomComPort() {
  try {
    ClosePort();
  } catch (...) {
    // A destructor cannot raise. The close may have stopped at the abort step: then
    // the thread and the device still run; take them down regardless.
    try {
      DestroyThread();
      if (handle_valid_) CloseDevice();
    } catch (...) {
    }
    connected_.store(false, std::memory_order_release);
  }
  // The settings objects are members: freed after this body, i.e. after the close.
}

// --- setters ----------------------------------------------------------------

void TCustomComPort::SetConnected(bool v) {
  if (loading_) {
    recorded_connected_ = v;
    return;
  }
  if (v == Connected()) return;
  if (v)
    OpenPort();
  else
    ClosePort();
}

void TCustomComPort::SetPort(const std::string& v) {
  if (v == port_) return;  // exact, case-sensitive
  port_ = v;
  if (Connected() && !loading_) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetSyncMethod(TSyncMethod v) {
  if (v == sync_method_) return;
  if (Connected() && !loading_) throw EComPort(CError_ConnChangeProp);
  sync_method_ = v;
}

void TCustomComPort::SetParity(const TComParity& v) {
  parity_.Assign(v);
  ApplyLineSettings();
}
void TCustomComPort::SetFlowControl(const TComFlowControl& v) {
  flow_control_.Assign(v);
  ApplyLineSettings();
}
void TCustomComPort::SetTimeouts(const TComTimeouts& v) {
  timeouts_.Assign(v);
  ApplyTimeoutSettings();
}
void TCustomComPort::SetBuffer(const TComBuffer& v) {
  buffer_.Assign(v);
  ApplyBufferSizes();
}

// --- loading ----------------------------------------------------------------

void TCustomComPort::EndLoading() {
  loading_ = false;
  if (!recorded_connected_) return;
  recorded_connected_ = false;
  try {
    OpenPort();
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    if (exception_report_) {
      exception_report_(error);
    } else {
      // The gate sends an exception of posted work to the exception report.
      dispatcher_.Post([error] { std::rethrow_exception(error); });
    }
  }
}

// --- records ----------------------------------------------------------------

LineSettings TCustomComPort::BuildLineSettings() const {
  LineSettings d;
  d.DCBlength = 28;
  d.BaudRate = baud_rate_ == TBaudRate::brCustom
                   ? static_cast<std::uint32_t>(custom_baud_rate_)
                   : static_cast<std::uint32_t>(BaudRateToBits(baud_rate_));
  d.fBinary = true;
  d.fParity = parity_.Check();
  d.fOutxCtsFlow = flow_control_.OutCTSFlow();
  d.fOutxDsrFlow = flow_control_.OutDSRFlow();
  d.fDtrControl = static_cast<std::uint8_t>(flow_control_.ControlDTR());
  d.fDsrSensitivity = flow_control_.DSRSensitivity();
  d.fTXContinueOnXoff = flow_control_.TxContinueOnXoff();
  d.fOutX = flow_control_.XonXoffOut();
  d.fInX = flow_control_.XonXoffIn();
  d.fErrorChar = parity_.Check() && parity_.Replace();
  d.fNull = discard_null_;
  d.fRtsControl = static_cast<std::uint8_t>(flow_control_.ControlRTS());
  d.fAbortOnError = false;
  // Both limits are a quarter of the input queue, truncated towards zero (256 for
  // 1024); the record's fields are 16 bits wide as Win32's WORDs.
  d.XonLim = static_cast<std::uint16_t>(buffer_.InputSize() / 4);
  d.XoffLim = static_cast<std::uint16_t>(buffer_.InputSize() / 4);
  d.ByteSize = static_cast<std::uint8_t>(5 + static_cast<int>(data_bits_));
  d.Parity = static_cast<std::uint8_t>(parity_.Bits());
  d.StopBits = static_cast<std::uint8_t>(stop_bits_);
  d.XonChar = static_cast<std::uint8_t>(flow_control_.XonChar());
  d.XoffChar = static_cast<std::uint8_t>(flow_control_.XoffChar());
  d.ErrorChar = d.fErrorChar ? static_cast<std::uint8_t>(parity_.ReplaceChar()) : 0;
  d.EvtChar = static_cast<std::uint8_t>(event_char_);
  return d;
}

CommTimeouts TCustomComPort::BuildTimeouts() const {
  // -1 is passed as the all-ones 32-bit value: the cast does exactly that.
  auto dw = [](int v) { return static_cast<std::uint32_t>(v); };
  CommTimeouts t;
  t.ReadIntervalTimeout = dw(timeouts_.ReadInterval());
  t.ReadTotalTimeoutMultiplier = dw(timeouts_.ReadTotalMultiplier());
  t.ReadTotalTimeoutConstant = dw(timeouts_.ReadTotalConstant());
  t.WriteTotalTimeoutMultiplier = dw(timeouts_.WriteTotalMultiplier());
  t.WriteTotalTimeoutConstant = dw(timeouts_.WriteTotalConstant());
  return t;
}

// --- steps ------------------------------------------------------------------

void TCustomComPort::OpenDevice() {
  DevError e = device_.Open(port_);
  if (e != 0) throw EComPort(CError_OpenFailed, e, device_.HoldersAtLastOpen());
  handle_valid_ = true;
}

void TCustomComPort::CloseDevice() {
  if (handle_valid_) {
    device_.Close();
    handle_valid_ = false;
  }
}

void TCustomComPort::ApplyAllSettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  DevError e = device_.SetLineSettings(BuildLineSettings());
  if (e != 0) throw EComPort(CError_SetStateFailed, e);
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!CanApply()) return;
  DevError e = device_.SetTimeouts(BuildTimeouts());
  if (e != 0) throw EComPort(CError_TimeoutsFailed, e);
}

void TCustomComPort::ApplyBufferSizes() {
  if (!CanApply()) return;
  DevError e = device_.SetupQueues(buffer_.InputSize(), buffer_.OutputSize());
  if (e != 0) throw EComPort(CError_SetupComFailed, e);
}

void TCustomComPort::AbortPendingIo() {
  DevError e = device_.Purge(PURGE_TXABORT | PURGE_RXABORT);
  if (e != 0) throw EComPort(CError_PurgeFailed, e);
}

// --- open and close ---------------------------------------------------------

void TCustomComPort::OpenPort() {
  if (Connected()) return;
  Raise(OnBeforeOpen);
  // Code 1 when the device cannot be opened: nothing else has happened by then.
  OpenDevice();
  connected_.store(true, std::memory_order_release);
  try {
    // Queues, line settings, timeouts; a device that refuses one is closed again.
    ApplyAllSettings();
  } catch (...) {
    CloseDevice();
    connected_.store(false, std::memory_order_release);
    throw;
  }
  // The event thread, only when some event is asked for.
  if (events_.Empty()) {
    thread_created_ = false;
  } else {
    if (sync_method_ == TSyncMethod::smWindowSync)
      notify_window_ = std::make_shared<TCustomComPort*>(this);
    event_thread_ = std::make_unique<TComThread>(*this);
    thread_created_ = true;
  }
  // The handlers learn of the open port and of its modem lines as they stand.
  Raise(OnAfterOpen);
  Deliver(TComEvent::evCTS);
  Deliver(TComEvent::evDSR);
  Deliver(TComEvent::evRLSD);
}

DevError TCustomComPort::EventWaitFailure() const {
  return Connected() && event_thread_ ? event_thread_->WaitFailure() : 0;
}

void TCustomComPort::DestroyThread() {
  if (!thread_created_) return;
  if (event_thread_ && std::this_thread::get_id() == event_thread_->Id())
    throw std::logic_error("ClosePort called from a handler on the serial event thread");
  event_thread_.reset();  // SignalStop, wait (serving the dispatcher), release
  thread_created_ = false;
  notify_window_.reset();  // DeallocateHWnd: posted deliveries are dropped from now on
}

void TCustomComPort::ClosePort() {
  if (!Connected()) return;
  // The three signal handlers hear the lines go off, without reading them.
  Raise(OnCTSChange, false);
  Raise(OnDSRChange, false);
  Raise(OnRLSDChange, false);
  Raise(OnBeforeClose);
  // Transfers under way end first; an abort that fails (code 5) stops the close here,
  // and the port stays open with its thread.
  AbortPendingIo();
  DestroyThread();
  CloseDevice();
  connected_.store(false, std::memory_order_release);
  Raise(OnAfterClose);
}

// --- transfers and queries --------------------------------------------------

int TCustomComPort::WriteBytes(const void* buffer, int count) {
  IoResult r = device_.Write(buffer, count);
  if (r.error != 0) throw EComPort(CError_WriteFailed, r.error);
  return r.count;
}

int TCustomComPort::ReadBytes(void* buffer, int count) {
  IoResult r = device_.Read(buffer, count);
  if (r.error != 0) throw EComPort(CError_ReadFailed, r.error);
  // A completed read is followed by a look at the queue, whose failure raises code 10.
  QueuedInputCount();
  return r.count;
}

int TCustomComPort::QueuedInputCount() {
  std::uint32_t errors = 0, in_queue = 0;
  DevError e = device_.ClearError(errors, in_queue);
  if (e != 0) throw EComPort(CError_ClearComFailed, e);
  return static_cast<int>(in_queue);  // the error flags are discarded
}

TModemSignals TCustomComPort::ModemSignals() {
  std::uint32_t status = 0;
  DevError e = device_.GetModemStatus(status);
  if (e != 0) throw EComPort(CError_ModemStatFailed, e);
  TModemSignals s;
  if (status & MS_CTS_ON) s.Include(TComSignal::csCTS);
  if (status & MS_DSR_ON) s.Include(TComSignal::csDSR);
  if (status & MS_RING_ON) s.Include(TComSignal::csRing);
  if (status & MS_RLSD_ON) s.Include(TComSignal::csRLSD);
  return s;
}

TComErrors TCustomComPort::LineErrors() {
  std::uint32_t errors = 0, in_queue = 0;
  DevError e = device_.ClearError(errors, in_queue);
  if (e != 0) throw EComPort(CError_ClearComFailed, e);
  TComErrors s;
  if (errors & CE_FRAME) s.Include(TComError::ceFrame);
  if ((errors & CE_RXPARITY) && parity_.Check()) s.Include(TComError::ceRxParity);
  if (errors & CE_OVERRUN) s.Include(TComError::ceOverrun);
  if (errors & CE_RXOVER) s.Include(TComError::ceRxOver);
  if (errors & CE_TXFULL) s.Include(TComError::ceTxFull);
  if (errors & CE_BREAK) s.Include(TComError::ceBreak);
  if (errors & CE_IOE) s.Include(TComError::ceIO);
  if (errors & CE_MODE) s.Include(TComError::ceMode);
  return s;
}

// --- deliveries -------------------------------------------------------------

void TCustomComPort::DeliverEvents(TComEvents events) {
  for (const ComEventBit& e : kComEventOrder)
    if (events.Contains(e.event)) Deliver(e.event);
}

void TCustomComPort::Deliver(TComEvent event) {
  switch (event) {
    case TComEvent::evError:
      if (const TComErrors errors = LineErrors(); !errors.Empty()) Raise(OnError, errors);
      break;
    case TComEvent::evRxChar:
      if (const int count = QueuedInputCount(); count > 0) Raise(OnRxChar, count);
      break;
    case TComEvent::evTxEmpty:
      Raise(OnTxEmpty);
      break;
    case TComEvent::evBreak:
      Raise(OnBreak);
      break;
    case TComEvent::evRing:
      Raise(OnRing);
      break;
    case TComEvent::evCTS:
      Raise(OnCTSChange, ModemSignals().Contains(TComSignal::csCTS));
      break;
    case TComEvent::evDSR:
      Raise(OnDSRChange, ModemSignals().Contains(TComSignal::csDSR));
      break;
    case TComEvent::evRxFlag:
      Raise(OnRxFlag);
      break;
    case TComEvent::evRLSD:
      Raise(OnRLSDChange, ModemSignals().Contains(TComSignal::csRLSD));
      break;
    case TComEvent::evRx80Full:
      Raise(OnRx80Full);
      break;
  }
}

}  // namespace ornat
