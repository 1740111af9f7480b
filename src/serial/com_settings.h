#pragma once
// The port's settings objects: parity, flow control, timeouts and queue sizes. Each
// belongs to one port (or to none, when made on its own to be assigned to a port).
// A setter with the current value does nothing; a new value is stored and the owner
// re-applies the object's group (line settings, timeouts or queue sizes), which reaches
// the device only while the port is open and not loading, and raises the group's code
// (7, 8, 9) when the device refuses it; the new value stays stored. Assign copies every
// stored property from an object of the same class and re-applies nothing (the port's
// SetParity etc. do that).

#include "serial/com_types.h"
#include "serial/persistent.h"

namespace ornat {

class TCustomComPort;
using TComApply = void (TCustomComPort::*)();

// The owner re-applies its group; nothing for an object without an owner.
void ReApply(TCustomComPort* owner, TComApply apply);

// The setter rule of the component: a value equal to the current one does nothing; a
// new one is stored, then `changed` runs.
template <typename T, typename Changed>
void SetProperty(T& field, T value, Changed&& changed) {
  if (field == value) return;
  field = value;
  changed();
}

// What the four objects share: the owner, the group it re-applies, the setter rule and
// the copy of the stored properties (Values) onto another object of the same class.
template <typename Self, typename Values>
class TComSettings : public TPersistent {
 protected:
  TComSettings(TCustomComPort* owner, TComApply apply) : owner_(owner), apply_(apply) {}

  template <typename T>
  void Set(T& field, T value) {
    SetProperty(field, value, [this] { Changed(); });
  }
  void Changed() { ReApply(owner_, apply_); }
  void AssignTo(TPersistent& dest) const override {
    if (auto* d = dynamic_cast<Self*>(&dest))
      d->v_ = v_;
    else
      TPersistent::AssignTo(dest);
  }

  Values v_;

 private:
  TCustomComPort* owner_;
  TComApply apply_;
};

struct ComParityValues {
  TParityBits bits = TParityBits::prNone;
  bool check = false;
  bool replace = false;
  char replace_char = 0;
};

// Re-applies the line settings.
class TComParity : public TComSettings<TComParity, ComParityValues> {
 public:
  explicit TComParity(TCustomComPort* owner = nullptr);
  const char* ClassName() const override { return "TComParity"; }

  TParityBits Bits() const { return v_.bits; }
  void SetBits(TParityBits v) { Set(v_.bits, v); }
  bool Check() const { return v_.check; }
  void SetCheck(bool v) { Set(v_.check, v); }
  bool Replace() const { return v_.replace; }
  void SetReplace(bool v) { Set(v_.replace, v); }
  char ReplaceChar() const { return v_.replace_char; }
  void SetReplaceChar(char v) { Set(v_.replace_char, v); }
};

struct ComFlowControlValues {
  bool out_cts_flow = false;
  bool out_dsr_flow = false;
  TDTRFlowControl control_dtr = TDTRFlowControl::dtrDisable;
  TRTSFlowControl control_rts = TRTSFlowControl::rtsDisable;
  bool xon_xoff_out = false;
  bool xon_xoff_in = false;
  bool dsr_sensitivity = false;
  bool tx_continue_on_xoff = false;
  char xon_char = 17;
  char xoff_char = 19;
};

// Re-applies the line settings.
class TComFlowControl : public TComSettings<TComFlowControl, ComFlowControlValues> {
 public:
  explicit TComFlowControl(TCustomComPort* owner = nullptr);
  const char* ClassName() const override { return "TComFlowControl"; }

  bool OutCTSFlow() const { return v_.out_cts_flow; }
  void SetOutCTSFlow(bool v) { Set(v_.out_cts_flow, v); }
  bool OutDSRFlow() const { return v_.out_dsr_flow; }
  void SetOutDSRFlow(bool v) { Set(v_.out_dsr_flow, v); }
  TDTRFlowControl ControlDTR() const { return v_.control_dtr; }
  void SetControlDTR(TDTRFlowControl v) { Set(v_.control_dtr, v); }
  TRTSFlowControl ControlRTS() const { return v_.control_rts; }
  void SetControlRTS(TRTSFlowControl v) { Set(v_.control_rts, v); }
  bool XonXoffOut() const { return v_.xon_xoff_out; }
  void SetXonXoffOut(bool v) { Set(v_.xon_xoff_out, v); }
  bool XonXoffIn() const { return v_.xon_xoff_in; }
  void SetXonXoffIn(bool v) { Set(v_.xon_xoff_in, v); }
  bool DSRSensitivity() const { return v_.dsr_sensitivity; }
  void SetDSRSensitivity(bool v) { Set(v_.dsr_sensitivity, v); }
  bool TxContinueOnXoff() const { return v_.tx_continue_on_xoff; }
  void SetTxContinueOnXoff(bool v) { Set(v_.tx_continue_on_xoff, v); }
  char XonChar() const { return v_.xon_char; }
  void SetXonChar(char v) { Set(v_.xon_char, v); }
  char XoffChar() const { return v_.xoff_char; }
  void SetXoffChar(char v) { Set(v_.xoff_char, v); }
  // Derived, never stored: fcHardware, fcSoftware, fcNone or fcCustom.
  TFlowControl FlowControl() const;
  // fcCustom changes nothing; the others reset RTS/CTS/XON-XOFF and set theirs.
  // Every write re-applies the line settings.
  void SetFlowControl(TFlowControl v);
};

struct ComTimeoutsValues {
  int read_interval = -1;
  int read_total_multiplier = 0;
  int read_total_constant = 0;
  int write_total_multiplier = 100;
  int write_total_constant = 1000;
};

// Re-applies the timeouts; all values are milliseconds.
class TComTimeouts : public TComSettings<TComTimeouts, ComTimeoutsValues> {
 public:
  explicit TComTimeouts(TCustomComPort* owner = nullptr);
  const char* ClassName() const override { return "TComTimeouts"; }

  int ReadInterval() const { return v_.read_interval; }
  void SetReadInterval(int v) { Set(v_.read_interval, v); }
  int ReadTotalMultiplier() const { return v_.read_total_multiplier; }
  void SetReadTotalMultiplier(int v) { Set(v_.read_total_multiplier, v); }
  int ReadTotalConstant() const { return v_.read_total_constant; }
  void SetReadTotalConstant(int v) { Set(v_.read_total_constant, v); }
  int WriteTotalMultiplier() const { return v_.write_total_multiplier; }
  void SetWriteTotalMultiplier(int v) { Set(v_.write_total_multiplier, v); }
  int WriteTotalConstant() const { return v_.write_total_constant; }
  void SetWriteTotalConstant(int v) { Set(v_.write_total_constant, v); }
};

struct ComBufferValues {
  int input_size = 1024;
  int output_size = 1024;
};

// Re-applies the queue sizes.
class TComBuffer : public TComSettings<TComBuffer, ComBufferValues> {
 public:
  explicit TComBuffer(TCustomComPort* owner = nullptr);
  const char* ClassName() const override { return "TComBuffer"; }

  // A positive odd value is stored as value - 1 (1025 -> 1024; -3 stays -3). The
  // equal-value test compares the value given with the stored one, before that rule.
  int InputSize() const { return v_.input_size; }
  void SetInputSize(int v) { SetSize(v_.input_size, v); }
  int OutputSize() const { return v_.output_size; }
  void SetOutputSize(int v) { SetSize(v_.output_size, v); }

 private:
  void SetSize(int& field, int v);
};

}  // namespace ornat
