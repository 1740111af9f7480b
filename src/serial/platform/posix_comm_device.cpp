#include "serial/platform/posix_comm_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>

#include "serial/platform/port_holders.h"
#include "serial/platform/posix_open_watch.h"
#include "serial/platform/posix_port_registry.h"

namespace ornat {

// ---------------------------------------------------------------------------
// The seam.

const PosixSyscalls& PosixSyscalls::Real() {
  static const PosixSyscalls real = [] {
    PosixSyscalls s;
    s.open = [](const char* path, int flags) { return ::open(path, flags); };
    s.close = [](int fd) { return ::close(fd); };
    s.read = [](int fd, void* buf, unsigned long n) {
      return static_cast<long>(::read(fd, buf, n));
    };
    s.write = [](int fd, const void* buf, unsigned long n) {
      return static_cast<long>(::write(fd, buf, n));
    };
    s.poll = [](struct pollfd* fds, unsigned long nfds, long long timeout_ns) {
      if (timeout_ns < 0) return ::ppoll(fds, nfds, nullptr, nullptr);
      struct timespec ts;
      ts.tv_sec = static_cast<time_t>(timeout_ns / 1000000000LL);
      ts.tv_nsec = static_cast<long>(timeout_ns % 1000000000LL);
      return ::ppoll(fds, nfds, &ts, nullptr);
    };
    s.ioctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
    s.flock = [](int fd, int op) { return ::flock(fd, op); };
    s.tcflush = [](int fd, int queue) { return ::tcflush(fd, queue); };
    s.tcgetattr = [](int fd, struct termios* t) { return ::tcgetattr(fd, t); };
    s.tcsetattr = [](int fd, const struct termios* t) { return ::tcsetattr(fd, TCSANOW, t); };
    s.eventfd = [](unsigned int initval, int flags) { return ::eventfd(initval, flags); };
    s.fstat = [](int fd, struct stat* st) { return ::fstat(fd, st); };
    s.stat = [](const char* path, struct stat* st) { return ::stat(path, st); };
    s.list_dir = [](const char* path, std::vector<std::string>& names) {
      DIR* dir = ::opendir(path);
      if (dir == nullptr) return -1;
      names.clear();
      while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
          names.emplace_back(e->d_name);
      }
      ::closedir(dir);
      return 0;
    };
    s.read_links = [](const char* path, std::vector<std::pair<std::string, std::string>>& links) {
      DIR* dir = ::opendir(path);
      if (dir == nullptr) return -1;
      links.clear();
      char buf[PATH_MAX];
      while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;  // "." and ".." (fd names are digits)
        // Relative to the open folder: no walk from / through /proc for each link.
        const ssize_t n = ::readlinkat(::dirfd(dir), e->d_name, buf, sizeof buf);
        if (n >= 0) links.emplace_back(e->d_name, std::string(buf, static_cast<std::size_t>(n)));
      }
      ::closedir(dir);
      return 0;
    };
    s.realpath = [](const char* path, std::string& resolved) {
      char buf[PATH_MAX];
      if (::realpath(path, buf) == nullptr) return -1;
      resolved = buf;
      return 0;
    };
    s.inotify_init1 = [](int flags) { return ::inotify_init1(flags); };
    s.inotify_add_watch = [](int fd, const char* path, std::uint32_t mask) {
      return ::inotify_add_watch(fd, path, mask);
    };
    s.holders = [](const DeviceNode& node) {
      return FindDeviceHolders(PosixSyscalls::Real(), "/proc", node, static_cast<int>(::getpid()));
    };
    s.set_rate = [](int fd, std::uint32_t rate) { return SetTermios2Rate(fd, rate); };
    s.get_rate = [](int fd) { return GetTermios2Rate(fd); };
    return s;
  }();
  return real;
}

DevError TranslateErrno(int err, PosixOp op) {
  if (err == 0) return 0;
  if (op == PosixOp::kLock && (err == EWOULDBLOCK || err == EAGAIN)) return EBUSY;
  if (err == EAGAIN) return EIO;
  return err;
}

bool IsUnsupportedIoctl(int err) {
  return err == ENOTTY || err == EINVAL;
}

bool IsPseudoTerminalSlave(std::uint64_t rdev) {
  const unsigned int m = major(static_cast<dev_t>(rdev));
  return m >= 136 && m <= 143;  // UNIX98_PTY_SLAVE_MAJOR and its seven followers
}

