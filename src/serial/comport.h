#pragma once
// The serial port component: TCustomComPort with all behaviour,
// TComPort publishing it, the four settings objects, EComPort and ErrorTexts.
//
// Delphi properties are a getter X() and a setter SetX(v). Setting a property to its
// current value does nothing. The component talks to the platform only through
// CommDevice (serial/platform/comm_device.h); its event thread is TComThread
// (serial/comthread.h).
//
// Threads: OpenPort, ClosePort, WriteBytes and all setters run on the user-interface
// thread (the dispatcher's UI thread); ReadBytes, QueuedInputCount, ModemSignals and
// LineErrors run on whichever thread delivers a line event (the event thread under
// smNone). The component has no lock.

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/com_types.h"
#include "serial/platform/comm_device.h"
#include "runtime/dispatcher.h"
#include "runtime/object.h"

namespace ornat {

class TCustomComPort;
class TComThread;

// ---------------------------------------------------------------------------
// Framework pieces the component leans on.

// The framework's conversion error; Assign across classes raises it with the
// standard message "Cannot assign a <source class> to a <destination class>".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A persistent object: copyable onto another of its class with Assign.
class TPersistent : public TObject {
 public:
  // Copies source onto this object. Raises EConvertError when source is of another
  // class (or null): "Cannot assign a TComTimeouts to a TComParity".
  virtual void Assign(const TPersistent* source);
  void Assign(const TPersistent& source) { Assign(&source); }
  virtual const char* ClassName() const = 0;

 protected:
  // Copies this object onto dest; the base raises the assignment error.
  virtual void AssignTo(TPersistent& dest) const;
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

// ---------------------------------------------------------------------------
// Errors.

// Codes of EComPort (the row of ErrorTexts).
enum : int {
  CError_OpenFailed = 1,
  CError_WriteFailed = 2,
  CError_ReadFailed = 3,
  CError_InvalidAsync = 4,
  CError_PurgeFailed = 5,
  CError_AsyncCheck = 6,
  CError_SetStateFailed = 7,
  CError_TimeoutsFailed = 8,
  CError_SetupComFailed = 9,
  CError_ClearComFailed = 10,
  CError_ModemStatFailed = 11,
  CError_EscapeComFailed = 12,
  CError_TransmitFailed = 13,
  CError_ConnChangeProp = 14,
  CError_EnumPortsFailed = 15,
  CError_StoreFailed = 16,
  CError_LoadFailed = 17,
  CError_RegFailed = 18,
  CError_LedStateFailed = 19,
  CError_ThreadCreated = 20,
  CError_WaitFailed = 21,
  CError_HasLink = 22,
  CError_RegError = 23,
};

// The text domain of the component's own catalogue (serialcomm.mo).
inline constexpr const char* kSerialTextDomain = "serialcomm";

// Registers the text domain "serialcomm" with its catalogues under locale_dir
// (<locale_dir>/<lang>/LC_MESSAGES/serialcomm.mo) and passes each of the 23 texts once
// through gettext's lookup: the default text domain, then "serialcomm". A program runs
// it at start, once it has set its locale (a lookup before that could only ever give
// the English text) and before any other thread reads the texts.
void LoadErrorTexts(const std::string& locale_dir);
// The 23 texts as LoadErrorTexts looked them up; the English texts before it runs.
// Index 0 is code 1.
const std::array<std::string, 23>& ErrorTexts();
// ErrorTexts()[code - 1]; an empty string for a code outside 1..23.
const std::string& ErrorText(int code);
// The untranslated English text of a code (the gettext key).
const char* ErrorTextKey(int code);

// "held by cat (pid 1234), minicom (pid 88)" (the phrase through gettext); a holder
// whose name is unknown shows as "pid 1234". Empty for no holders.
std::string HolderText(const std::vector<PortHolder>& holders);

// The component's exception. Message: ErrorText(code), followed directly by
// " (win error code: %d)", looked up as the texts are at each raise, with SystemError
// when SystemError is not -1.
class EComPort : public std::runtime_error {
 public:
  // With a system error (codes 1, 2, 3, 5, 7, 8, 9, 10, 11): the message carries it.
  EComPort(int error_code, int system_error);
  // Code 1 for a port that other programs hold: the message goes on after the
  // suffix with "; " and HolderText, so the numbered text and the suffix stand as
  // in every other message. No holders: as the constructor above.
  EComPort(int error_code, int system_error, std::vector<PortHolder> holders);
  // Without one (codes 4, 14): SystemError is -1 and the message is the text alone.
  explicit EComPort(int error_code);
  int ErrorCode() const { return error_code_; }
  int SystemError() const { return system_error_; }
  const std::vector<PortHolder>& Holders() const { return holders_; }

