// PosixCommDevice's line settings: the DCB-like record as termios codes, the bit rate
// through termios2, DTR and RTS as levels.

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "serial/platform/posix_comm_device.h"
#include "serial/platform/posix_device_state.h"

namespace ornat {

namespace {

// Sets the rate and reads it back: a driver may round or refuse a rate silently. A
// UART divisor cannot hit every rate exactly; within 3 % (what an asynchronous
// receiver tolerates) the line works, beyond that the rate is refused with EINVAL.
// Returns 0 or an errno.
int SetRate(const PosixSyscalls& sys, int f, std::uint32_t bits_per_second) {
  if (bits_per_second == 0) return EINVAL;  // B0 would hang the line up
  if (sys.set_speed(f, bits_per_second) != 0) return errno;
  std::uint32_t got = 0;
  if (sys.get_speed(f, got) != 0) return errno;
  const std::uint64_t want = bits_per_second;
  const std::uint64_t diff = got > want ? got - want : want - got;
  return diff * 100 > want * 3 ? EINVAL : 0;
}

}  // namespace

DevError PosixCommDevice::SetLineSettings(const LineSettings& s) {
  Impl& d = *impl_;
  const int f = d.Fd();
  if (f < 0) return EBADF;
  if (s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > 4 || s.StopBits > 2 || s.BaudRate == 0)
    return EINVAL;
  struct termios old {};
  if (RetryOnInterrupt([&] { return d.sys.tcgetattr(f, &old); }) != 0)
    return TranslateErrno(errno, PosixOp::kSettings);
  struct termios t = old;

  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  static constexpr tcflag_t kSize[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSize[s.ByteSize - 5] | CLOCAL | CREAD;
  // 1.5 stop bits (StopBits 1) do not exist on POSIX: treated as 2 (CSTOPB). A UART
  // set to 1.5 is only meaningful with 5 data bits, where CSTOPB gives 1.5 anyway.
  if (s.StopBits != 0) t.c_cflag |= CSTOPB;
  switch (s.Parity) {
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;  // odd
    case 2:
      t.c_cflag |= PARENB;
      break;  // even
    case 3:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;  // mark (stick 1)
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;  // space (stick 0)
    default:
      break;
  }
  // CTS output flow and RTS handshake share one flag on Linux.
  if (s.fOutxCtsFlow || s.fRtsControl == 2) t.c_cflag |= CRTSCTS;

  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
  // Parity checked: a byte with a parity error reads as 0 (no PARMRK/IGNPAR), which
  // is fErrorChar with ErrorChar 0; unchecked: the byte is passed as it came.
  if (s.fParity) t.c_iflag |= INPCK;
  if (s.fOutX) t.c_iflag |= IXON;  // output stops on a received XOFF
  if (s.fInX) t.c_iflag |= IXOFF;  // we send XOFF/XON as our input queue fills
  t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);

  // On a pty the kernel forces CS8 without parity and glibc then reports EINVAL,
  // although the other bits were taken: put the previous attributes back, so the
  // call changes nothing when it fails.
  if (RetryOnInterrupt([&] { return d.sys.tcsetattr(f, &t); }) != 0) {
    const int e = errno;
    RetryOnInterrupt([&] { return d.sys.tcsetattr(f, &old); });
    return TranslateErrno(e, PosixOp::kSettings);
  }
  if (int e = SetRate(d.sys, f, s.BaudRate); e != 0) {
    RetryOnInterrupt([&] { return d.sys.tcsetattr(f, &old); });  // all or nothing
    return TranslateErrno(e, PosixOp::kSettings);
  }
  // DTR and RTS as levels (handshake modes: DTR held on, RTS driven by CRTSCTS;
  // RTS toggle, which needs RS-485 support, is held off). A pty has no lines.
  int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  auto line = [&](bool on, int* bit) {
    if (RetryOnInterrupt([&] { return d.sys.ioctl(f, on ? TIOCMBIS : TIOCMBIC, bit); }) != 0 &&
        !IsUnsupportedIoctl(errno))
      return errno;
    return 0;
  };
  if (int e = line(s.fDtrControl != 0, &dtr); e != 0) return TranslateErrno(e, PosixOp::kSettings);
  if (s.fRtsControl != 2) {
    if (int e = line(s.fRtsControl == 1, &rts); e != 0)
      return TranslateErrno(e, PosixOp::kSettings);
  }
  std::lock_guard<std::mutex> lock(d.mu);
  d.line = s;
  d.have_line = true;
  return 0;
}

}  // namespace ornat
