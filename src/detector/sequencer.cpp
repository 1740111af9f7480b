// The operation sequencer: which request goes out next and where its answer goes.
// Each user action sends one request; the cyclic query, the interface reset and the
// bus search span many exchanges, one step per firing of Timer_Programm, which the
// completion of every exchange re-arms. An action that meets an exchange in flight
// while a sequence runs waits in Timer_Wait (DeferIfBusy).

#include "detector/register_map.h"
#include "modbus/protocol.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat {

namespace {

// Captions of the query button. The start caption carries the accelerator "&" (Alt+З);
// the one "СТОП" puts back has none. All Cyrillic.
constexpr const char* kQueryCaptionAfterStop = "ЗАПРОС ПАРАМЕТРОВ";
constexpr const char* kStopCaption = "СТОП";

constexpr int kFirstStepMs = 20;
constexpr int kCycleMs = 500;

}  // namespace

// --- response dispatcher ------------------------------------------------------------

bool TForm1::AnswerFromAddressedDevice() const {
  // The probes of the search and of the survey's sweep, late answers between them
  // included, are attributed by the address they carry.
  if (Probing() || State.PendingOp == kOpSearchProbe) return true;
  const auto& sent = State.SentRequest;
  const std::uint8_t from = State.FrameBuffer[0];
  if (from == sent[0]) return true;
  // Detectors differ in whose address the echo of an address change carries (the
  // interface reset's first step included): the old one or the one just written.
  const bool address_write =
      sent[1] == kWriteSingleRegister && sent[2] == 0 && sent[3] == kRegAddress && sent[4] == 0;
  return address_write && State.FrameBuffer[1] == kWriteSingleRegister && from == sent[5];
}

void TForm1::DispatchResponse() {
  // A valid answer from another address (a late answer of another detector, a second
  // master, a faulty unit) is not this detector's answer, nor its exception: nothing
  // is decoded or acknowledged. PendingOp stays, so the completion treats a reset's
  // second step as not confirmed, as after a time-out. The bytes a failed CRC check
  // left (PendingOp 255) are no answer of anyone's and go on as before.
  if (State.PendingOp != kOpFailed && !AnswerFromAddressedDevice()) {
    AddOutcomeLine(msg::kWrongAddress + PadNumber(State.FrameBuffer[0], 3),
                   ExchangeOutcome::kWrongAddress);
    return;
  }
  switch (State.FrameBuffer[1]) {  // the answer's function code
    case kReadHoldingRegisters:
      if (State.PendingOp == kOpParameterQuery)
        State.PendingOp = DecodeParameters();
      else if (State.PendingOp == kOpSearchProbe || LateProbeAnswer())
        State.PendingOp = SearchHit();
      break;
    case kWriteSingleRegister:
      switch (State.PendingOp) {
        case kOpAddressChange:
          AddressAcknowledged();
          break;
        case kOpLineSpeedChange:
          BaudAcknowledged();
          break;
        case kOpResetStep1:
          ++State.ResetStepCount;
          AddressAcknowledged();
          break;
        case kOpResetStep2:
          ++State.ResetStepCount;
          if (State.ResetStepCount == 2)
            TeMemo1.Add(msg::kResetOk);
          else
            AddOutcomeLine(msg::kResetError, ExchangeOutcome::kResetError);
          BaudAcknowledged();
          break;
        default:
          break;
      }
      break;
    case kWriteMultipleRegisters:
      // Never sent by the window, routed all the same.
      break;
    case kReadException:
    case kWriteException:
    case kWriteMultipleException:
      // An exception answer, whatever awaits it (a failed answer included).
      AddOutcomeLine(msg::kError, ExchangeOutcome::kException);
      return;
    default:
      return;
  }
  if (State.PendingOp != kOpFailed) AddOutcomeLine(msg::kOk, ExchangeOutcome::kOk);
}

// --- deferral -------------------------------------------------------------------------

std::uint8_t TForm1::DeferIfBusy(Action action) {
  if (State.SessionMode != kSessionIdle) {
    // The sequence's next step is stopped; it is due 20 ms after a deferred action's
    // exchange, or 500 ms after the action's own exchange (below).
    Timer_Programm.SetEnabled(false);
    Timer_Programm.SetInterval(kFirstStepMs);
    if (Timer_Rx.Enabled()) {
      // An exchange is in flight: the action waits. A second deferral replaces the
      // first. The completion enables Timer_Wait; it refires every 20 ms until a run
      // of the action gets through.
      Timer_Wait.SetOnTimer([this, action](TObject* sender) { (this->*action)(sender); });
      State.ActionDeferred = 1;
      return 1;
    }
  }
  // Idle, or no exchange in flight: the action goes on. A deferred one not yet run
  // is cancelled by it.
  Timer_Wait.SetEnabled(false);
  State.ActionDeferred = 0;
  Timer_Programm.SetInterval(kCycleMs);
  return 0;
}

