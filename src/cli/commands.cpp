// The table of ornat-cli's commands: each with its runner (one file each in commands/).

#include "cli/commands.h"

#include "cli/commands/command.h"
#include "cli/output.h"
#include "cli/session.h"

namespace ornat::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

struct CommandEntry {
  Command command;
  CommandRunner run;
};

constexpr CommandEntry kCommandTable[] = {
    {Command::kPorts, RunPorts},
    {Command::kQuery, RunQuery},
    {Command::kWatch, RunWatch},
    {Command::kSetTactic, RunSetTactic},
    {Command::kSetTest, RunSetTest},
    {Command::kResetAlarm, RunResetAlarm},
    {Command::kSetAddress, RunSetAddress},
    {Command::kSetBaud, RunSetBaud},
    {Command::kResetInterface, RunResetInterface},
    {Command::kService, RunService},
    {Command::kSearch, RunSearch},
    {Command::kSurvey, RunSurvey},
};

int RunIn(Session& session, Command command) {
  for (const CommandEntry& entry : kCommandTable)
    if (entry.command == command) return entry.run(session);
  return kExitUsage;  // --help and --version are main's
}

}  // namespace

int RunCommand(const Options& options) {
  Session session(options);
  int code = session.Open();
  if (code < 0) code = RunIn(session, options.command);
  session.ReportJournal();
  return FinishOutput(session.WithJournal(code));
}

}  // namespace ornat::cli
