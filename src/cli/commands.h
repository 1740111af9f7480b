#pragma once
// ornat-cli's commands: each works the headless window as the engineer works the
// window and reports what its models and log show. Data goes to stdout (text, or one
// JSON document; JSON Lines for watch), messages to stderr. One file per command in
// commands/; commands.cpp is their table.

#include <csignal>

#include "cli/cli_options.h"
#include "cli/exit_status.h"

namespace ornat::cli {

// Set by SIGINT and SIGTERM: watch presses "СТОП", search and survey stop as the
// search's "Stop" does; the exchange in flight completes first.
extern volatile std::sig_atomic_t g_interrupted;

// Runs the parsed command; returns the exit status.
int RunCommand(const Options& options);

}  // namespace ornat::cli