 private:
  int error_code_;
  int system_error_;
  std::vector<PortHolder> holders_;
};

// ---------------------------------------------------------------------------
// Types of the handler properties and of ModemSignals.

enum class TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };
using TComSignals = EnumSet<TComSignal, 4>;
using TModemSignals = TComSignals;

using TRxCharEvent = std::function<void(TObject* Sender, int Count)>;
using TRxBufEvent = std::function<void(TObject* Sender, const void* Buffer, int Count)>;
using TComSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;

// Bit rate of a TBaudRate value (9600 for br9600); 0 for brCustom (which stands for
// CustomBaudRate).
int BaudRateToBits(TBaudRate rate);

// ---------------------------------------------------------------------------
// Settings objects. Each belongs to one port (or to none, when made on its own to be
// assigned to a port). A setter with the current value does nothing; a new value is
// stored and the owner re-applies the object's group (a no-op unless the port is
// open and not loading). Assign copies every stored property from an object of the
// same class (and re-applies nothing; the port's SetParity etc. do that).

class TComParity : public TPersistent {
 public:
  explicit TComParity(TCustomComPort* owner = nullptr) : owner_(owner) {}
  const char* ClassName() const override { return "TComParity"; }

  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits v);
  bool Check() const { return check_; }
  void SetCheck(bool v);
  bool Replace() const { return replace_; }
  void SetReplace(bool v);
  char ReplaceChar() const { return replace_char_; }
  void SetReplaceChar(char v);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void Changed();
  TCustomComPort* owner_;
  TParityBits bits_ = TParityBits::prNone;
  bool check_ = false;
  bool replace_ = false;
  char replace_char_ = 0;
};

class TComFlowControl : public TPersistent {
 public:
  explicit TComFlowControl(TCustomComPort* owner = nullptr) : owner_(owner) {}
  const char* ClassName() const override { return "TComFlowControl"; }

  bool OutCTSFlow() const { return out_cts_flow_; }
  void SetOutCTSFlow(bool v);
  bool OutDSRFlow() const { return out_dsr_flow_; }
  void SetOutDSRFlow(bool v);
  TDTRFlowControl ControlDTR() const { return control_dtr_; }
  void SetControlDTR(TDTRFlowControl v);
  TRTSFlowControl ControlRTS() const { return control_rts_; }
  void SetControlRTS(TRTSFlowControl v);
  bool XonXoffOut() const { return xon_xoff_out_; }
  void SetXonXoffOut(bool v);
  bool XonXoffIn() const { return xon_xoff_in_; }
  void SetXonXoffIn(bool v);
  bool DSRSensitivity() const { return dsr_sensitivity_; }
  void SetDSRSensitivity(bool v);
  bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }
  void SetTxContinueOnXoff(bool v);
  char XonChar() const { return xon_char_; }
  void SetXonChar(char v);
  char XoffChar() const { return xoff_char_; }
  void SetXoffChar(char v);
  // Derived, never stored: fcHardware, fcSoftware, fcNone or fcCustom.
  TFlowControl FlowControl() const;
  // fcCustom changes nothing; the others reset RTS/CTS/XON-XOFF and set theirs.
  // Every write re-applies the line settings.
  void SetFlowControl(TFlowControl v);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void Changed();
  TCustomComPort* owner_;
  bool out_cts_flow_ = false;
  bool out_dsr_flow_ = false;
  TDTRFlowControl control_dtr_ = TDTRFlowControl::dtrDisable;
  TRTSFlowControl control_rts_ = TRTSFlowControl::rtsDisable;
  bool xon_xoff_out_ = false;
  bool xon_xoff_in_ = false;
  bool dsr_sensitivity_ = false;
  bool tx_continue_on_xoff_ = false;
  char xon_char_ = 17;
  char xoff_char_ = 19;
};

class TComTimeouts : public TPersistent {
 public:
  explicit TComTimeouts(TCustomComPort* owner = nullptr) : owner_(owner) {}
  const char* ClassName() const override { return "TComTimeouts"; }

  int ReadInterval() const { return read_interval_; }
  void SetReadInterval(int v);
  int ReadTotalMultiplier() const { return read_total_multiplier_; }
  void SetReadTotalMultiplier(int v);
  int ReadTotalConstant() const { return read_total_constant_; }
  void SetReadTotalConstant(int v);
  int WriteTotalMultiplier() const { return write_total_multiplier_; }
  void SetWriteTotalMultiplier(int v);
  int WriteTotalConstant() const { return write_total_constant_; }
  void SetWriteTotalConstant(int v);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void Changed();
  TCustomComPort* owner_;
  int read_interval_ = -1;
  int read_total_multiplier_ = 0;
  int read_total_constant_ = 0;
  int write_total_multiplier_ = 100;
  int write_total_constant_ = 1000;
};