int PseudoTerminalIndex(std::uint64_t rdev) {
  if (!IsPseudoTerminalSlave(rdev)) return -1;
  const dev_t d = static_cast<dev_t>(rdev);
  return static_cast<int>((major(d) - 136) * 256 + minor(d));
}

// ---------------------------------------------------------------------------
// Port names.

std::string VirtualPortsDirectory() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/ornat/ports";
  return "/tmp/ornat-" + std::to_string(::getuid()) + "/ports";
}

namespace {

// What a port name opens: a path, and for a registered virtual port its name and the
// link's text, so that the open can check that the registration still lives.
struct PortTarget {
  std::string path;
  std::string registered;  // empty: not a virtual port
  std::string link_text;
};

PortTarget ResolvePort(const std::string& name) {
  if (name.find('/') != std::string::npos) return {name, {}, {}};
  const std::string dir = VirtualPortsDirectory();
  // A live registration opens its pty. A stale one (its provider gone, whatever its
  // pty has become since) is skipped: the name then means /dev/<name>.
  if (std::optional<std::string> text = LiveVirtualPort(dir, name)) {
    char resolved[PATH_MAX];
    if (::realpath((dir + "/" + name).c_str(), resolved) != nullptr) return {resolved, name, *text};
  }
  return {"/dev/" + name, {}, {}};
}

}  // namespace

std::string ResolvePortPath(const std::string& name) {
  return ResolvePort(name).path;
}

// ---------------------------------------------------------------------------
// The device.

namespace {

using Clock = std::chrono::steady_clock;

// Modem/counter polling period while the event mask asks for line changes on a
// device that has them (no poll()-able notification exists for those).
constexpr auto kLinePollPeriod = std::chrono::milliseconds(20);
// While bytes stay unread in the queue, new arrivals cannot be seen through POLLIN
// (it is level-triggered); the queue count is checked at this period instead.
constexpr auto kQueuedPollPeriod = std::chrono::milliseconds(10);

class PosixStopSignal : public CommStopSignal {
 public:
  PosixStopSignal(const PosixSyscalls& sys, int fd) : sys_(sys), fd_(fd) {}
  ~PosixStopSignal() override {
    if (fd_ >= 0) sys_.close(fd_);
  }
  void Set() override {
    set_.store(true, std::memory_order_release);
    if (fd_ >= 0) {
      std::uint64_t one = 1;
      // An eventfd write of 1 cannot block short of 2^64-2 pending increments.
      (void)sys_.write(fd_, &one, sizeof one);
    }
  }
  bool IsSet() const override { return set_.load(std::memory_order_acquire); }
  int fd() const { return fd_; }

 private:
  const PosixSyscalls& sys_;
  int fd_;
  std::atomic<bool> set_{false};
};

long long NanosUntil(Clock::time_point deadline) {
  auto d = deadline - Clock::now();
  if (d <= Clock::duration::zero()) return 0;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

}  // namespace

struct PosixCommDevice::Impl {
  explicit Impl(const PosixSyscalls& s) : sys(s), watch(s) {}

  // One pending call that uses the descriptor (a transfer, the IoRequest, or an
  // event wait): its own eventfd, which a purge with abort (transfers) or Close (all)
  // writes to. Close waits until every registered call has left before it closes
  // the descriptor, so no call ever uses a closed (or reused) descriptor number.
  enum class Kind { kRead, kWrite, kWait };
  struct Pending {
    int efd = -1;
    Kind kind = Kind::kRead;
    int fd = -1;  // the descriptor, valid while registered
  };

  const PosixSyscalls& sys;
  // Who opens the node between our opens; used by Open alone (one thread at a time).
  PosixOpenWatch watch;
  mutable std::mutex mu;  // guards everything below that is not atomic
  int fd = -1;
  std::string path;
  bool exclusive_set = false;               // this device set TIOCEXCL on the open tty
  std::vector<PortHolder> holders_at_open;  // found by the last Open that failed
  CommTimeouts timeouts;
  LineSettings line;
  bool have_line = false;
  int input_size = 1024;
  std::uint32_t event_mask = 0;
  bool modem_supported = false;
  bool icount_supported = false;
  struct serial_icounter_struct err_icount {};   // snapshot for ClearError
  struct serial_icounter_struct wait_icount {};  // snapshot for the event wait
  int last_modem = 0;                            // TIOCM_* at the last wait
  std::list<Pending*> pending;
  std::condition_variable pending_left;  // signalled when a registered call leaves
  int wake_efd = -1;                     // pokes a waiting WaitEvent (a write started: EV_TXEMPTY)

