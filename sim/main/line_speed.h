#pragma once
// Line settings of the simulator's end of the line, through termios2 so that any bit
// rate (14400 included) is read and set exactly.

#include <cstdint>

namespace ornat::sim {

// The output bit rate set on the terminal behind `fd`; 0 when it cannot be read or is
// B0. On a pty master this is the rate the program at the slave end has set, since the
// kernel applies termios calls made on the master to the slave.
std::uint32_t ReadLineBitRate(int fd);

// Puts the terminal behind `fd` in raw mode, 8 data bits, no parity, one stop bit, no
// flow control, at `bit_rate`. Returns false (errno set) on failure.
bool SetRawLine(int fd, std::uint32_t bit_rate);

}  // namespace ornat::sim
