// termios2 on its own: <asm/termbits.h> defines struct termios and the B* constants
// again, so it cannot share a file with <termios.h>. This file holds the one thing
// termios2 is needed for: an arbitrary bit rate (BOTHER), 14400, 56000, 128000 and
// 256000 bit/s included, which the B* constants of <termios.h> do not have.

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

namespace ornat {

int SetTermios2Rate(int fd, std::uint32_t bits_per_second) {
  if (bits_per_second == 0) return EINVAL;  // B0 would hang the line up
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  t.c_cflag |= BOTHER;
  // The input rate follows the output rate (IBSHIFT bits left zero).
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);
  t.c_ospeed = bits_per_second;
  t.c_ispeed = bits_per_second;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  // Read back: a driver may round or refuse a rate silently. A UART divisor cannot
  // hit every rate exactly; within 3 % (what an asynchronous receiver tolerates)
  // the line works, beyond that the rate is refused.
  struct termios2 back {};
  if (ioctl(fd, TCGETS2, &back) != 0) return errno;
  const std::uint64_t want = bits_per_second, got = back.c_ospeed;
  const std::uint64_t diff = got > want ? got - want : want - got;
  if (diff * 100 > want * 3) return EINVAL;
  return 0;
}

std::uint32_t GetTermios2Rate(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace ornat
