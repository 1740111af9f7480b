// ports: the serial ports found, as the window's Port menu lists them, then the named
// lines of the lines file; with -v what the system knows of each port (the items' hints).

#include "cli/commands/command.h"

namespace ornat::cli {

int RunPorts(Session& session) {
  PortsResult result;
  const TForm1& form = session.form();
  for (std::size_t i = 0; i < form.PortsFound && i < form.PortItems.size(); ++i) {
    result.ports.push_back(form.PortItems[i]->Caption());
    if (session.options().verbose) result.descriptions.push_back(form.PortItems[i]->Hint());
  }
  result.lines = session.NamedLines();
  result.selected = session.Port();
  Print(session, result);
  if (!result.ports.empty() || !result.lines.empty()) return kExitDone;
  Err("no serial port found");
  return kExitNoAnswer;
}

}  // namespace ornat::cli
