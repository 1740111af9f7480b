// The guard of set baud and reset-interface on a line whose speed the server keeps.

#include "cli/commands/command.h"
#include "cli/exit_status.h"
#include "cli/messages.h"
#include "detector/server_speed.h"

namespace ornat::cli {

std::optional<int> GuardServerSpeed(Session& session, const std::string& question,
                                    const std::string& speed) {
  const std::string port = session.Port();
  if (!ServerKeepsSpeed(port)) return std::nullopt;
  if (session.options().force) {
    session.window().dialogs().yes_to.push_back(question);
    return std::nullopt;
  }
  Err(ServerKeepsSpeedText(session.options().command_text, port, speed));
  return kExitUsage;
}

}  // namespace ornat::cli