class TComBuffer : public TPersistent {
 public:
  explicit TComBuffer(TCustomComPort* owner = nullptr) : owner_(owner) {}
  const char* ClassName() const override { return "TComBuffer"; }

  // A positive odd value is stored as value - 1 (1025 -> 1024; -3 stays -3). The
  // equal-value test compares the value given with the stored one, before that rule.
  int InputSize() const { return input_size_; }
  void SetInputSize(int v);
  int OutputSize() const { return output_size_; }
  void SetOutputSize(int v);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void Changed();
  TCustomComPort* owner_;
  int input_size_ = 1024;
  int output_size_ = 1024;
};

// ---------------------------------------------------------------------------
// The port.

class TCustomComPort : public TComponent {
 public:
  // The port uses device for every system step and dispatcher for the deliveries
  // under smThreadSync/smWindowSync (and for ClosePort's wait). Both outlive it.
  TCustomComPort(std::string name, CommDevice& device, Dispatcher& dispatcher);
  // Runs ClosePort (its handlers included), then frees the settings objects. An
  // exception of that close is swallowed (a destructor cannot raise).
  ~TCustomComPort() override;
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // --- properties -------------------------------------------------------
  bool Connected() const { return connected_.load(std::memory_order_acquire); }
  // True runs OpenPort, False ClosePort (equal: nothing). While loading: only records.
  void SetConnected(bool v);
  TBaudRate BaudRate() const { return baud_rate_; }
  void SetBaudRate(TBaudRate v);
  int CustomBaudRate() const { return custom_baud_rate_; }
  void SetCustomBaudRate(int v);
  const std::string& Port() const { return port_; }
  // While open: stored, then ClosePort and OpenPort (a full reopen under the new
  // name); an open failure reaches the caller and the port stays closed.
  void SetPort(const std::string& v);
  TStopBits StopBits() const { return stop_bits_; }
  void SetStopBits(TStopBits v);
  TDataBits DataBits() const { return data_bits_; }
  void SetDataBits(TDataBits v);
  bool DiscardNull() const { return discard_null_; }
  void SetDiscardNull(bool v);
  char EventChar() const { return event_char_; }
  void SetEventChar(char v);
  TComEvents Events() const { return events_; }
  // Stored; takes effect at the next open.
  void SetEvents(TComEvents v);
  TSyncMethod SyncMethod() const { return sync_method_; }
  // While open (and not loading): EComPort code 14, SystemError -1, nothing changes.
  void SetSyncMethod(TSyncMethod v);

  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  TComFlowControl& FlowControl() { return flow_control_; }
  const TComFlowControl& FlowControl() const { return flow_control_; }
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  // Copy the object into the port's own one and re-apply the group, even when
  // nothing changed.
  void SetParity(const TComParity& v);
  void SetFlowControl(const TComFlowControl& v);
  void SetTimeouts(const TComTimeouts& v);
  void SetBuffer(const TComBuffer& v);

  // --- loading from a stored form -----------------------------------------
  // Between BeginLoading and EndLoading every setter only stores, the apply
  // operations do nothing and SetConnected only records. EndLoading (the end-of-
  // loading notification) opens the port when True was recorded; an error of that
  // open goes to the exception report (SetExceptionReport; by default it is posted
  // through the dispatcher, whose gate reports it) and the port stays closed.
  void BeginLoading() { loading_ = true; }
  void EndLoading();
  bool Loading() const { return loading_; }
  void SetExceptionReport(std::function<void(std::exception_ptr)> report) {
    exception_report_ = std::move(report);
  }

  // --- operations ---------------------------------------------------------
  // Opening. Nothing at all when already open. Raises EComPort code 1 (device),
  // 7/8/9 (settings; the device is closed again), 11 (modem status at the end;
  // the port stays open).
  void OpenPort();
  // Closing. Nothing at all when already closed. Raises code 5 when the abort
  // fails (the port then stays open with its thread and device). When called on
  // the UI thread it keeps serving the dispatcher's synchronous calls while it waits
  // for the event thread. Must not be called from a handler running on the event
  // thread (std::logic_error).
  void ClosePort();
  // Blocking write; returns the bytes written. Raises code 2.
  int WriteBytes(const void* buffer, int count);
  // Blocking read of at most count bytes under Timeouts; returns the bytes read.
  // Raises code 3 (ECANCELED when ClosePort aborted it), or 10 from the queue query
  // that follows a completed read.
  int ReadBytes(void* buffer, int count);
  // Bytes in the receive queue (ClearError; discards and so clears its error flags).
  // Raises code 10.
  int QueuedInputCount();
  // The four modem status lines. Raises code 11.
  TModemSignals ModemSignals();
  // Line errors since the last query (the query clears them); ceRxParity only while
  // Parity().Check(). Raises code 10.
  TComErrors LineErrors();

