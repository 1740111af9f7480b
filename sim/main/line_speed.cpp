// This file talks to the kernel's termios2 directly: <asm/termbits.h> clashes with the C
// library's <termios.h>, so nothing here may include the latter.
#include "line_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace ornat::sim {

std::uint32_t ReadLineBitRate(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  // The kernel keeps c_ospeed up to date whether the rate was set as a Bnnn code or
  // as BOTHER with a number.
  if ((t.c_cflag & CBAUD) == B0) return 0;
  return t.c_ospeed;
}

bool SetRawLine(int fd, std::uint32_t bit_rate) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = BOTHER | CS8 | CREAD | CLOCAL;
  t.c_ispeed = bit_rate;
  t.c_ospeed = bit_rate;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace ornat::sim
