// Interface reset: the PC port goes to 9600 bit/s and two writes to slave 247 put the
// detector back to address 247 (register 1) and 9600 bit/s (register 2 := 4). When not
// both are acknowledged, the completion of the second puts the port back.

#include "serial/comport.h"
#include "ui/main_window.h"

namespace ornat {

void TForm1::TeButton2Click(TObject*) {
  // Ignored, not deferred, while any sequence runs.
  if (State.SessionMode != 0) return;
  State.SessionMode = 2;
  Timer_Programm.SetInterval(20);
  Timer_Programm.SetEnabled(true);
}

void TForm1::ResetStep1() {
  State.SavedBaudRate = ComPort1().BaudRate();
  ComPort1().SetBaudRate(TBaudRate::br9600);
  // The response timeout stays that of BaudIndex, not of 9600 bit/s.
  SendWriteRegisterTo(247, 1, 247, TeMemo1);
  State.ResetStepCount = 0;
  State.PendingOp = 4;
  State.SessionMode = 3;
}

void TForm1::ResetStep2() {
  SendWriteRegisterTo(247, 2, 4, TeMemo1);
  State.PendingOp = 5;
  State.SessionMode = 0;
}

}  // namespace ornat