bool TForm1::Working() const {
  if (Timer_Rx.Enabled()) return true;  // an exchange in flight, or bytes settling
  // Bytes being read on the event thread: their hand-over starts a completion. The end
  // of a search waits for such a read after the probe to 248.
  if (ReadsOpen() || search_end_waits_) return true;
  // A deferred action waits for its exchange, or Timer_Wait is about to run it.
  if (State.ActionDeferred == 1 || Timer_Wait.Enabled()) return true;
  // A sequence goes on only when its step timer is armed; a failed send leaves a bus
  // search halted, with SessionMode unchanged and nothing armed.
  return State.SessionMode != kSessionIdle && Timer_Programm.Enabled();
}

void TForm1::EndSequenceOnPortFailure() {
  // A send failed, so no completion follows, or a completion failed on the port: either
  // way nothing re-arms the step timer. Left halted, a cyclic query would show "СТОП"
  // and the last state while reading nothing, and the next exchange that completes,
  // started by any later action, would take up the sequence's next step: a query, or
  // the interface reset's write, long after the engineer asked for it. The bus search
  // halts (its probes are reads; "Stop" ends it).
  const std::uint8_t mode = State.SessionMode;
  if (mode != kSessionCyclic && mode != kSessionResetStep1 && mode != kSessionResetStep2) return;
  // An action deferred inside the sequence that no exchange in flight will release
  // (Timer_Wait repeating it while a failed query's QueryPending refuses it) would go
  // out when some later exchange completes: it ends with the sequence, first, as
  // putting the port's speed back may fail too.
  if (!Timer_Rx.Enabled()) {
    Timer_Wait.SetEnabled(false);
    State.ActionDeferred = 0;
  }
  if (mode == kSessionCyclic) {
    EndCyclicQuery();
    // Nothing is read any more: the last answer is no longer the detector's state.
    EmptyStatusValues(StatusGrid);
  } else {
    EndResetAfterFailedSend();
  }
}

// --- the step timer -------------------------------------------------------------------

void TForm1::Timer_ProgrammTimer(TObject*) {
  Timer_Programm.SetEnabled(false);
  // Never over an exchange in flight: on the half-duplex line the request would
  // collide with the answer it waits for, and its frame would overwrite that answer
  // in FrameBuffer. During a search this is also the 5 ms after an answer handed over
  // in Idle. That exchange's completion re-arms the step (a sequence runs), with the
  // interval it has now.
  if (Timer_Rx.Enabled()) return;
  switch (State.SessionMode) {
    case kSessionResetStep1:
      ResetStep1();
      break;
    case kSessionResetStep2:
      ResetStep2();
      break;
    case kSessionSearch:
      SearchProbe();
      break;
    case kSessionCyclic:
      Timer_Programm.SetInterval(kCycleMs);
      QueryParametersAt(State.DeviceAddress);
      break;
    default:
      break;
  }
}

// --- the query, the cycle and the alarm reset ----------------------------------------

void TForm1::TeButton5Click(TObject*) {
  if (State.SessionMode == kSessionSearch) return;
  if (TeButton5.Caption() == kStopCaption) {
    EndCyclicQuery();
    return;
  }
  if (TeCheckBox1.Checked()) {
    // Not while the survey has the line.
    if (SurveyPaced()) return;
    // The cyclic query: first read 20 ms from now, each next one 500 ms after the
    // previous completion, whatever its outcome.
    TeButton5.SetCaption(kStopCaption);
    TeCheckBox1.SetEnabled(false);
    State.SessionMode = kSessionCyclic;
    Timer_Programm.SetInterval(kFirstStepMs);
    Timer_Programm.SetEnabled(true);
    return;
  }
  if (DeferIfBusy(&TForm1::TeButton5Click) == 1) return;
  QueryParametersAt(State.DeviceAddress);
}

void TForm1::QueryParametersAt(std::uint8_t address) {
  if (address != State.DeviceAddress) EmptyStatusValues(StatusGrid);
  State.QueryPending = 1;
  address_changed_since_query_ = false;
  SendReadRegistersTo(address, kRegIdentity, kParameterCount, TeMemo1);
  State.PendingOp = kOpParameterQuery;
}

void TForm1::EndCyclicQuery() {
  // Timer_Programm is not disabled: a pending step fires and finds SessionMode 0; a
  // query in flight is still shown and its completion re-arms nothing.
  TeButton5.SetCaption(kQueryCaptionAfterStop);
  TeCheckBox1.SetEnabled(true);
  State.SessionMode = kSessionIdle;
  Timer_Programm.SetInterval(kFirstStepMs);
}

void TForm1::TeCheckBox1Click(TObject*) {
  // The interface reset cannot be started while "В ЦИКЛЕ" is checked.
  TeButton2.SetEnabled(!TeCheckBox1.Checked());
}

void TForm1::TeButton3Click(TObject*) {
  if (State.SessionMode == kSessionSearch) return;
  if (DeferIfBusy(&TForm1::TeButton3Click) == 1) return;
  SendWriteRegister(kRegAlarmReset, kAlarmResetCommand, TeMemo1);
  State.PendingOp = kOpConfigurationWrite;
}

}  // namespace ornat
