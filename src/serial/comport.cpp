#include "serial/comport.h"

#include <cstdio>
#include <thread>

#include "serial/comthread.h"
#include "serial/translation.h"

namespace ornat {

// ---------------------------------------------------------------------------
// Error texts and gettext.

namespace {

constexpr const char* kErrorTextKeys[23] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

constexpr const char* kSystemErrorSuffix = " (win error code: %d)";

// Set by LoadErrorTexts. Before it the suffix stays English too, so that a message
// never mixes an English text with a translated suffix.
std::atomic<bool> texts_loaded{false};

// The lookup of a text in the platform's catalogues (the default text domain, then
// "serialcomm"); without a translation the key stands: the English text.
const char* Translate(const char* key) {
  if (!texts_loaded.load(std::memory_order_acquire)) return key;
  return LookUpText(key);
}

// The English texts until LoadErrorTexts has looked them up.
std::array<std::string, 23>& TextsInstance() {
  static std::array<std::string, 23> texts = [] {
    std::array<std::string, 23> english;
    for (std::size_t i = 0; i < english.size(); ++i) english[i] = kErrorTextKeys[i];
    return english;
  }();
  return texts;
}

std::string BuildMessage(int code, int system_error) {
  std::string text = ErrorText(code);
  if (system_error == -1) return text;
  const char* suffix = Translate(kSystemErrorSuffix);  // looked up at each raise
  char buf[128];
  std::snprintf(buf, sizeof buf, suffix, system_error);
  return text + buf;
}

}  // namespace

void LoadErrorTexts(const std::string& locale_dir) {
  BindSerialCatalogue(locale_dir);
  texts_loaded.store(true, std::memory_order_release);
  std::array<std::string, 23>& texts = TextsInstance();
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = Translate(kErrorTextKeys[i]);
}

const std::array<std::string, 23>& ErrorTexts() {
  return TextsInstance();
}

const std::string& ErrorText(int code) {
  static const std::string empty;
  if (code < 1 || code > 23) return empty;
  return TextsInstance()[static_cast<std::size_t>(code - 1)];
}

const char* ErrorTextKey(int code) {
  if (code < 1 || code > 23) return "";
  return kErrorTextKeys[code - 1];
}

std::string HolderText(const std::vector<PortHolder>& holders) {
  if (holders.empty()) return {};
  std::string text = Translate("held by ");
  for (std::size_t i = 0; i < holders.size(); ++i) {
    const PortHolder& h = holders[i];
    if (i > 0) text += ", ";
    const std::string pid = "pid " + std::to_string(h.pid);
    text += h.name.empty() ? pid : h.name + " (" + pid + ")";
  }
  return text;
}

EComPort::EComPort(int error_code, int system_error)
    : std::runtime_error(BuildMessage(error_code, system_error)),
      error_code_(error_code),
      system_error_(system_error) {}

EComPort::EComPort(int error_code, int system_error, std::vector<PortHolder> holders)
    : std::runtime_error(BuildMessage(error_code, system_error) +
                         (holders.empty() ? "" : "; " + HolderText(holders))),
      error_code_(error_code),
      system_error_(system_error),
      holders_(std::move(holders)) {}

EComPort::EComPort(int error_code) : EComPort(error_code, -1) {}

// ---------------------------------------------------------------------------
// TPersistent.

void TPersistent::Assign(const TPersistent* source) {
  if (source != nullptr) {
    source->AssignTo(*this);
  } else {
    AssignError(nullptr);
  }
}

void TPersistent::AssignTo(TPersistent& dest) const {
  dest.AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
  std::string source_name = source != nullptr ? source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + source_name + " to a " + ClassName());
}

// ---------------------------------------------------------------------------
// Settings objects.

namespace {
template <typename T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}
}  // namespace

void TComParity::Changed() {
  if (owner_ != nullptr) owner_->ApplyLineSettings();
}
void TComParity::SetBits(TParityBits v) {
  if (Store(bits_, v)) Changed();
}
void TComParity::SetCheck(bool v) {
  if (Store(check_, v)) Changed();
}
void TComParity::SetReplace(bool v) {
  if (Store(replace_, v)) Changed();
}
void TComParity::SetReplaceChar(char v) {
  if (Store(replace_char_, v)) Changed();
}
void TComParity::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComParity*>(&dest)) {
    d->bits_ = bits_;
    d->check_ = check_;
    d->replace_ = replace_;
    d->replace_char_ = replace_char_;
  } else {
    TPersistent::AssignTo(dest);
  }
}

