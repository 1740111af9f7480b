// Interface reset: the PC port goes to 9600 bit/s and two writes to slave 247 put the
// detector back to address 247 (register 1) and 9600 bit/s (register 2 := 4). When not
// both are acknowledged, the completion of the second puts the port back.

#include "detector/server_speed.h"
#include "serial/comport.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat {

void TForm1::TeButton2Click(TObject*) {
  // Ignored, not deferred, while any sequence or the survey runs.
  if (State.SessionMode != 0 || SurveyPaced()) return;
  // Where the server keeps the line's speed, a detector at another speed than 9600
  // would be lost at it: asked first, nothing written on No.
  if (ServerKeepsSpeed(ComPort1().Port()) &&
      env_.dialogs->AskYesNo(kServerSpeedResetQuestion) != DialogAnswer::Yes)
    return;
  State.SessionMode = 2;
  Timer_Programm.SetInterval(20);
  Timer_Programm.SetEnabled(true);
}

void TForm1::ResetStep1() {
  State.SavedBaudRate = ComPort1().BaudRate();
  ComPort1().SetBaudRate(TBaudRate::br9600);
  // From here on the port runs at 9600 bit/s: should the send fail, the reset ends
  // with the port put back (EndResetAfterFailedSend), which it knows by SessionMode 3.
  State.SessionMode = 3;
  // The detector's address and speed are about to change: what the grid shows is no
  // longer the state of the detector the window will talk to.
  EmptyStatusValues(StatusGrid);
  // The response timeout stays that of BaudIndex, not of 9600 bit/s.
  SendWriteRegisterTo(247, 1, 247, TeMemo1);
  State.ResetStepCount = 0;
  State.PendingOp = 4;
}

void TForm1::ResetStep2() {
  EmptyStatusValues(StatusGrid);
  SendWriteRegisterTo(247, 2, 4, TeMemo1);
  State.PendingOp = 5;
  State.SessionMode = 0;
}

void TForm1::EndResetAfterFailedSend() {
  // No completion follows this send. In SessionMode 2 the port has not been switched
  // yet; in 3 it runs at 9600 bit/s and goes back, as after a reset not confirmed.
  const bool switched = State.SessionMode == 3;
  State.SessionMode = 0;
  if (switched) ComPort1().SetBaudRate(State.SavedBaudRate);
}

}  // namespace ornat
