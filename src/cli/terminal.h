#pragma once
// ornat-cli's terminal: what differs between a Linux terminal and the Windows console
// (terminal_linux.cpp, terminal_windows.cpp).

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/output.h"

namespace ornat::cli {

// Ctrl-C and SIGTERM (on Windows: Ctrl-C, Ctrl-Break and closing the console window)
// set *stop_flag instead of ending the program, so the exchange in flight completes
// first. A write to a pipe whose reader has gone fails (EPIPE) instead of ending the
// program: on Linux SIGPIPE is ignored, Windows has no such signal. On Windows also:
// the console shows UTF-8 (its output code page), and stdout and stderr pass their
// bytes as they are (no LF to CR LF), the same bytes as on Linux in a pipe or a file.
void SetUpTerminal(volatile std::sig_atomic_t* stop_flag);

// How stderr takes the progress line: not at all when it is a pipe or a file; on a
// Linux terminal with the erase to the end of the line; on a Windows console, whose
// kind (a Windows 10 console, an older one, Wine's) cannot be told for sure, drawn
// over with spaces and kept within the console's width.
ProgressConsole ProgressTerminal();

// True when stdout is a terminal or a console (NUL, a pipe or a file is not).
bool OutputTerminal();

// Writes the bytes (UTF-8) to stdout or stderr and flushes it; false when not all of
// them went (errno, and on Windows the system's error, tell why). On Linux, and on
// Windows into a pipe or a file, the bytes as they are. On a Windows console as
// UTF-16 through the console's own call, which shows Cyrillic on every console (a
// console before Windows 10, and Wine's, garble UTF-8 bytes even with its output
// code page UTF-8).
bool WriteStream(std::FILE* stream, std::string_view bytes);

// Made ready for a write to stdout whose failure WriteFailureText is to tell.
void BeforeWrite();
// The words for the write to stdout that has just failed, with the C library's errno
// of it: strerror on Linux ("Broken pipe", "No space left on device"). On Windows the
// system's own error of that write, which the C library turns into EINVAL where it
// has no errno for it (a pipe whose reader has gone reads "Broken pipe" there too).
std::string WriteFailureText(int crt_errno);

}  // namespace ornat::cli