  std::atomic<bool> hung_up{false};
  std::atomic<bool> tx_pending{false};     // written since the last EV_TXEMPTY
  std::atomic<std::uint64_t> consumed{0};  // bytes taken from the queue by Read/purge
  std::uint64_t reported_total = 0;        // received total at the last EV_RXCHAR
  bool rx80_reported = false;

  // --- helpers ---------------------------------------------------------------
  int Fd() const {
    std::lock_guard<std::mutex> lock(mu);
    return fd;
  }

  // Retries a call on EINTR; returns its result with errno left set.
  template <typename F>
  static auto Retry(F f) {
    for (;;) {
      auto r = f();
      if (!(r < 0 && errno == EINTR)) return r;
    }
  }

  int QueueCount(int f, int& count) const {
    int q = 0;
    if (Retry([&] { return sys.ioctl(f, FIONREAD, &q); }) != 0) return errno;
    count = q;
    return 0;
  }

  // Registers a call; error EBADF when the device is closed (or closing).
  std::unique_ptr<Pending> Register(Kind kind, DevError& error) {
    auto p = std::make_unique<Pending>();
    p->kind = kind;
    p->efd = sys.eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (p->efd < 0) {
      error = TranslateErrno(errno, PosixOp::kRead);
      return nullptr;
    }
    std::lock_guard<std::mutex> lock(mu);
    if (fd < 0) {
      sys.close(p->efd);
      error = EBADF;
      return nullptr;
    }
    p->fd = fd;
    pending.push_back(p.get());
    error = 0;
    return p;
  }
  void Unregister(std::unique_ptr<Pending>& p) {
    if (!p) return;
    {
      std::lock_guard<std::mutex> lock(mu);
      pending.remove(p.get());
    }
    pending_left.notify_all();
    sys.close(p->efd);
    p.reset();
  }
  // Unregisters at the end of a scope.
  struct Registration {
    Impl& d;
    std::unique_ptr<Pending> p;
    ~Registration() { d.Unregister(p); }
  };

  void Poke(int efd) const {
    if (efd < 0) return;
    std::uint64_t one = 1;
    (void)sys.write(efd, &one, sizeof one);
  }
  void Drain(int efd) const {
    std::uint64_t v;
    (void)sys.read(efd, &v, sizeof v);
  }

