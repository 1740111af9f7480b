#pragma once
// Where ornat.exe, a program of the window subsystem, writes what it answers on the
// command line (--help, --version, a wrong argument) before any window opens.

#include <string>

namespace ornat::win32 {

// Writes the text (UTF-8) to stdout, or to stderr where `error`:
// - redirected to a file or a pipe: the bytes as they are, as a console program's;
// - else the console of the program that started it (cmd, PowerShell), which a
//   program of the window subsystem does not have until it attaches to it
//   (AttachConsole(ATTACH_PARENT_PROCESS)): the text through the console's UTF-16
//   call, so Cyrillic shows on every console; a handle that is no console (NUL) gets
//   the bytes;
// - with neither, in a message box.
void TellFromCommandLine(const std::string& text, bool error);

}  // namespace ornat::win32
