#pragma once
// PosixCommDevice: CommDevice over a Linux tty (USB-serial adapters, on-board UARTs,
// pseudo-terminals).
//
// - Open: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, then TIOCEXCL, flock(LOCK_EX|
//   LOCK_NB), then, when it is needed, a look through /proc for any other process
//   that has the device open (as fuser does). TIOCEXCL and flock stop only later
//   openers that honour them (root ignores TIOCEXCL, and `cat` or a modem manager
//   takes no lock), so the look is what refuses a port that is already in use.
//   Any holder found, a refused flock, or an open refused by another program's
//   TIOCEXCL fails with EBUSY and names the holders (HoldersAtLastOpen).
// - The look reads only what /proc says of other processes' descriptors (the text of
//   /proc/<pid>/fd/<n>, and the fdinfo of a pty master): it never stats or opens a
//   file another process holds, which could block on a hung NFS or FUSE mount. A
//   holder is a process with a descriptor whose link text is the canonical path of
//   our node. On a pty slave, a process that also holds that pty's master (socat,
//   ornat-sim, a child that inherited both) is the pty's provider, not a holder.
//   Without privileges the processes of other users (ModemManager and brltty run as
//   root) cannot be looked at: they are passed over, and an unreadable /proc never
//   fails an open.
// - The look runs only when something may have changed since the last one found
//   nobody (PosixOpenWatch): the kernel reports every open of the node, by any
//   process, root's included, through inotify. The first open of a node looks, and
//   so does every open after one that was not ours, after a lost notification (queue
//   overflow) and after the node was replaced (an adapter plugged in again). Without
//   inotify (limits reached) every open looks. The watch is set before the first
//   open and look, so no opener slips between them; it lives as long as the device
//   object and its port name.
// - Raw mode with CLOCAL|CREAD, VMIN=1/VTIME=0; the input queue is flushed right
//   after open, the output queue right before close (a close behind stuck output can
//   block for 30 s).
// - A pseudo-terminal's slave gets no TIOCEXCL: the flag belongs to the tty, which
//   lives as long as the master side (ornat-sim) keeps it, so a program killed while
//   holding it would leave it refusing every later open by an ordinary user until the
//   master closed. Its holders are refused by the look through /proc and by flock;
//   what is lost is the kernel's refusal of a program that opens it after us. On
//   every other device the flag dies with the last close, and Close clears it when
//   this device set it.
// - Bit rates: termios2 with BOTHER (any rate, 14400/56000/128000/256000 included);
//   the rate is read back after setting and a mismatch fails with EINVAL.
// - Timing is done in user space around poll() (VTIME cannot give the Win32
//   interval semantics; read_plan.h says when a read ends). Every poll set holds an
//   eventfd: the stop signal of an event wait, or the abort eventfd of the transfer
//   (closing an fd does not wake a poll).
// - A pty has no modem lines and no error counters: TIOCMGET/TIOCGICOUNT fail with
//   ENOTTY (EINVAL before 5.13); they read as off and empty, never as a failure.
// - A hung-up device (POLLHUP, read() = 0, EIO) fails the event wait and a pending
//   read with EIO; no loop spins on it.
// - No busy loop: an idle open port sleeps in poll() without a timeout, except while
//   the event mask asks for modem-line/error changes on a device that has them
//   (polled every 20 ms), for EV_TXEMPTY after a write (polled, backing off), or for
//   bytes that stay unread in the queue (polled every 10 ms for new ones).
// - Not available on POSIX, said here once: EV_RXFLAG (EventChar) is never reported
//   (the kernel cannot signal one byte value without reading it); fNull (DiscardNull)
//   is done in Read (null bytes are dropped from what is returned); fErrorChar with
//   a ReplaceChar other than 0 replaces by 0 (the kernel's parity-error byte);
//   XonLim/XoffLim and SetupQueues sizes are advisory (the kernel's queues are fixed).
//   The line settings drop three flags the tty layer has no counterpart for:
//   fOutxDsrFlow (output never waits for DSR), fDsrSensitivity (bytes are taken
//   whatever DSR says) and fTXContinueOnXoff (output always goes on after the kernel
//   has sent XOFF, as with the flag set). Approximated: 1.5 stop bits are sent as 2
//   (CSTOPB); DTR handshake holds DTR on; RTS toggle holds RTS off.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"
#include "serial/platform/port_holders.h"
#include "serial/platform/posix_errno.h"
#include "serial/platform/posix_port_names.h"
#include "serial/platform/posix_syscalls.h"

namespace ornat {

// True for the device number of a pseudo-terminal's slave side (/dev/pts/N: majors
// 136 to 143).
bool IsPseudoTerminalSlave(std::uint64_t rdev);
// The pty number N of /dev/pts/N from its device number; -1 for any other device.
int PseudoTerminalIndex(std::uint64_t rdev);

class PosixCommDevice : public CommDevice {
 public:
  // Every system call goes through sys; the look for holders is `look` (by default
  // LookForHolders over sys).
  explicit PosixCommDevice(const PosixSyscalls& sys = PosixSyscalls::Real(), HolderLook look = {});
  ~PosixCommDevice() override;
  PosixCommDevice(const PosixCommDevice&) = delete;
  PosixCommDevice& operator=(const PosixCommDevice&) = delete;

  DevError Open(const std::string& port) override;
  std::vector<PortHolder> HoldersAtLastOpen() const override;
  bool IsOpen() const override;
  DevError Close() override;
  DevError SetupQueues(int input_size, int output_size) override;
  DevError SetLineSettings(const LineSettings& settings) override;
  DevError SetTimeouts(const CommTimeouts& timeouts) override;
  DevError SetEventMask(std::uint32_t mask) override;
  std::unique_ptr<CommStopSignal> CreateStopSignal() override;
  WaitResult WaitEvent(CommStopSignal& stop) override;
  IoResult Read(void* buffer, int count) override;
  IoResult Write(const void* buffer, int count) override;
  DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) override;
  DevError GetModemStatus(std::uint32_t& status) override;
  DevError Purge(std::uint32_t flags) override;

  // --- test-only queries -----------------------------------------------
  // The output bit rate the kernel reports for the open device (termios2), 0 when
  // closed.
  std::uint32_t QueryDeviceBaudRate() const;
  // The path the last Open opened.
  std::string OpenedPath() const;

  // The device's state, shared by the files that implement its calls
  // (posix_device_state.h).
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ornat
