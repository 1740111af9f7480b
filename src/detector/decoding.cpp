// The detector's register map at work: the answer to the parameter query shown in
// the status grid, the tactic buttons and the two check boxes (DecodeParameters);
// the eleven configuration handlers, each writing one register; the three service
// reads of the hidden buttons "F0", "F2", "F3".

#include "detector/register_map.h"
#include "modbus/protocol.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat {

namespace {

// Value cell of the type row. Four leading spaces; "VA" and "Zev" Latin, "ОРНАТ"
// Cyrillic; the quotation marks belong to it.
constexpr const char* kTypeText = "    VA329(/330) \"ОРНАТ(-2)-Zev\"";

// Value cell of the state row by the low byte of register 3; four leading spaces,
// all letters Cyrillic.
constexpr const char* kStateNormal = "    НОРМА";
constexpr const char* kStateAlarm = "    ТРЕВОГА";
constexpr const char* kStateFault = "    НЕИСПР.";
constexpr const char* kStateUnknown = "    -??";

const char* StateText(std::uint8_t code) {
  switch (code) {
    case 0:
      return kStateNormal;
    case 1:
      return kStateAlarm;
    case 2:
      return kStateFault;
    default:
      return kStateUnknown;
  }
}

// Byte counts of the parameter answers the window accepts: 5, 6 or 8 registers.
constexpr bool AcceptedByteCount(std::uint8_t n) {
  return n == 10 || n == 12 || n == 16;
}

}  // namespace

// --- decoding -------------------------------------------------------------------

std::uint8_t TForm1::DecodeParameters() {
  const auto& f = State.FrameBuffer;
  const std::uint8_t byte_count = f[2];
  // Register 0, high byte first.
  const auto id = static_cast<std::uint16_t>(f[3] * 256 + f[4]);

  // The length is tested before the identity. An answer shorter than its own byte
  // count (with a CRC that happens to fit) counts as one of the wrong length: the
  // bytes beyond it were never received and would show an earlier answer's state.
  // Bytes after a whole answer (a trailing 0x00 the validator accepted) are fine.
  if (!AcceptedByteCount(byte_count) ||
      State.ReceivedCount < AnswerLength(kReadHoldingRegisters, byte_count)) {
    EmptyStatusValues(StatusGrid);
    AddOutcomeLine(msg::kWrongLength, ExchangeOutcome::kWrongLength);
    return kOpFailed;
  }
  if (id != kDetectorIdentity) {
    EmptyStatusValues(StatusGrid);
    AddOutcomeLine(msg::kWrongId, ExchangeOutcome::kWrongId);
    return kOpFailed;
  }

  // The address editor moved on while the query was in flight: this is the state of
  // the address the query asked, not of the one the editor names now, and the grid
  // stays empty as the editor's change left it.
  if (!address_changed_since_query_) {
    StatusGrid.SetCell(1, 0, kTypeText);
    StatusGrid.SetCell(1, 1, StateText(f[10]));  // low byte of register 3
  }

  // Setting a control from code runs its click handler; QueryPending is 1 here (the
  // query set it, only the completion clears it, after this), so every handler
  // returns at its second guard and nothing is written back to the detector.
  TTeRadioButton* const by_code[10] = {
      &T1MAX_Button,     nullptr,           &T2MAX_Button,     &T2MIN_Button, &T3_100MIN_Button,
      &T3_100MAX_Button, &T3_500MIN_Button, &T3_500MAX_Button, &IRMAX_Button, &IRMIN_Button,
  };
  const std::uint8_t tactic = f[12];  // low byte of register 4
  if (tactic < 10 && by_code[tactic] != nullptr) {
    by_code[tactic]->SetChecked(true);  // clears the other eight
  } else {
    // Code 1 and 10..255: none of the nine, cleared in this order.
    for (TTeRadioButton* b :
         {&T1MAX_Button, &T2MAX_Button, &T2MIN_Button, &T3_100MIN_Button, &T3_100MAX_Button,
          &T3_500MIN_Button, &T3_500MAX_Button, &IRMAX_Button, &IRMIN_Button})
      b->SetChecked(false);
  }

  // Latching (register 5, low byte 0 = on) and test mode (register 7), as far as the
  // answer holds them.
  switch (byte_count) {
    case 10:
      FIX_Button.SetChecked(true);
      break;
    case 12:
      FIX_Button.SetChecked(f[14] == 0);
      TST_Button.SetChecked(false);
      break;
    case 16:
      FIX_Button.SetChecked(f[14] == 0);
      TST_Button.SetChecked(f[18] != 0);
      break;
  }
  return 0;
}

