// PosixCommDevice's open and close: the port taken for this program alone (TIOCEXCL,
// flock, the look for other holders), the line in raw mode; and the close that gives
// back what the open set.

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <optional>

#include "serial/platform/posix_comm_device.h"
#include "serial/platform/posix_device_state.h"
#include "serial/platform/posix_port_registry.h"
#include "serial/port_error_kind.h"

namespace ornat {

namespace {

// One Open under way: the descriptor until it becomes the device's, and what was set
// on it.
struct Opening {
  PosixCommDevice::Impl& d;
  const PortTarget& target;
  std::string node;  // the canonical path of what the name leads to
  int f = -1;
  bool exclusive_set = false;
  struct stat st {};

  // Who has the port open, kept for the message that says so; true when anybody does.
  bool NoteHolders() {
    std::vector<PortHolder> found = d.look(DeviceNode{node, PseudoTerminalIndex(st.st_rdev)});
    std::lock_guard<std::mutex> lock(d.mu);
    d.holders_at_open = std::move(found);
    return !d.holders_at_open.empty();
  }

  // Gives the descriptor back, and the flag this open set (left set, it would refuse
  // others as long as the tty stays open elsewhere).
  DevError Fail(int err, PosixOp op) {
    if (exclusive_set) d.sys.ioctl(f, TIOCNXCL, nullptr);
    d.sys.close(f);
    return TranslateErrno(err, op);
  }

