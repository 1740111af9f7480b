// Interface parameter changes: the detector's slave address (register 1) and line
// speed (register 2), each one write at the present address and speed; the window
// follows the values the detector echoes.

#include "detector/server_speed.h"
#include "serial/comport.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat {

namespace {
// "COM" Latin.
constexpr const char* kFollowQuestion = "Сменить скорость обмена COM-порта ПК?";
constexpr std::uint16_t kRegAddress = 1;
constexpr std::uint16_t kRegLineSpeed = 2;
}  // namespace

void TForm1::TeButton1Click(TObject*) {
  if (State.SessionMode == 254) return;
  if (DeferIfBusy(&TForm1::TeButton1Click) == 1) return;
  State.QueryPending = 1;
  State.DeviceAddress = AddressOf(TeSpinEdit1);
  // The request goes to the current address.
  SendWriteRegister(kRegAddress, AddressOf(TeSpinEdit2), TeMemo1);
  State.PendingOp = 1;
}

void TForm1::TeSComboBox1Change(TObject*) {
  if (State.SessionMode == 254) return;
  if (DeferIfBusy(&TForm1::TeSComboBox1Change) == 1) return;
  // Where the server keeps the line's speed the detector would be lost at the new one:
  // asked first, nothing written on No.
  if (ServerKeepsSpeed(ComPort1().Port()) &&
      env_.dialogs->AskYesNo(kServerSpeedChangeQuestion) != DialogAnswer::Yes)
    return;
  State.QueryPending = 1;
  // Codes 1 (1200 bit/s) to 8 (57600 bit/s), sent at the PC's present speed, which
  // the detector still uses.
  SendWriteRegister(kRegLineSpeed, static_cast<std::uint16_t>(TeSComboBox1.ItemIndex() + 1),
                    TeMemo1);
  State.PendingOp = 2;
}

void TForm1::AddressAcknowledged() {
  // The grid showed the state under the old address; a query shows it under the new.
  EmptyStatusValues(StatusGrid);
  // Byte 5 of the echo: the low byte of the value written.
  State.DeviceAddress = State.FrameBuffer[5];
  TeSpinEdit1.SetValue(State.DeviceAddress);
  TeLabel5.SetCaption(kAddressLabelPrefix + PadNumber(State.DeviceAddress, 3));
  StatusBar1.SetPanelText(2, kDevicePrefixLatin + PadNumber(State.DeviceAddress, 3) + ";");
  // Latin A and three digits, no final semicolon.
  StatusBar1.SetPanelText(2, StatusBar1.PanelText(2) + " Baud = " + CurrentBaudRow().speed_text);
}

void TForm1::BaudAcknowledged() {
  const unsigned code = State.FrameBuffer[5];
  // Compared as whole numbers: code 0 never matches.
  if (static_cast<int>(code) - 1 == static_cast<int>(State.BaudIndex)) return;
  State.BaudIndex = static_cast<std::uint8_t>(code - 1);
  StatusBar1.SetPanelText(2, kDevicePrefixCyrillic + std::to_string(State.DeviceAddress) + ";");
  // A code outside 1..8 is shown, and offered to the PC, as 9600 bit/s.
  if (State.BaudIndex > 7) State.BaudIndex = 3;
  const BaudRow& row = kBaudTable[State.BaudIndex];
  StatusBar1.SetPanelText(2, StatusBar1.PanelText(2) + " Baud = " + row.speed_text);
  // The dialog runs inside the completion; timer firings and hand-overs that come
  // due while it is open are held by the gate until the completion has returned.
  if (env_.dialogs->AskYesNo(OnServerLine(ComPort1().Port(), kFollowQuestion)) ==
      DialogAnswer::Yes) {
    UncheckBaudItems();
    BaudItem(State.BaudIndex).SetChecked(true);
    StatusBar1.SetPanelText(1, row.panel1_text);
    ComPort1().SetBaudRate(row.port_value);
  } else {
    // The port keeps its speed; BaudIndex keeps the detector's new speed.
    State.ResetStepCount = 0;
  }
}

}  // namespace ornat
