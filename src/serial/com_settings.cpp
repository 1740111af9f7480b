#include "serial/com_settings.h"

#include "serial/comport.h"

namespace ornat {

void ReApply(TCustomComPort* owner, TComApply apply) {
  if (owner != nullptr) (owner->*apply)();
}

TComParity::TComParity(TCustomComPort* owner)
    : TComSettings(owner, &TCustomComPort::ApplyLineSettings) {}

TComFlowControl::TComFlowControl(TCustomComPort* owner)
    : TComSettings(owner, &TCustomComPort::ApplyLineSettings) {}

TComTimeouts::TComTimeouts(TCustomComPort* owner)
    : TComSettings(owner, &TCustomComPort::ApplyTimeoutSettings) {}

TComBuffer::TComBuffer(TCustomComPort* owner)
    : TComSettings(owner, &TCustomComPort::ApplyBufferSizes) {}

TFlowControl TComFlowControl::FlowControl() const {
  const bool xon = v_.xon_xoff_in || v_.xon_xoff_out;
  if (v_.control_rts == TRTSFlowControl::rtsHandshake && v_.out_cts_flow && !xon)
    return TFlowControl::fcHardware;
  if (v_.control_rts == TRTSFlowControl::rtsDisable && !v_.out_cts_flow && v_.xon_xoff_in &&
      v_.xon_xoff_out)
    return TFlowControl::fcSoftware;
  if (v_.control_rts == TRTSFlowControl::rtsDisable && !v_.out_cts_flow && !xon)
    return TFlowControl::fcNone;
  return TFlowControl::fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl v) {
  if (v != TFlowControl::fcCustom) {
    v_.control_rts = TRTSFlowControl::rtsDisable;
    v_.out_cts_flow = false;
    v_.xon_xoff_in = false;
    v_.xon_xoff_out = false;
    switch (v) {
      case TFlowControl::fcHardware:
        v_.control_rts = TRTSFlowControl::rtsHandshake;
        v_.out_cts_flow = true;
        break;
      case TFlowControl::fcSoftware:
        v_.xon_xoff_in = true;
        v_.xon_xoff_out = true;
        break;
      default:
        break;
    }
  }
  Changed();  // every write re-applies the line settings, fcCustom included
}

void TComBuffer::SetSize(int& field, int v) {
  if (v == field) return;
  // A positive odd size is stored as size - 1 (-3 stays -3: the rule is for positive
  // values only, as Delphi's "mod 2 = 1" never holds for negative ones).
  field = (v > 0 && v % 2 == 1) ? v - 1 : v;
  Changed();
}

}  // namespace ornat