  bool ReadIcount(int f, struct serial_icounter_struct& ic) const {
    return Retry([&] { return sys.ioctl(f, TIOCGICOUNT, &ic); }) == 0;
  }
};

PosixCommDevice::PosixCommDevice(const PosixSyscalls& sys) : impl_(std::make_unique<Impl>(sys)) {}

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

DevError PosixCommDevice::Open(const std::string& port) {
  Impl& d = *impl_;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.holders_at_open.clear();
  }
  if (IsOpen()) return EBUSY;
  const PortTarget target = ResolvePort(port);
  const std::string& path = target.path;
  // A failed open keeps nothing, the watch's descriptor included: the next open sets
  // it again and looks anyway.
  struct DropWatchUnlessOpen {
    PosixOpenWatch& watch;
    bool opened = false;
    ~DropWatchUnlessOpen() {
      if (!opened) watch.Reset();
    }
  } keep{d.watch};
  // The node as the kernel names it in other processes' descriptor links, whatever
  // name the user gave (a /dev/serial/by-id link, socat's link to its pty).
  std::string node;
  if (d.sys.realpath(path.c_str(), node) == 0) {
    d.watch.Prepare(node);  // before the open: no opener slips between watch and look
  } else {
    node = path;
    d.watch.Reset();  // nothing to watch: the look runs
  }
  auto look = [&](std::uint64_t rdev) {
    return d.sys.holders(DeviceNode{node, PseudoTerminalIndex(rdev)});
  };
  // Who has a port that turned out to be in use, for the message that says so.
  auto note_holders = [&](std::vector<PortHolder> found) {
    std::lock_guard<std::mutex> lock(d.mu);
    d.holders_at_open = std::move(found);
  };
  int f = Impl::Retry(
      [&] { return d.sys.open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (f < 0) {
    const int err = errno;
    struct stat st {};
    // Refused by the TIOCEXCL of a program that has it open.
    if (err == EBUSY && d.sys.stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
      note_holders(look(st.st_rdev));
    return TranslateErrno(err, PosixOp::kOpen);
  }
  d.watch.CountOwnOpen();
  bool exclusive_set = false;
  auto fail = [&](int err, PosixOp op) {
    // Left set, the flag would refuse others as long as the tty stays open elsewhere.
    if (exclusive_set) d.sys.ioctl(f, TIOCNXCL, nullptr);
    d.sys.close(f);
    return TranslateErrno(err, op);
  };
  struct stat st {};
  if (Impl::Retry([&] { return d.sys.fstat(f, &st); }) != 0) return fail(errno, PosixOp::kOpen);
  // A virtual port's provider may have ended between the name's resolution and the
  // open, and its pty number gone to another provider: what we opened is that other
  // provider's unless the registration still stands (while we hold the pty, its
  // number cannot go to anyone else).
  if (!target.registered.empty()) {
    const std::optional<std::string> still =
        LiveVirtualPort(VirtualPortsDirectory(), target.registered);
    if (!still || *still != target.link_text) return fail(ENOENT, PosixOp::kOpen);
  }
  // Exclusive access, in this order (see the header): TIOCEXCL refuses the later
  // opens of ordinary users, flock those of another ornat (root included); then
  // whoever had it open before is looked for. A pty slave gets no TIOCEXCL: it would
  // outlive a holder that is killed.
  if (!IsPseudoTerminalSlave(st.st_rdev)) {
    int already = 0;  // set by a holder that root's open went past, or left by one
    if (Impl::Retry([&] { return d.sys.ioctl(f, TIOCGEXCL, &already); }) != 0) already = 0;
    if (Impl::Retry([&] { return d.sys.ioctl(f, TIOCEXCL, nullptr); }) != 0)
      return fail(errno, PosixOp::kOpen);  // ENOTTY: not a terminal device
    exclusive_set = already == 0;
  }
  if (Impl::Retry([&] { return d.sys.flock(f, LOCK_EX | LOCK_NB); }) != 0) {
    const int err = errno;
    if (TranslateErrno(err, PosixOp::kLock) == EBUSY) note_holders(look(st.st_rdev));
    return fail(err, PosixOp::kLock);
  }
  // A program that takes no lock (cat, a modem manager, a terminal program) would
  // otherwise share the line and take the answers. Looked for when the kernel has
  // reported an open of the node since the last look found nobody, or cannot tell.
  if (d.watch.LookNeeded(static_cast<std::uint64_t>(st.st_dev),
                         static_cast<std::uint64_t>(st.st_ino))) {
    if (std::vector<PortHolder> found = look(st.st_rdev); !found.empty()) {
      note_holders(std::move(found));
      return fail(EBUSY, PosixOp::kOpen);
    }
    d.watch.LookFoundNobody();
  }
  // Raw mode, receiver on, modem control lines ignored for open/read; VMIN=1/VTIME=0
  // (the descriptor is non-blocking; all timing is done around poll()).
  struct termios t {};
  if (Impl::Retry([&] { return d.sys.tcgetattr(f, &t); }) != 0) return fail(errno, PosixOp::kOpen);
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | HUPCL);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (Impl::Retry([&] { return d.sys.tcsetattr(f, &t); }) != 0) return fail(errno, PosixOp::kOpen);
  // Whatever the line brought before we opened is not ours.
  Impl::Retry([&] { return d.sys.tcflush(f, TCIFLUSH); });
  int wake = d.sys.eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) return fail(errno, PosixOp::kOpen);

  // What this device has: a pty has neither modem lines nor error counters.
  int modem = 0;
  bool modem_ok = Impl::Retry([&] { return d.sys.ioctl(f, TIOCMGET, &modem); }) == 0;
  struct serial_icounter_struct ic {};
  bool icount_ok = d.ReadIcount(f, ic);

  std::lock_guard<std::mutex> lock(d.mu);
  d.fd = f;
  d.wake_efd = wake;
  d.path = path;
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
  keep.opened = true;
  return 0;
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
    for (auto* p : d.pending) d.Poke(p->efd);
    d.pending_left.wait(lock, [&] { return d.pending.empty(); });
  }
  // Output that cannot drain (flow control, a dead adapter) would hold close() for
  // up to 30 s: drop it first.
  Impl::Retry([&] { return d.sys.tcflush(f, TCOFLUSH); });
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

DevError PosixCommDevice::SetupQueues(int input_size, int /*output_size*/) {
  // The kernel's queues have fixed sizes; the input size only scales EV_RX80FULL.
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (d.fd < 0) return EBADF;
  d.input_size = input_size;
  return 0;
}

DevError PosixCommDevice::SetLineSettings(const LineSettings& s) {
  Impl& d = *impl_;
  const int f = d.Fd();
  if (f < 0) return EBADF;
  if (s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > 4 || s.StopBits > 2 || s.BaudRate == 0)
    return EINVAL;
  struct termios old {};
  if (Impl::Retry([&] { return d.sys.tcgetattr(f, &old); }) != 0)
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
  if (Impl::Retry([&] { return d.sys.tcsetattr(f, &t); }) != 0) {
    const int e = errno;
    Impl::Retry([&] { return d.sys.tcsetattr(f, &old); });
    return TranslateErrno(e, PosixOp::kSettings);
  }
  if (int e = d.sys.set_rate(f, s.BaudRate); e != 0) {
    Impl::Retry([&] { return d.sys.tcsetattr(f, &old); });  // all or nothing
    return TranslateErrno(e, PosixOp::kSettings);
  }
  // DTR and RTS as levels (handshake modes: DTR held on, RTS driven by CRTSCTS;
  // RTS toggle, which needs RS-485 support, is held off). A pty has no lines.
  int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  auto line = [&](bool on, int* bit) {
    if (Impl::Retry([&] { return d.sys.ioctl(f, on ? TIOCMBIS : TIOCMBIC, bit); }) != 0 &&
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
  d.Poke(wake);  // a waiting WaitEvent re-reads the mask
  return 0;
}

std::unique_ptr<CommStopSignal> PosixCommDevice::CreateStopSignal() {
  int efd = impl_->sys.eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Without an eventfd (out of descriptors) the signal still sets its flag; the
  // wait then sees it at its next wake-up.
  return std::make_unique<PosixStopSignal>(impl_->sys, efd);
}

WaitResult PosixCommDevice::WaitEvent(CommStopSignal& stop_base) {
  Impl& d = *impl_;
  auto& stop = static_cast<PosixStopSignal&>(stop_base);
  int empty_wakes = 0;  // POLLIN with nothing queued: a dead line must not spin
  auto backoff = std::chrono::milliseconds(1);
  if (stop.IsSet()) return {WaitOutcome::kStopped, 0, 0};
  DevError reg_error = 0;
  Impl::Registration reg{d, d.Register(Impl::Kind::kWait, reg_error)};
  if (!reg.p) return {WaitOutcome::kFailed, 0, reg_error};
  const int closing_efd = reg.p->efd;  // written by Close
  for (;;) {
    if (stop.IsSet()) return {WaitOutcome::kStopped, 0, 0};
    if (d.hung_up.load()) return {WaitOutcome::kFailed, 0, EIO};
    int f, wake;
    std::uint32_t mask;
    bool modem_ok, icount_ok;
    int input_size;
    {
      std::lock_guard<std::mutex> lock(d.mu);
      f = d.fd < 0 ? -1 : reg.p->fd;
      wake = d.wake_efd;
      mask = d.event_mask;
      modem_ok = d.modem_supported;
      icount_ok = d.icount_supported;
      input_size = d.input_size;
    }
    if (f < 0) return {WaitOutcome::kFailed, 0, EBADF};
    if (mask == 0) return {WaitOutcome::kFailed, 0, EINVAL};

    // --- what happened since the last report --------------------------------
    std::uint32_t events = 0;
    // consumed first, then the queue: a read running in between can only make the
    // total look smaller for a moment (a later look sees it), never larger (which
    // would swallow the next arrival).
    const std::uint64_t consumed = d.consumed.load();
    int q = 0;
    if (int e = d.QueueCount(f, q); e != 0) {
      d.hung_up.store(true);  // FIONREAD fails with EIO on a hung-up tty
      return {WaitOutcome::kFailed, 0, e == EIO ? EIO : TranslateErrno(e, PosixOp::kWait)};
    }
    const std::uint64_t total = consumed + static_cast<std::uint64_t>(q);
    {
      std::lock_guard<std::mutex> lock(d.mu);
      // EV_RXCHAR once per arrival (as WaitCommEvent): bytes that stay queued are
      // not reported again.
      if (total > d.reported_total) {
        if (mask & EV_RXCHAR) events |= EV_RXCHAR;
        d.reported_total = total;
      }
      const bool full = input_size > 0 && static_cast<long long>(q) * 5 >= 4LL * input_size;
      if (full && !d.rx80_reported && (mask & EV_RX80FULL)) events |= EV_RX80FULL;
      d.rx80_reported = full;
    }
    if ((mask & EV_TXEMPTY) && d.tx_pending.load()) {
      int outq = 0;
      if (Impl::Retry([&] { return d.sys.ioctl(f, TIOCOUTQ, &outq); }) != 0) outq = 0;
      if (outq == 0) {
        d.tx_pending.store(false);
        events |= EV_TXEMPTY;
      }
    }
    const bool want_lines = modem_ok && (mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING));
    if (want_lines) {
      int m = 0;
      if (Impl::Retry([&] { return d.sys.ioctl(f, TIOCMGET, &m); }) == 0) {
        std::lock_guard<std::mutex> lock(d.mu);
        int changed = m ^ d.last_modem;
        if ((changed & TIOCM_CTS) && (mask & EV_CTS)) events |= EV_CTS;
        if ((changed & TIOCM_DSR) && (mask & EV_DSR)) events |= EV_DSR;
        if ((changed & TIOCM_CD) && (mask & EV_RLSD)) events |= EV_RLSD;
        if ((changed & TIOCM_RNG) && (m & TIOCM_RNG) && (mask & EV_RING)) events |= EV_RING;
        d.last_modem = m;
      } else if (errno == EIO) {
        d.hung_up.store(true);
        return {WaitOutcome::kFailed, 0, EIO};
      }
    }
    const bool want_counts = icount_ok && (mask & (EV_ERR | EV_BREAK));
    if (want_counts) {
      struct serial_icounter_struct ic {};
      if (d.ReadIcount(f, ic)) {
        std::lock_guard<std::mutex> lock(d.mu);
        auto& o = d.wait_icount;
        if (ic.brk != o.brk && (mask & EV_BREAK)) events |= EV_BREAK;
        if ((ic.frame != o.frame || ic.overrun != o.overrun || ic.parity != o.parity ||
             ic.buf_overrun != o.buf_overrun) &&
            (mask & EV_ERR))
          events |= EV_ERR;
        o = ic;
      }
    }
    if (events != 0) return {WaitOutcome::kEvents, events, 0};

    // --- sleep until something can have changed ------------------------------
    struct pollfd fds[4];
    nfds_t n = 0;
    fds[n++] = {stop.fd(), POLLIN, 0};
    if (wake >= 0) fds[n++] = {wake, POLLIN, 0};
    const nfds_t closing_index = n;
    fds[n++] = {closing_efd, POLLIN, 0};
    const nfds_t dev_index = n;
    // POLLIN only while the queue is empty (level-triggered); POLLHUP/POLLERR are
    // reported whatever is asked.
    fds[n++] = {f, static_cast<short>(q == 0 ? POLLIN : 0), 0};
    long long timeout_ns = -1;
    auto shorten = [&](std::chrono::nanoseconds p) {
      if (timeout_ns < 0 || p.count() < timeout_ns) timeout_ns = p.count();
    };
    if (q > 0) shorten(kQueuedPollPeriod);
    if (want_lines || want_counts) shorten(kLinePollPeriod);
    if ((mask & EV_TXEMPTY) && d.tx_pending.load()) {
      shorten(backoff);  // 1, 2, 4 ... 64 ms: output that does not drain costs little
      backoff = std::min(backoff * 2, std::chrono::milliseconds(64));
    }
    if (stop.fd() < 0 && timeout_ns < 0) timeout_ns = 100'000'000;  // no eventfd: look again
    int r = d.sys.poll(fds, n, timeout_ns);
    if (r < 0) {
      if (errno == EINTR) continue;
      return {WaitOutcome::kFailed, 0, TranslateErrno(errno, PosixOp::kWait)};
    }
    if (fds[closing_index].revents & POLLIN) return {WaitOutcome::kFailed, 0, EBADF};
    if (wake >= 0 && (fds[1].revents & POLLIN)) d.Drain(wake);
    const short rev = fds[dev_index].revents;
    if (rev & (POLLHUP | POLLERR | POLLNVAL)) {
      d.hung_up.store(true);
      return {WaitOutcome::kFailed, 0, EIO};
    }
    if (rev & POLLIN) {
      int now_q = 0;
      if (d.QueueCount(f, now_q) == 0 && now_q == 0) {
        // Readable with nothing to read is end-of-file (read() would give 0): a
        // hang-up that was not flagged as POLLHUP. Allow a couple of races, no more.
        if (++empty_wakes >= 3) {
          d.hung_up.store(true);
          return {WaitOutcome::kFailed, 0, EIO};
        }
      } else {
        empty_wakes = 0;
      }
    }
  }
}

IoResult PosixCommDevice::Read(void* buffer, int count) {
  Impl& d = *impl_;
  int f;
  CommTimeouts to;
  bool discard_null;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    f = d.fd;
    to = d.timeouts;
    discard_null = d.have_line && d.line.fNull;
  }
  if (f < 0) return {EBADF, 0};
  if (count <= 0) return {0, 0};
  DevError reg_error = 0;
  Impl::Registration reg{d, d.Register(Impl::Kind::kRead, reg_error)};
  if (!reg.p) return {reg_error, 0};
  Impl::Pending* req = reg.p.get();
  f = req->fd;

  // The Win32 timeout rules (COMMTIMEOUTS):
  //  - interval MAXDWORD, both totals 0: return at once with what is queued;
  //  - interval MAXDWORD, multiplier MAXDWORD, 0 < constant < MAXDWORD: return at
  //    once if something is queued, else with the first byte(s) or after constant;
  //  - otherwise: the total limit is multiplier * count + constant (both 0: none),
  //    and, once a byte came, the read ends when interval ms pass without another
  //    (interval 0: no interval limit).
  const std::uint32_t I = to.ReadIntervalTimeout, M = to.ReadTotalTimeoutMultiplier,
                      C = to.ReadTotalTimeoutConstant;
  const bool return_queued = I == kMaxDword && M == 0 && C == 0;
  const bool first_bytes = I == kMaxDword && M == kMaxDword && C != 0 && C != kMaxDword;
  const auto start = Clock::now();
  std::optional<Clock::time_point> total_deadline;
  std::optional<std::chrono::milliseconds> interval;
  if (first_bytes) {
    total_deadline = start + std::chrono::milliseconds(C);
  } else if (!return_queued) {
    const std::uint64_t total_ms =
        static_cast<std::uint64_t>(M) * static_cast<std::uint64_t>(count) + C;
    if (M != 0 || C != 0) total_deadline = start + std::chrono::milliseconds(total_ms);
    if (I != 0 && I != kMaxDword) interval = std::chrono::milliseconds(I);
  }

  auto* out = static_cast<std::uint8_t*>(buffer);
  int got = 0;
  Clock::time_point last_byte{};
  bool hung = false;
  for (;;) {
    long n = Impl::Retry(
        [&] { return d.sys.read(f, out + got, static_cast<unsigned long>(count - got)); });
    if (n > 0) {
      int kept = static_cast<int>(n);
      if (discard_null) {  // fNull: received null bytes are dropped
        int w = got;
        for (int i = got; i < got + static_cast<int>(n); ++i)
          if (out[i] != 0) out[w++] = out[i];
        kept = w - got;
      }
      got += kept;
      if (kept > 0) last_byte = Clock::now();
      d.consumed.fetch_add(static_cast<std::uint64_t>(n));
      if (got >= count) break;
      continue;  // take what else is there before waiting
    }
    if (n == 0) {  // end of file: the other side is gone
      hung = true;
      break;
    }
    if (errno == EIO) {
      hung = true;
      break;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {TranslateErrno(errno, PosixOp::kRead), 0};
    // Nothing queued right now.
    if (return_queued) break;
    if (first_bytes && got > 0) break;
    std::optional<Clock::time_point> deadline = total_deadline;
    if (interval && got > 0) {
      auto by_interval = last_byte + *interval;
      if (!deadline || by_interval < *deadline) deadline = by_interval;
    }
    if (deadline && Clock::now() >= *deadline) break;
    struct pollfd fds[2] = {{f, POLLIN, 0}, {req->efd, POLLIN, 0}};
    int r = d.sys.poll(fds, 2, deadline ? NanosUntil(*deadline) : -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return {TranslateErrno(errno, PosixOp::kRead), 0};
    }
    if (fds[1].revents & POLLIN) return {ECANCELED, 0};  // PURGE_RXABORT (or Close)
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Take what is still queued, then report the hang-up.
      if (!(fds[0].revents & POLLIN)) {
        hung = true;
        break;
      }
    }
  }
  if (hung) {
    d.hung_up.store(true);
    if (got == 0) return {EIO, 0};
  }
  return {0, got};
}

IoResult PosixCommDevice::Write(const void* buffer, int count) {
  Impl& d = *impl_;
  int f, wake;
  CommTimeouts to;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    f = d.fd;
    wake = d.wake_efd;
    to = d.timeouts;
  }
  if (f < 0) return {EBADF, 0};
  if (count <= 0) return {0, 0};
  DevError reg_error = 0;
  Impl::Registration reg{d, d.Register(Impl::Kind::kWrite, reg_error)};
  if (!reg.p) return {reg_error, 0};
  Impl::Pending* req = reg.p.get();
  f = req->fd;

