// PosixCommDevice: its state, the settings it keeps, the queries and the purge. The
// open and close are in posix_open.cpp, the line settings in posix_line_settings.cpp,
// the event wait in posix_event_wait.cpp, the transfers in posix_transfers.cpp.

#include "serial/platform/posix_comm_device.h"

#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <cerrno>

#include "serial/platform/posix_device_state.h"

namespace ornat {

bool IsPseudoTerminalSlave(std::uint64_t rdev) {
  const unsigned int m = major(static_cast<dev_t>(rdev));
  return m >= 136 && m <= 143;  // UNIX98_PTY_SLAVE_MAJOR and its seven followers
}

int PseudoTerminalIndex(std::uint64_t rdev) {
  if (!IsPseudoTerminalSlave(rdev)) return -1;
  const dev_t d = static_cast<dev_t>(rdev);
  return static_cast<int>((major(d) - 136) * 256 + minor(d));
}

int PosixCommDevice::Impl::QueueCount(int f, int& count) const {
  int q = 0;
  if (RetryOnInterrupt([&] { return sys.ioctl(f, FIONREAD, &q); }) != 0) return errno;
  count = q;
  return 0;
}

bool PosixCommDevice::Impl::ReadIcount(int f, struct serial_icounter_struct& ic) const {
  return RetryOnInterrupt([&] { return sys.ioctl(f, TIOCGICOUNT, &ic); }) == 0;
}

PosixCommDevice::PosixCommDevice(const PosixSyscalls& sys, HolderLook look)
    : impl_(std::make_unique<Impl>(sys, std::move(look))) {}

PosixCommDevice::~PosixCommDevice() {
  Close();
}

bool PosixCommDevice::IsOpen() const {
  return impl_->Fd() >= 0;
}

std::string PosixCommDevice::OpenedPath() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->path;
}

std::vector<PortHolder> PosixCommDevice::HoldersAtLastOpen() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->holders_at_open;
}

DevError PosixCommDevice::SetupQueues(int input_size, int /*output_size*/) {
  // The kernel's queues have fixed sizes; the input size only scales EV_RX80FULL.
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (d.fd < 0) return EBADF;
  d.input_size = input_size;
  return 0;
}

DevError PosixCommDevice::SetTimeouts(const CommTimeouts& timeouts) {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (d.fd < 0) return EBADF;
  d.timeouts = timeouts;
  return 0;
}

DevError PosixCommDevice::SetEventMask(std::uint32_t mask) {
  Impl& d = *impl_;
  int wake;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    if (d.fd < 0) return EBADF;
    d.event_mask = mask;
    wake = d.wake_efd;
  }
  PokeEventfd(d.sys, wake);  // a waiting WaitEvent re-reads the mask
  return 0;
}

std::unique_ptr<CommStopSignal> PosixCommDevice::CreateStopSignal() {
  int efd = impl_->sys.eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Without an eventfd (out of descriptors) the signal still sets its flag; the
  // wait then sees it at its next wake-up.
  return std::make_unique<PosixStopSignal>(impl_->sys, efd);
}

DevError PosixCommDevice::ClearError(std::uint32_t& errors, std::uint32_t& in_queue) {
  Impl& d = *impl_;
  const int f = d.Fd();
  if (f < 0) return EBADF;
  int q = 0;
  if (int e = d.QueueCount(f, q); e != 0) return TranslateErrno(e, PosixOp::kQuery);
  errors = 0;
  in_queue = static_cast<std::uint32_t>(q);
  std::lock_guard<std::mutex> lock(d.mu);
  if (d.icount_supported) {
    struct serial_icounter_struct ic {};
    if (d.ReadIcount(f, ic)) {
      auto& o = d.err_icount;
      if (ic.frame != o.frame) errors |= CE_FRAME;
      if (ic.parity != o.parity) errors |= CE_RXPARITY;
      if (ic.overrun != o.overrun) errors |= CE_OVERRUN;
      if (ic.buf_overrun != o.buf_overrun) errors |= CE_RXOVER;
      if (ic.brk != o.brk) errors |= CE_BREAK;
      o = ic;  // the query clears them
    } else if (!IsUnsupportedIoctl(errno)) {
      return TranslateErrno(errno, PosixOp::kQuery);
    }
  }
  return 0;
}

DevError PosixCommDevice::GetModemStatus(std::uint32_t& status) {
  Impl& d = *impl_;
  const int f = d.Fd();
  if (f < 0) return EBADF;
  status = 0;
  int m = 0;
  if (RetryOnInterrupt([&] { return d.sys.ioctl(f, TIOCMGET, &m); }) != 0) {
    if (IsUnsupportedIoctl(errno)) return 0;  // a pty: all lines off
    return TranslateErrno(errno, PosixOp::kQuery);
  }
  if (m & TIOCM_CTS) status |= MS_CTS_ON;
  if (m & TIOCM_DSR) status |= MS_DSR_ON;
  if (m & TIOCM_RNG) status |= MS_RING_ON;
  if (m & TIOCM_CD) status |= MS_RLSD_ON;
  return 0;
}

DevError PosixCommDevice::Purge(std::uint32_t flags) {
  Impl& d = *impl_;
  int f;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    f = d.fd;
    if (f < 0) return EBADF;
    // Abort: every transfer pending now ends at once (its poll wakes on its eventfd).
    d.calls.Abort(flags);
  }
  if (flags & PURGE_RXCLEAR) {
    int q = 0;
    if (d.QueueCount(f, q) == 0) d.consumed.fetch_add(static_cast<std::uint64_t>(q));
    if (RetryOnInterrupt([&] { return d.sys.tcflush(f, TCIFLUSH); }) != 0 && errno != EIO)
      return TranslateErrno(errno, PosixOp::kPurge);
  }
  if (flags & PURGE_TXCLEAR) {
    if (RetryOnInterrupt([&] { return d.sys.tcflush(f, TCOFLUSH); }) != 0 && errno != EIO)
      return TranslateErrno(errno, PosixOp::kPurge);
    d.tx_pending.store(false);
  }
  return 0;
}

std::uint32_t PosixCommDevice::QueryDeviceBaudRate() const {
  const int f = impl_->Fd();
  std::uint32_t rate = 0;
  if (f < 0 || impl_->sys.get_speed(f, rate) != 0) return 0;
  return rate;
}

}  // namespace ornat
