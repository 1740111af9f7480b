// ports: the serial ports found, as the window's Port menu lists them.

#include "cli/commands/command.h"

namespace ornat::cli {

int RunPorts(Session& session) {
  PortsResult result;
  for (const auto& item : session.form().PortItems) result.ports.push_back(item->Caption());
  result.selected = session.Port();
  Print(session, result);
  if (!result.ports.empty()) return kExitDone;
  Err("no serial port found");
  return kExitNoAnswer;
}

}  // namespace ornat::cli
