#pragma once
// ornat-cli's commands: each works the headless window as the engineer works the
// window and reports what its models and log show. Data goes to stdout (text, or one
// JSON document; JSON Lines for watch), messages to stderr.

#include <csignal>

#include "cli/cli_options.h"

namespace ornat::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer = 1;  // no answer, nothing found, nothing sent
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPort = 3;     // the port (or the journal) cannot be opened
inline constexpr int kExitRefused = 4;  // exception, CRC error, wrong identity or length
// Two or more devices answer at one address (two answers in one window, or one and a
// garbled one): a line a script must not take for one device. In one run a port
// failure (3) wins over it, and it wins over 4 and 1.
inline constexpr int kExitSeveralDevices = 6;

// Set by SIGINT and SIGTERM: watch presses "СТОП", search and survey stop as the
// search's "Stop" does; the exchange in flight completes first.
extern volatile std::sig_atomic_t g_interrupted;

// Runs the parsed command; returns the exit status.
int RunCommand(const Options& options);

}  // namespace ornat::cli
