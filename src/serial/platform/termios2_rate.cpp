// termios2 on its own: <asm/termbits.h> defines struct termios and the B* constants
// again, so it cannot share a file with <termios.h>. This file holds the two calls
// termios2 is needed for: an arbitrary bit rate (BOTHER), 14400, 56000, 128000 and
// 256000 bit/s included, which the B* constants of <termios.h> do not have.

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace ornat {

int Termios2SetSpeed(int fd, std::uint32_t bits_per_second) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return -1;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  t.c_cflag |= BOTHER;
  // The input rate follows the output rate (IBSHIFT bits left zero).
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);
  t.c_ospeed = bits_per_second;
  t.c_ispeed = bits_per_second;
  return ioctl(fd, TCSETS2, &t);
}

int Termios2GetSpeed(int fd, std::uint32_t& bits_per_second) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return -1;
  bits_per_second = t.c_ospeed;
  return 0;
}

std::uint32_t GetTermios2Rate(int fd) {
  std::uint32_t rate = 0;
  return Termios2GetSpeed(fd, rate) == 0 ? rate : 0;
}

}  // namespace ornat
