#pragma once
// The serial port component: TCustomComPort with all behaviour and TComPort publishing
// it. Its errors are in com_errors.h, its settings objects in com_settings.h.
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

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "runtime/dispatcher.h"
#include "runtime/object.h"
#include "serial/com_errors.h"
#include "serial/com_settings.h"
#include "serial/com_types.h"
#include "serial/persistent.h"
#include "serial/platform/comm_device.h"

namespace ornat {

class TComThread;

// ---------------------------------------------------------------------------
// Types of the handler properties and of ModemSignals.

enum class TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };
using TComSignals = EnumSet<TComSignal, 4>;
using TModemSignals = TComSignals;

using TRxCharEvent = std::function<void(TObject* Sender, int Count)>;
using TRxBufEvent = std::function<void(TObject* Sender, const void* Buffer, int Count)>;
using TComSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;

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
  // The line settings' setters re-apply the line settings while open (code 7).
  bool Connected() const { return connected_.load(std::memory_order_acquire); }
  // True runs OpenPort, False ClosePort (equal: nothing). While loading: only records.
  void SetConnected(bool v);
  TBaudRate BaudRate() const { return baud_rate_; }
  void SetBaudRate(TBaudRate v) { SetLine(baud_rate_, v); }
  int CustomBaudRate() const { return custom_baud_rate_; }
  void SetCustomBaudRate(int v) { SetLine(custom_baud_rate_, v); }
  const std::string& Port() const { return port_; }
  // While open: stored, then ClosePort and OpenPort (a full reopen under the new
  // name); an open failure reaches the caller and the port stays closed.
  void SetPort(const std::string& v);
  TStopBits StopBits() const { return stop_bits_; }
  void SetStopBits(TStopBits v) { SetLine(stop_bits_, v); }
  TDataBits DataBits() const { return data_bits_; }
  void SetDataBits(TDataBits v) { SetLine(data_bits_, v); }
  bool DiscardNull() const { return discard_null_; }
  void SetDiscardNull(bool v) { SetLine(discard_null_, v); }
  char EventChar() const { return event_char_; }
  void SetEventChar(char v) { SetLine(event_char_, v); }
  TComEvents Events() const { return events_; }
  // Stored; takes effect at the next open.
  void SetEvents(TComEvents v) { events_ = v; }
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
  // The delivery of each event of the set, in the fixed order of kComEventOrder.
  void DeliverEvents(TComEvents events);
  // The delivery of one event. evError: LineErrors, then OnError with them unless
  // there are none. evRxChar: QueuedInputCount, then OnRxChar with it if it is above 0
  // (the port reads no byte itself). evCTS, evDSR, evRLSD: ModemSignals, then the
  // line's change handler with its state. The others raise their handler. The
  // queries run whether or not a handler is assigned.
  void Deliver(TComEvent event);

  CommDevice& Device() { return device_; }
  Dispatcher& GetDispatcher() { return dispatcher_; }
  // True while an event thread runs for this port (started at open, not yet joined).
  bool ThreadCreated() const { return thread_created_; }
  // The thread object (null when none); for tests.
  TComThread* EventThread() { return event_thread_.get(); }
  // The error with which the open port's event wait failed (the device gone, the
  // connection dropped): nothing more will be read until the port is opened again. 0
  // while the wait runs, and on a closed port.
  DevError EventWaitFailure() const;

  // --- handler properties (public members; empty ones are skipped) ---------
  TNotifyEvent OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;  // published only; nothing raises it
  TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
  TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
  TComErrorEvent OnError;

 private:
  friend class TComThread;
  bool CanApply() const { return Connected() && !loading_; }
  template <typename T>
  void SetLine(T& field, T v) {
    SetProperty(field, v, [this] { ApplyLineSettings(); });
  }
  // Raises a handler property with this port as the Sender; an empty one is skipped.
  template <typename Handler, typename... Args>
  void Raise(const Handler& handler, Args... args) {
    if (handler) handler(this, args...);
  }
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
