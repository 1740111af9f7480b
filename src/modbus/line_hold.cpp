// The window's hold of its line against other ornat programs: taken by a send before
// the port is opened, kept from the send to its completion, and for as long as a
// sequence runs (cyclic query, bus search, interface reset) or the survey, so that no
// other master gets onto the line between two of its exchanges. Within a process whose
// ornat-cli command holds the line already, a take is free.

#include "detector/register_map.h"
#include "modbus/exchange.h"
#include "serial/comport.h"
#include "ui/main_window.h"

namespace ornat {

std::string TForm1::LineActivity() const {
  const std::string program = ThisProgramName() + ": ";
  if (SurveyPaced()) return program + "survey";
  switch (State.SessionMode) {
    case kSessionCyclic:
      return program + "cyclic query";
    case kSessionSearch:
      return program + "bus search";
    case kSessionResetStep1:
    case kSessionResetStep2:
      return program + "interface reset";
    default:
      return program + OperationName(exchange_);
  }
}

void TForm1::HoldLine() {
  if (!env_.hold_line) return;
  const std::string& port = ComPort1_->Port();
  if (line_.Held() && line_.Port() == port) return;
  switch (line_.Take(port, LineActivity())) {
    case LineLock::Outcome::kTaken:
      return;
    case LineLock::Outcome::kUnavailable:
      // No lock file (a full or read-only disk): the exchange goes on without; the
      // port's exclusive open still guards it.
      return;
    case LineLock::Outcome::kInUse:
      break;
  }
  throw LineInUse(line_.Holder());
}

void TForm1::LetLineGoUnlessNeeded() {
  if (line_.Held() && State.SessionMode == kSessionIdle && !SurveyPaced() && !Working())
    line_.Release();
}

}  // namespace ornat