  // The line-settings record that ApplyLineSettings passes to the device now.
  LineSettings BuildLineSettings() const;
  // The timeouts record that ApplyTimeoutSettings passes (-1 as all ones).
  CommTimeouts BuildTimeouts() const;

  // --- overridable steps (in slot order) --------------------------------
  virtual void OpenDevice();            // Open(Port) or code 1
  virtual void CloseDevice();           // Close; the handle becomes invalid
  virtual void ApplyAllSettings();      // buffers, line settings, timeouts
  virtual void ApplyLineSettings();     // code 7
  virtual void ApplyTimeoutSettings();  // code 8
  virtual void ApplyBufferSizes();      // code 9

  // --- deliveries, called by TComThread -------------------
  // DeliverEvents runs the deliveries of the set in the fixed order evError,
  // evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full.
  void DeliverEvents(TComEvents events);
  // The delivery whose EV_* mask bit is given (window sync); other values: nothing.
  void DeliverEventByMask(std::uint32_t mask_bit);
  void DeliverError();
  void DeliverRxChar();
  void DeliverTxEmpty();
  void DeliverBreak();
  void DeliverRing();
  void DeliverCTS();
  void DeliverDSR();
  void DeliverRxFlag();
  void DeliverRLSD();
  void DeliverRx80Full();

  CommDevice& Device() { return device_; }
  Dispatcher& GetDispatcher() { return dispatcher_; }
  // True while an event thread runs for this port (started at open, not yet joined).
  bool ThreadCreated() const { return thread_created_; }
  // The thread object (null when none); for tests.
  TComThread* EventThread() { return event_thread_.get(); }

  // --- handler properties (public members; empty ones are skipped) ---------
  TNotifyEvent OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;  // published only; nothing raises it
  TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
  TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
  TComErrorEvent OnError;

 protected:
  // One raising hook per handler property.
  virtual void DoBeforeOpen();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterClose();
  virtual void DoRxChar(int count);
  virtual void DoRxBuf(const void* buffer, int count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoCTSChange(bool on);
  virtual void DoDSRChange(bool on);
  virtual void DoRLSDChange(bool on);
  virtual void DoError(TComErrors errors);
  virtual void DoRxFlag();
  virtual void DoRx80Full();

 private:
  friend class TComThread;
  bool CanApply() const { return Connected() && !loading_; }
  void AbortPendingIo();  // Purge(TXABORT|RXABORT) or code 5
  void DestroyThread();

  CommDevice& device_;
  Dispatcher& dispatcher_;

  std::atomic<bool> connected_{false};
  bool loading_ = false;
  bool recorded_connected_ = false;  // Connected recorded while loading
  bool handle_valid_ = false;        // DeviceHandle is not the invalid value
  bool thread_created_ = false;
  std::unique_ptr<TComThread> event_thread_;
  // NotifyWindow: exists while open under smWindowSync; posted deliveries hold a
  // weak reference and are dropped once it is gone (closed or destroyed port).
  std::shared_ptr<TCustomComPort*> notify_window_;

  TBaudRate baud_rate_ = TBaudRate::br9600;
  int custom_baud_rate_ = 9600;
  std::string port_ = "COM1";
  TStopBits stop_bits_ = TStopBits::sbOneStopBit;
  TDataBits data_bits_ = TDataBits::dbEight;
  bool discard_null_ = false;
  char event_char_ = 0;
  TComEvents events_ = TComEvents::All();
  TSyncMethod sync_method_ = TSyncMethod::smThreadSync;
  TComParity parity_{this};
  TComFlowControl flow_control_{this};
  TComTimeouts timeouts_{this};
  TComBuffer buffer_{this};
  std::function<void(std::exception_ptr)> exception_report_;
};

// The class the main window uses: publishes every property of TCustomComPort.
class TComPort : public TCustomComPort {
 public:
  TComPort(std::string name, CommDevice& device, Dispatcher& dispatcher)
      : TCustomComPort(std::move(name), device, dispatcher) {}
};

}  // namespace ornat
