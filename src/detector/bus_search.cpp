// Bus search: probes addresses 1 upwards with a one-register read of register 0 under
// the chosen search delay until a detector with identity 0x0010 answers. The port
// stays open from the first probe to the end.

#include "modbus/protocol.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat {

namespace {
constexpr std::uint16_t kDetectorIdentity = 0x0010;
}

void TForm1::CustomItem5Click(TObject*) {
  if (State.SessionMode != 254) {
    // Not while the survey has the line.
    if (SurveyPaced()) return;
    State.DeviceAddress = 0;
    TeProgressBar1.SetVisible(true);
    TeProgressBar1.SetPosition(0);
    CustomItem5.SetCaption("Stop");
    // A cyclic query that ran ends here; "В ЦИКЛЕ" keeps its enabled state.
    TeButton5.SetCaption("ЗАПРОС ПАРАМЕТРОВ");
    State.SessionMode = 254;
    search_end_waits_ = false;
    // A user action deferred before the start would wait for ever (its handler
    // returns at the search guard, Timer_Wait refiring) and hold the probes back;
    // after the search it would go to the probe counter's address. The search
    // cancels it.
    Timer_Wait.SetEnabled(false);
    State.ActionDeferred = 0;
    Timer_Programm.SetInterval(5);
    Timer_Programm.SetEnabled(true);
    return;
  }
  // Stop: a probe in flight still completes; its completion closes the port.
  CustomItem5.SetCaption("Start");
  State.SessionMode = 0;
  search_end_waits_ = false;
  TeProgressBar1.SetVisible(false);
  TeSpinEdit1.SetValue(State.DeviceAddress);
  TeMenuBar1.SetFocus();
}

void TForm1::SelectDelay(TTeItem& item, std::uint16_t ms) {
  for (TTeItem* d :
       {&CustomItem7, &CustomItem8, &CustomItem9, &CustomItem10, &CustomItem11, &CustomItem12})
    d->SetChecked(d == &item);
  // Effective from the next probe sent.
  State.SearchDelayMs = ms;
}

void TForm1::CustomItem7Click(TObject*) {
  SelectDelay(CustomItem7, 100);
}
void TForm1::CustomItem8Click(TObject*) {
  SelectDelay(CustomItem8, 150);
}
void TForm1::CustomItem9Click(TObject*) {
  SelectDelay(CustomItem9, 200);
}
void TForm1::CustomItem10Click(TObject*) {
  SelectDelay(CustomItem10, 250);
}
void TForm1::CustomItem11Click(TObject*) {
  SelectDelay(CustomItem11, 300);
}
void TForm1::CustomItem12Click(TObject*) {
  SelectDelay(CustomItem12, 350);
}

bool TForm1::LateProbeAnswer() const {
  // During a search, bytes handed over in Idle get a completion of their own with
  // PendingOp 0: an answer read between its probe's time-out and the next probe (it
  // is read 150 ms after its last byte, so with the 150 ms window an answer that ends
  // within 5 ms of its probe's write lands there), or one whose read the end of the
  // search waited for. It is a probe answer all the same; SearchHit takes the address
  // from it.
  return State.PendingOp == 0 && State.SessionMode == 254;
}

void TForm1::SearchProbe() {
  State.DeviceAddress = static_cast<std::uint8_t>(State.DeviceAddress + 1);
  TeProgressBar1.SetPosition(State.DeviceAddress);
  SendReadRegisters(0, 1, TeMemo1);
  State.PendingOp = 254;
}

std::uint8_t TForm1::SearchHit() {
  // Register 0 stands in bytes 3 and 4 only when the answer holds it: a byte count of
  // at least 2 and at least 7 bytes received. Anything shorter is no hit (it would
  // otherwise be judged by its CRC bytes or by stale bytes of an earlier answer).
  if (State.FrameBuffer[2] < 2 || State.ReceivedCount < AnswerLength(kReadHoldingRegisters, 2))
    return 254;
  const std::uint16_t id =
      static_cast<std::uint16_t>(State.FrameBuffer[3] * 256 + State.FrameBuffer[4]);
  if (id != kDetectorIdentity) return 254;
  State.SessionMode = 0;
  search_end_waits_ = false;
  // The grid showed the state of the address before the search, not of the one found.
  EmptyStatusValues(StatusGrid);
  // The address that answered: with a 100 or 150 ms window the answer is handed over
  // in the next probe's window, when DeviceAddress is already one higher.
  State.DeviceAddress = State.FrameBuffer[0];
  TeProgressBar1.SetVisible(false);
  CustomItem5.SetCaption("Start");
  TeMemo1.Add(msg::kDeviceFound + PadNumber(State.DeviceAddress, 3));
  TeSpinEdit1.SetValue(State.DeviceAddress);
  TeMenuBar1.SetFocus();
  return 254;
}

void TForm1::EndOfSearch() {
  State.SessionMode = 0;
  search_end_waits_ = false;
  State.DeviceAddress = 247;
  TeMemo1.Add(msg::kDeviceNotFound);
  TeProgressBar1.SetVisible(false);
  CustomItem5.SetCaption("Start");
  TeSpinEdit1.SetValue(247);
  TeMenuBar1.SetFocus();
}

}  // namespace ornat
