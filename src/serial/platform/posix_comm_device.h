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
//   interval semantics). Every poll set holds an eventfd: the stop signal of an event
//   wait, or the abort eventfd of the transfer (closing an fd does not wake a poll).
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
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "serial/platform/comm_device.h"

struct pollfd;
struct stat;
struct termios;

namespace ornat {

// A device node as the look for holders sees it: its canonical path, which is the
// text of the /proc/<pid>/fd links of every process that has it open, and for a
// pty's slave the pty's number (-1 for any other device).
struct DeviceNode {
  std::string path;
  int pty_index = -1;
  bool operator==(const DeviceNode&) const = default;
};

// --- the system-call seam ---------------------------------------------------
// Every system call of PosixCommDevice goes through this table, so tests can make
// any call fail with EINTR, EAGAIN, EIO... Each returns what the libc call returns
// and leaves errno set on failure; retrying EINTR is the device's job, not the
// seam's. Real() holds the libc calls.
struct PosixSyscalls {
  std::function<int(const char* path, int flags)> open;
  std::function<int(int fd)> close;
  std::function<long(int fd, void* buf, unsigned long n)> read;
  std::function<long(int fd, const void* buf, unsigned long n)> write;
  // ppoll with a relative timeout in nanoseconds, -1 for none; fds is a pollfd[].
  std::function<int(struct pollfd* fds, unsigned long nfds, long long timeout_ns)> poll;
  std::function<int(int fd, unsigned long request, void* arg)> ioctl;
  std::function<int(int fd, int operation)> flock;
  std::function<int(int fd, int queue)> tcflush;
  std::function<int(int fd, struct termios* t)> tcgetattr;
  std::function<int(int fd, const struct termios* t)> tcsetattr;  // TCSANOW
  std::function<int(unsigned int initval, int flags)> eventfd;
  std::function<int(int fd, struct stat* st)> fstat;
  // stat of our own device's path (follows links); never of another process's file.
  std::function<int(const char* path, struct stat* st)> stat;
  // opendir/readdir/closedir: the entry names of a folder but "." and "..".
  std::function<int(const char* path, std::vector<std::string>& names)> list_dir;
  // The entries of a folder of symbolic links with each link's text, not followed
  // (opendir, readlinkat): /proc/<pid>/fd gives the path of every open file without
  // touching any of them. An entry that vanishes while it is read is left out.
  std::function<int(const char* dir, std::vector<std::pair<std::string, std::string>>& links)>
      read_links;
  // The canonical path (realpath) of our device's path.
  std::function<int(const char* path, std::string& resolved)> realpath;
  std::function<int(int flags)> inotify_init1;
  std::function<int(int fd, const char* path, std::uint32_t mask)> inotify_add_watch;
  // The processes other than this one that have `node` open (FindDeviceHolders over
  // /proc with these calls by default).
  std::function<std::vector<PortHolder>(const DeviceNode& node)> holders;
  // termios2 (SetTermios2Rate / GetTermios2Rate by default).
  std::function<int(int fd, std::uint32_t rate)> set_rate;
  std::function<std::uint32_t(int fd)> get_rate;
  static const PosixSyscalls& Real();
};

// The one errno translation of the device: what a failed system call's errno means
// to the component. EWOULDBLOCK/EAGAIN of flock and EBUSY of open become EBUSY (the
// port is held); EAGAIN elsewhere is not an error the component sees (the device
// waits instead) and becomes EIO if it ever escapes; 0 stays 0; the rest pass as
// they are (ENOENT, EACCES, EIO, ...).
enum class PosixOp { kOpen, kLock, kSettings, kRead, kWrite, kWait, kQuery, kPurge, kClose };
DevError TranslateErrno(int err, PosixOp op);
// True for the errno of a modem/counter ioctl that the device does not have (a pty):
// ENOTTY, or EINVAL on kernels before 5.13. Read as "unsupported", not as a failure.
bool IsUnsupportedIoctl(int err);

// True for the device number of a pseudo-terminal's slave side (/dev/pts/N: majors
// 136 to 143).
bool IsPseudoTerminalSlave(std::uint64_t rdev);
// The pty number N of /dev/pts/N from its device number; -1 for any other device.
int PseudoTerminalIndex(std::uint64_t rdev);

// Where a bare name leads: a virtual port registered as a symlink in
// $XDG_RUNTIME_DIR/ornat/ports/<name> (or /tmp/ornat-<uid>/ports/<name> when that
// variable is unset) opens its target when the link resolves; any other bare name
// opens /dev/<name>; a name with a '/' is a path as it stands.
std::string ResolvePortPath(const std::string& name);
// The folder of registered virtual ports (for the port-discovery code).
std::string VirtualPortsDirectory();

// termios2 on an open tty fd (termios2_rate.cpp, apart from <termios.h>): sets the
// input and output rate to bits_per_second with BOTHER and reads it back.
// Returns 0 or an errno (EINVAL when the read-back rate differs).
int SetTermios2Rate(int fd, std::uint32_t bits_per_second);
// Reads back the output rate (0 on failure).
std::uint32_t GetTermios2Rate(int fd);

class PosixCommDevice : public CommDevice {
 public:
  explicit PosixCommDevice(const PosixSyscalls& sys = PosixSyscalls::Real());
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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ornat
