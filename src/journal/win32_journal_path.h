#pragma once
// What a journal path means on Windows, told from the name alone, before anything is
// opened: a file, or a device or pipe under a file's name. An open of such a name is
// never harmless: "COM3" (or "COM3.jsonl", "logs\COM3") opens the serial port, toggles
// its lines and would write the journal onto the detectors' line; "\\.\pipe\x" hands
// each line to whatever program serves the pipe, and a pipe whose reader stops makes
// every write wait; "CON" writes into the console. Built on every platform, so that
// its rules are tested on Linux and under Wine alike.

#include <string>
#include <string_view>

namespace ornat {

// Why the journal may not go to this path on Windows, in a few words ("it names the
// serial port COM3 ..."); empty when the name is a file's.
std::string Win32JournalPathRefusal(std::string_view path);

}  // namespace ornat
