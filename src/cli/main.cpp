// ornat-cli: the window's logic without the window, for scripts and for commissioning a
// line of detectors. See ornat-cli --help and ornat-cli(1).

#include "cli/main.h"

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/terminal.h"
#include "serial/translation.h"

namespace ornat::cli {

int Main(const std::vector<std::string>& args, const std::string& refused) {
  // The serial error texts in the user's language; numbers stay with a full stop, as
  // in the messages around them and in the JSON.
  ornat::SetUpLocale();
  // Ctrl-C and SIGTERM end the work as the window's stop buttons do: the exchange in
  // flight completes first, and its line is written. A closed pipe comes back from a
  // write as an error that the output reports, never as a signal that would end the
  // program silently. On Windows, the console takes UTF-8 from here on.
  SetUpTerminal(&g_interrupted);
  std::setlocale(LC_NUMERIC, "C");
  if (!refused.empty()) {
    // A name with U+FFFD in the place of what it held would name another file.
    Err("the argument \"" + refused +
        "\" holds a character that has no UTF-8 form (an unpaired UTF-16 surrogate)");
    return kExitUsage;
  }
  Options options;
  try {
    options = ParseArguments(args);
  } catch (const UsageError& e) {
    Err(e.what());  // it may quote an argument: never raw to the terminal
    return kExitUsage;
  }
  if (options.command == Command::kHelp) {
    Out(UsageText());
    return FinishOutput(kExitDone);
  }
  if (options.command == Command::kVersion) {
    Out(std::string("ornat-cli ") + ORNAT_VERSION + "\n");
    return FinishOutput(kExitDone);
  }
  try {
    return RunCommand(options);
  } catch (const std::exception& e) {
    Err(e.what());
    return kExitPort;
  }
}

}  // namespace ornat::cli