  // The open itself; an open that another program's TIOCEXCL refused names its holders.
  DevError OpenNode() {
    f = RetryOnInterrupt([&] {
      return d.sys.open(target.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    });
    if (f >= 0) return 0;
    const int err = errno;
    if (ClassifyPortError(err, PortStep::kOpen) == PortErrorKind::kBusy &&
        d.sys.stat(target.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
      NoteHolders();
    return TranslateErrno(err, PosixOp::kOpen);
  }

  // Exclusive access, in this order (see the header): TIOCEXCL refuses the later opens
  // of ordinary users, flock those of another ornat (root included); then whoever had
  // it open before is looked for. A pty slave gets no TIOCEXCL: it would outlive a
  // holder that is killed.
  DevError TakeForThisProgram() {
    if (RetryOnInterrupt([&] { return d.sys.fstat(f, &st); }) != 0)
      return Fail(errno, PosixOp::kOpen);
    // A virtual port's provider may have ended between the name's resolution and the
    // open, and its pty number gone to another provider: what we opened is that other
    // provider's unless the registration still stands (while we hold the pty, its
    // number cannot go to anyone else).
    if (!target.registered.empty()) {
      const std::optional<std::string> still =
          LiveVirtualPort(VirtualPortsDirectory(d.sys), target.registered, d.sys);
      if (!still || *still != target.link_text) return Fail(ENOENT, PosixOp::kOpen);
    }
    if (!IsPseudoTerminalSlave(st.st_rdev)) {
      int already = 0;  // set by a holder that root's open went past, or left by one
      if (RetryOnInterrupt([&] { return d.sys.ioctl(f, TIOCGEXCL, &already); }) != 0) already = 0;
      if (RetryOnInterrupt([&] { return d.sys.ioctl(f, TIOCEXCL, nullptr); }) != 0)
        return Fail(errno, PosixOp::kOpen);  // ENOTTY: not a terminal device
      exclusive_set = already == 0;
    }
    if (RetryOnInterrupt([&] { return d.sys.flock(f, LOCK_EX | LOCK_NB); }) != 0) {
      const int err = errno;
      if (ClassifyPortError(TranslateErrno(err, PosixOp::kLock), PortStep::kOpen) ==
          PortErrorKind::kBusy)
        NoteHolders();
      return Fail(err, PosixOp::kLock);
    }
    // A program that takes no lock (cat, a modem manager, a terminal program) would
    // otherwise share the line and take the answers. Looked for when the kernel has
    // reported an open of the node since the last look found nobody, or cannot tell.
    if (d.watch.LookNeeded(static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino))) {
      if (NoteHolders()) return Fail(EBUSY, PosixOp::kOpen);
      d.watch.LookFoundNobody();
    }
    return 0;
  }

  // Raw mode, receiver on, modem control lines ignored for open/read; VMIN=1/VTIME=0
  // (the descriptor is non-blocking; all timing is done around poll()). Whatever the
  // line brought before we opened is not ours.
  DevError MakeRaw() {
    struct termios t {};
    if (RetryOnInterrupt([&] { return d.sys.tcgetattr(f, &t); }) != 0)
      return Fail(errno, PosixOp::kOpen);
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | HUPCL);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (RetryOnInterrupt([&] { return d.sys.tcsetattr(f, &t); }) != 0)
      return Fail(errno, PosixOp::kOpen);
    RetryOnInterrupt([&] { return d.sys.tcflush(f, TCIFLUSH); });
    return 0;
  }

  // The descriptor becomes the device's, with what the device has: a pty has neither
  // modem lines nor error counters.
  DevError Commit() {
    const int wake = d.sys.eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return Fail(errno, PosixOp::kOpen);
    int modem = 0;
    const bool modem_ok = RetryOnInterrupt([&] { return d.sys.ioctl(f, TIOCMGET, &modem); }) == 0;
    struct serial_icounter_struct ic {};
    const bool icount_ok = d.ReadIcount(f, ic);
    std::lock_guard<std::mutex> lock(d.mu);
    d.fd = f;
    d.wake_efd = wake;
    d.path = target.path;
    d.exclusive_set = exclusive_set;
    d.modem_supported = modem_ok;
    d.last_modem = modem_ok ? modem : 0;
    d.icount_supported = icount_ok;
    d.err_icount = ic;
    d.wait_icount = ic;
    d.event_mask = 0;
    d.have_line = false;
    d.hung_up.store(false);
    d.tx_pending.store(false);
    d.consumed.store(0);
    d.reported_total = 0;
    d.rx80_reported = false;
    return 0;
  }
};

}  // namespace

DevError PosixCommDevice::Open(const std::string& port) {
  Impl& d = *impl_;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.holders_at_open.clear();
  }
  if (IsOpen()) return EBUSY;
  const PortTarget target = ResolvePort(port, d.sys);
  Opening o{d, target, {}};
  // The node as the kernel names it in other processes' descriptor links, whatever
  // name the user gave (a /dev/serial/by-id link, socat's link to its pty). Watched
  // before the open: no opener slips between watch and look. A failed open keeps
  // nothing, the watch's descriptor included: the next open sets it again and looks.
  if (d.sys.realpath(target.path.c_str(), o.node) == 0) {
    d.watch.Prepare(o.node);
  } else {
    o.node = target.path;
    d.watch.Reset();  // nothing to watch: the look runs
  }
  DevError e = o.OpenNode();
  if (e == 0) {
    d.watch.CountOwnOpen();
    e = o.TakeForThisProgram();
  }
  if (e == 0) e = o.MakeRaw();
  if (e == 0) e = o.Commit();
  if (e != 0) d.watch.Reset();
  return e;
}

DevError PosixCommDevice::Close() {
  Impl& d = *impl_;
  int f, wake;
  bool exclusive_set;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    f = d.fd;
    wake = d.wake_efd;
    exclusive_set = d.exclusive_set;
    d.fd = -1;
    d.wake_efd = -1;
    d.exclusive_set = false;
  }
  if (f < 0) return 0;
  {
    // Calls still pending (none, when the component closes: it aborts its transfers
    // and joins its event thread first) end now; the descriptor is closed only after
    // the last has left.
    std::unique_lock<std::mutex> lock(d.mu);
    d.calls.EndAll(lock);
  }
  // Output that cannot drain (flow control, a dead adapter) would hold close() for
  // up to 30 s: drop it first.
  RetryOnInterrupt([&] { return d.sys.tcflush(f, TCOFLUSH); });
  // TIOCEXCL belongs to the tty, not to this descriptor: while another program keeps
  // the tty open it would outlive the close and refuse every later open by an
  // ordinary user. Give up what we set before closing.
  if (exclusive_set) d.sys.ioctl(f, TIOCNXCL, nullptr);
  d.sys.flock(f, LOCK_UN);
  int r = d.sys.close(f);
  int err = r != 0 ? errno : 0;
  if (wake >= 0) d.sys.close(wake);
  // close() may report EINTR/EIO, yet the descriptor is gone either way on Linux.
  return err == EINTR ? 0 : TranslateErrno(err, PosixOp::kClose);
}

}  // namespace ornat