// --- configuration handlers -------------------------------------------------------

bool TForm1::ConfigurationGuardsPass(Action self) {
  if (State.SessionMode == kSessionSearch) return false;
  // A query or interface change awaits its answer: this is the detector's
  // configuration being shown, or a write that must wait for it.
  if (State.QueryPending == 1) return false;
  return DeferIfBusy(self) != 1;
}

void TForm1::WriteTactic(Action self, std::uint8_t code) {
  if (!ConfigurationGuardsPass(self)) return;
  SendWriteRegister(kRegTactic, code, TeMemo1);
  State.PendingOp = kOpConfigurationWrite;
}

void TForm1::T1MAX_ButtonClick(TObject*) {
  WriteTactic(&TForm1::T1MAX_ButtonClick, 0);
}
void TForm1::T2MAX_ButtonClick(TObject*) {
  WriteTactic(&TForm1::T2MAX_ButtonClick, 2);
}
void TForm1::T2MIN_ButtonClick(TObject*) {
  WriteTactic(&TForm1::T2MIN_ButtonClick, 3);
}
void TForm1::T3_100MIN_ButtonClick(TObject*) {
  WriteTactic(&TForm1::T3_100MIN_ButtonClick, 4);
}
void TForm1::T3_100MAX_ButtonClick(TObject*) {
  WriteTactic(&TForm1::T3_100MAX_ButtonClick, 5);
}
void TForm1::T3_500MIN_ButtonClick(TObject*) {
  WriteTactic(&TForm1::T3_500MIN_ButtonClick, 6);
}
void TForm1::T3_500MAX_ButtonClick(TObject*) {
  WriteTactic(&TForm1::T3_500MAX_ButtonClick, 7);
}
void TForm1::IRMAX_ButtonClick(TObject*) {
  WriteTactic(&TForm1::IRMAX_ButtonClick, 8);
}
void TForm1::IRMIN_ButtonClick(TObject*) {
  WriteTactic(&TForm1::IRMIN_ButtonClick, 9);
}

void TForm1::FIX_ButtonClick(TObject*) {
  if (!ConfigurationGuardsPass(&TForm1::FIX_ButtonClick)) return;
  // The box is read when the write goes out (a deferred click reads it 20 ms after
  // the exchange it waited for).
  SendWriteRegister(kRegLatching, FIX_Button.Checked() ? kLatchingOn : kLatchingOff, TeMemo1);
  State.PendingOp = kOpConfigurationWrite;
}

void TForm1::TST_ButtonClick(TObject*) {
  if (!ConfigurationGuardsPass(&TForm1::TST_ButtonClick)) return;
  SendWriteRegister(kRegTestMode, TST_Button.Checked() ? kTestOn : kTestOff, TeMemo1);
  State.PendingOp = kOpConfigurationWrite;
}

// --- service reads: no guards at all ------------------------------------------------

void TForm1::Button1Click(TObject*) {
  SendReadRegisters(kServiceBlockF0, kServiceCountF0, TeMemo1);
  State.PendingOp = kOpServiceRead;
}
void TForm1::Button2Click(TObject*) {
  SendReadRegisters(kServiceBlockF2, kServiceCountF2, TeMemo1);
  State.PendingOp = kOpServiceRead;
}
void TForm1::Button3Click(TObject*) {
  SendReadRegisters(kServiceBlockF3, kServiceCountF3, TeMemo1);
  State.PendingOp = kOpServiceRead;
}

}  // namespace ornat
