#pragma once
// The table of ornat-cli's command line: its commands as typed, the options with and
// without a value, and which option counts for which command (an option that would
// change nothing in what a command does is refused, with the reason).

#include <set>
#include <string>

#include "cli/cli_options.h"

namespace ornat::cli {

struct CommandSpelling {
  const char* words;  // "set tactic": one word, or "set" and the parameter
  Command command;
  // Its one argument, as the message of its absence names it; null: it takes none.
  const char* argument;
};
// Every command, "help" included; null at the end of the table.
const CommandSpelling* CommandSpellings();
// "ports, query, watch, ...": the commands, for the messages.
extern const char* const kCommandList;

bool TakesValue(const std::string& option);  // --port, --baud, ...
bool IsFlag(const std::string& option);      // --json, --verbose, --force

// Why `option` would change nothing in what `command` does; null when it counts.
// `given` holds every option on the command line.
const char* NoEffect(const std::string& option, Command command,
                     const std::set<std::string>& given);

}  // namespace ornat::cli
