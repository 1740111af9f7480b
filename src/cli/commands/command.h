#pragma once
// What every command file shares: its runner's signature, and the two ways its report
// leaves (the messages on stderr, the result as text or as the JSON document).
// A command works the session's window, judges what came of it (verdict.h), fills in
// its result (results.h) and prints it; it returns its exit status.

#include <optional>
#include <string>

#include "cli/output.h"
#include "cli/render_json.h"
#include "cli/render_text.h"
#include "cli/session.h"

namespace ornat::cli {

using CommandRunner = int (*)(Session& session);

int RunPorts(Session& session);
int RunQuery(Session& session);
int RunWatch(Session& session);
int RunSetTactic(Session& session);
int RunSetTest(Session& session);
int RunResetAlarm(Session& session);
int RunSetAddress(Session& session);
int RunSetBaud(Session& session);
int RunResetInterface(Session& session);
int RunService(Session& session);
int RunSearch(Session& session);
int RunSurvey(Session& session);

// set baud and reset-interface on a line whose speed the server keeps (tcp://,
// modbus-tcp://): refused before anything is written, the detector's new speed named;
// with --force the window's question before the write is answered Yes. The usage
// error's status, or nothing to go on.
std::optional<int> GuardServerSpeed(Session& session, const std::string& question,
                                    const std::string& speed);

// Each message on stderr, in order.
inline void Tell(const Messages& messages) {
  for (const auto& message : messages) Err(message);
}

// The result on stdout: its JSON document with --json, else its text (which may be
// nothing).
template <class Result>
void Print(const Session& session, const Result& result) {
  const std::string text = session.options().json ? Document(result) + "\n" : Text(result);
  if (!text.empty()) Out(text);
}

}  // namespace ornat::cli
