#pragma once
// ornat-cli's terminal: what differs between a Linux terminal and the Windows console
// (terminal_linux.cpp, terminal_windows.cpp).

#include <csignal>

namespace ornat::cli {

// Ctrl-C and SIGTERM (on Windows: Ctrl-C, Ctrl-Break and closing the console window)
// set *stop_flag instead of ending the program, so the exchange in flight completes
// first. On Windows also: the console shows UTF-8 (its output code page), and stdout
// and stderr pass their bytes as they are (no LF to CR LF), the same bytes as on
// Linux in a pipe or a file.
void SetUpTerminal(volatile std::sig_atomic_t* stop_flag);

// True when stderr is a terminal on which the progress line can be redrawn in place
// (carriage return and erase to the end of the line).
bool ProgressTerminal();

}  // namespace ornat::cli