  const std::uint32_t M = to.WriteTotalTimeoutMultiplier, C = to.WriteTotalTimeoutConstant;
  std::optional<Clock::time_point> deadline;
  if (M != 0 || C != 0)
    deadline = Clock::now() + std::chrono::milliseconds(static_cast<std::uint64_t>(M) * count + C);
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  int sent = 0;
  IoResult result{0, 0};
  for (;;) {
    long n = Impl::Retry(
        [&] { return d.sys.write(f, in + sent, static_cast<unsigned long>(count - sent)); });
    if (n > 0) {
      sent += static_cast<int>(n);
      if (sent >= count) break;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (errno == EIO) d.hung_up.store(true);
      result.error = TranslateErrno(errno, PosixOp::kWrite);
      break;
    }
    if (deadline && Clock::now() >= *deadline) break;  // out of time: no error
    struct pollfd fds[2] = {{f, POLLOUT, 0}, {req->efd, POLLIN, 0}};
    int r = d.sys.poll(fds, 2, deadline ? NanosUntil(*deadline) : -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      result.error = TranslateErrno(errno, PosixOp::kWrite);
      break;
    }
    if (fds[1].revents & POLLIN) {
      result.error = ECANCELED;  // PURGE_TXABORT
      break;
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLOUT)) {
      d.hung_up.store(true);
      result.error = EIO;
      break;
    }
  }
  if (sent > 0) {
    d.tx_pending.store(true);
    d.Poke(wake);  // a waiting WaitEvent starts watching for EV_TXEMPTY
  }
  if (result.error != 0) return result;
  return {0, sent};
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
  if (Impl::Retry([&] { return d.sys.ioctl(f, TIOCMGET, &m); }) != 0) {
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
    for (auto* p : d.pending) {
      if ((p->kind == Impl::Kind::kRead && (flags & PURGE_RXABORT)) ||
          (p->kind == Impl::Kind::kWrite && (flags & PURGE_TXABORT)))
        d.Poke(p->efd);
    }
  }
  if (flags & PURGE_RXCLEAR) {
    int q = 0;
    if (d.QueueCount(f, q) == 0) d.consumed.fetch_add(static_cast<std::uint64_t>(q));
    if (Impl::Retry([&] { return d.sys.tcflush(f, TCIFLUSH); }) != 0 && errno != EIO)
      return TranslateErrno(errno, PosixOp::kPurge);
  }
  if (flags & PURGE_TXCLEAR) {
    if (Impl::Retry([&] { return d.sys.tcflush(f, TCOFLUSH); }) != 0 && errno != EIO)
      return TranslateErrno(errno, PosixOp::kPurge);
    d.tx_pending.store(false);
  }
  return 0;
}

std::uint32_t PosixCommDevice::QueryDeviceBaudRate() const {
  const int f = impl_->Fd();
  if (f < 0) return 0;
  return impl_->sys.get_rate(f);
}

}  // namespace ornat