void TComFlowControl::Changed() {
  if (owner_ != nullptr) owner_->ApplyLineSettings();
}
void TComFlowControl::SetOutCTSFlow(bool v) {
  if (Store(out_cts_flow_, v)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool v) {
  if (Store(out_dsr_flow_, v)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
  if (Store(control_dtr_, v)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
  if (Store(control_rts_, v)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool v) {
  if (Store(xon_xoff_out_, v)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool v) {
  if (Store(xon_xoff_in_, v)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool v) {
  if (Store(dsr_sensitivity_, v)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
  if (Store(tx_continue_on_xoff_, v)) Changed();
}
void TComFlowControl::SetXonChar(char v) {
  if (Store(xon_char_, v)) Changed();
}
void TComFlowControl::SetXoffChar(char v) {
  if (Store(xoff_char_, v)) Changed();
}

TFlowControl TComFlowControl::FlowControl() const {
  const bool xon = xon_xoff_in_ || xon_xoff_out_;
  if (control_rts_ == TRTSFlowControl::rtsHandshake && out_cts_flow_ && !xon)
    return TFlowControl::fcHardware;
  if (control_rts_ == TRTSFlowControl::rtsDisable && !out_cts_flow_ && xon_xoff_in_ &&
      xon_xoff_out_)
    return TFlowControl::fcSoftware;
  if (control_rts_ == TRTSFlowControl::rtsDisable && !out_cts_flow_ && !xon)
    return TFlowControl::fcNone;
  return TFlowControl::fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl v) {
  if (v != TFlowControl::fcCustom) {
    control_rts_ = TRTSFlowControl::rtsDisable;
    out_cts_flow_ = false;
    xon_xoff_in_ = false;
    xon_xoff_out_ = false;
    switch (v) {
      case TFlowControl::fcHardware:
        control_rts_ = TRTSFlowControl::rtsHandshake;
        out_cts_flow_ = true;
        break;
      case TFlowControl::fcSoftware:
        xon_xoff_in_ = true;
        xon_xoff_out_ = true;
        break;
      default:
        break;
    }
  }
  Changed();  // every write re-applies the line settings, fcCustom included
}

void TComFlowControl::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComFlowControl*>(&dest)) {
    d->out_cts_flow_ = out_cts_flow_;
    d->out_dsr_flow_ = out_dsr_flow_;
    d->control_dtr_ = control_dtr_;
    d->control_rts_ = control_rts_;
    d->xon_xoff_out_ = xon_xoff_out_;
    d->xon_xoff_in_ = xon_xoff_in_;
    d->dsr_sensitivity_ = dsr_sensitivity_;
    d->tx_continue_on_xoff_ = tx_continue_on_xoff_;
    d->xon_char_ = xon_char_;
    d->xoff_char_ = xoff_char_;
  } else {
    TPersistent::AssignTo(dest);
  }
}

void TComTimeouts::Changed() {
  if (owner_ != nullptr) owner_->ApplyTimeoutSettings();
}
void TComTimeouts::SetReadInterval(int v) {
  if (Store(read_interval_, v)) Changed();
}
void TComTimeouts::SetReadTotalMultiplier(int v) {
  if (Store(read_total_multiplier_, v)) Changed();
}
void TComTimeouts::SetReadTotalConstant(int v) {
  if (Store(read_total_constant_, v)) Changed();
}
void TComTimeouts::SetWriteTotalMultiplier(int v) {
  if (Store(write_total_multiplier_, v)) Changed();
}
void TComTimeouts::SetWriteTotalConstant(int v) {
  if (Store(write_total_constant_, v)) Changed();
}
void TComTimeouts::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComTimeouts*>(&dest)) {
    d->read_interval_ = read_interval_;
    d->read_total_multiplier_ = read_total_multiplier_;
    d->read_total_constant_ = read_total_constant_;
    d->write_total_multiplier_ = write_total_multiplier_;
    d->write_total_constant_ = write_total_constant_;
  } else {
    TPersistent::AssignTo(dest);
  }
}

namespace {
// A positive odd size is stored as size - 1 (-3 stays -3: the rule is for positive
// values only, as Delphi's "mod 2 = 1" never holds for negative ones).
int EvenSize(int v) {
  return (v > 0 && v % 2 == 1) ? v - 1 : v;
}
}  // namespace

void TComBuffer::Changed() {
  if (owner_ != nullptr) owner_->ApplyBufferSizes();
}
void TComBuffer::SetInputSize(int v) {
  if (v == input_size_) return;
  input_size_ = EvenSize(v);
  Changed();
}
void TComBuffer::SetOutputSize(int v) {
  if (v == output_size_) return;
  output_size_ = EvenSize(v);
  Changed();
}
void TComBuffer::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComBuffer*>(&dest)) {
    d->input_size_ = input_size_;
    d->output_size_ = output_size_;
  } else {
    TPersistent::AssignTo(dest);
  }
}

// ---------------------------------------------------------------------------
// Bit rates.

int BaudRateToBits(TBaudRate rate) {
  static constexpr int kBits[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                  14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  auto i = static_cast<std::size_t>(rate);
  return i < std::size(kBits) ? kBits[i] : 0;
}

// ---------------------------------------------------------------------------
// TCustomComPort.

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

void TCustomComPort::SetBaudRate(TBaudRate v) {
  if (Store(baud_rate_, v)) ApplyLineSettings();
}
void TCustomComPort::SetCustomBaudRate(int v) {
  if (Store(custom_baud_rate_, v)) ApplyLineSettings();
}
void TCustomComPort::SetStopBits(TStopBits v) {
  if (Store(stop_bits_, v)) ApplyLineSettings();
}
void TCustomComPort::SetDataBits(TDataBits v) {
  if (Store(data_bits_, v)) ApplyLineSettings();
}
void TCustomComPort::SetDiscardNull(bool v) {
  if (Store(discard_null_, v)) ApplyLineSettings();
}
void TCustomComPort::SetEventChar(char v) {
  if (Store(event_char_, v)) ApplyLineSettings();
}
void TCustomComPort::SetEvents(TComEvents v) {
  events_ = v;
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
  DoBeforeOpen();
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
  DoAfterOpen();
  DeliverCTS();
  DeliverDSR();
  DeliverRLSD();
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
  DoCTSChange(false);
  DoDSRChange(false);
  DoRLSDChange(false);
  DoBeforeClose();
  // Transfers under way end first; an abort that fails (code 5) stops the close here,
  // and the port stays open with its thread.
  AbortPendingIo();
  DestroyThread();
  CloseDevice();
  connected_.store(false, std::memory_order_release);
  DoAfterClose();
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

void TCustomComPort::DeliverEvents(TComEvents ev) {
  // Fixed order: an error batch is reported before the bytes of the same batch.
  if (ev.Contains(TComEvent::evError)) DeliverError();
  if (ev.Contains(TComEvent::evRxChar)) DeliverRxChar();
  if (ev.Contains(TComEvent::evTxEmpty)) DeliverTxEmpty();
  if (ev.Contains(TComEvent::evBreak)) DeliverBreak();
  if (ev.Contains(TComEvent::evRing)) DeliverRing();
  if (ev.Contains(TComEvent::evCTS)) DeliverCTS();
  if (ev.Contains(TComEvent::evDSR)) DeliverDSR();
  if (ev.Contains(TComEvent::evRxFlag)) DeliverRxFlag();
  if (ev.Contains(TComEvent::evRLSD)) DeliverRLSD();
  if (ev.Contains(TComEvent::evRx80Full)) DeliverRx80Full();
}

void TCustomComPort::DeliverEventByMask(std::uint32_t mask_bit) {
  switch (mask_bit) {
    case EV_ERR:
      DeliverError();
      break;
    case EV_RXCHAR:
      DeliverRxChar();
      break;
    case EV_TXEMPTY:
      DeliverTxEmpty();
      break;
    case EV_BREAK:
      DeliverBreak();
      break;
    case EV_RING:
      DeliverRing();
      break;
    case EV_CTS:
      DeliverCTS();
      break;
    case EV_DSR:
      DeliverDSR();
      break;
    case EV_RXFLAG:
      DeliverRxFlag();
      break;
    case EV_RLSD:
      DeliverRLSD();
      break;
    case EV_RX80FULL:
      DeliverRx80Full();
      break;
    default:
      break;
  }
}

void TCustomComPort::DeliverError() {
  TComErrors errors = LineErrors();
  if (!errors.Empty()) DoError(errors);
}
void TCustomComPort::DeliverRxChar() {
  int count = QueuedInputCount();
  if (count > 0) DoRxChar(count);
}
void TCustomComPort::DeliverTxEmpty() {
  DoTxEmpty();
}
void TCustomComPort::DeliverBreak() {
  DoBreak();
}
void TCustomComPort::DeliverRing() {
  DoRing();
}
void TCustomComPort::DeliverCTS() {
  DoCTSChange(ModemSignals().Contains(TComSignal::csCTS));
}
void TCustomComPort::DeliverDSR() {
  DoDSRChange(ModemSignals().Contains(TComSignal::csDSR));
}
void TCustomComPort::DeliverRxFlag() {
  DoRxFlag();
}
void TCustomComPort::DeliverRLSD() {
  DoRLSDChange(ModemSignals().Contains(TComSignal::csRLSD));
}
void TCustomComPort::DeliverRx80Full() {
  DoRx80Full();
}

// --- raising hooks ----------------------------------------------------------

void TCustomComPort::DoBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::DoAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::DoBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::DoAfterClose() {
  if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::DoRxChar(int count) {
  if (OnRxChar) OnRxChar(this, count);
}
void TCustomComPort::DoRxBuf(const void* buffer, int count) {
  if (OnRxBuf) OnRxBuf(this, buffer, count);
}
void TCustomComPort::DoTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::DoBreak() {
  if (OnBreak) OnBreak(this);
}
void TCustomComPort::DoRing() {
  if (OnRing) OnRing(this);
}
void TCustomComPort::DoCTSChange(bool on) {
  if (OnCTSChange) OnCTSChange(this, on);
}
void TCustomComPort::DoDSRChange(bool on) {
  if (OnDSRChange) OnDSRChange(this, on);
}
void TCustomComPort::DoRLSDChange(bool on) {
  if (OnRLSDChange) OnRLSDChange(this, on);
}
void TCustomComPort::DoError(TComErrors errors) {
  if (OnError) OnError(this, errors);
}
void TCustomComPort::DoRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::DoRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}

}  // namespace ornat
