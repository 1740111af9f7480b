#pragma once
// ornat-cli's exit statuses (kExitOutput, 5, is output.h's: the output's own failure).

namespace ornat::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer = 1;  // no answer, nothing found, nothing sent
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPort = 3;     // the port (or the journal) cannot be opened
inline constexpr int kExitRefused = 4;  // exception, CRC error, wrong identity or length
// Two or more devices answer at one address (two answers in one window, or one and a
// garbled one): a line a script must not take for one device. In one run a port
// failure (3) wins over it, and it wins over 4 and 1.
inline constexpr int kExitSeveralDevices = 6;

}  // namespace ornat::cli
