// PosixCommDevice through its system-call seam: EINTR, EAGAIN and EIO paths, errno
// translation, the termios codes of the line settings, and waits that do not spin.
// A pty gives the device a real descriptor; the seam wraps the real calls.

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/platform/port_holders.h"
#include "serial/platform/posix_comm_device.h"
#include "support/basic_form.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class PosixDeviceTest : public ::testing::Test {
 protected:
  PosixDeviceTest() : sys(PosixSyscalls::Real()) {
    char name[128] = {};
    int slave = -1;
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) std::abort();
    ::close(slave);
    path = name;
  }
  ~PosixDeviceTest() override {
    if (master >= 0) ::close(master);
  }
  void MasterWrite(const std::vector<std::uint8_t>& b) {
    ASSERT_EQ(::write(master, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }
  // ComPort1's timeouts: interval 150, no totals.
  static CommTimeouts Interval150() { return CommTimeouts{150, 0, 0, 100, 1000}; }

  PosixSyscalls sys;   // copied from the real calls; a test overrides some
  HolderLook holders;  // empty: the look through /proc
  int master = -1;
  std::string path;
};

// A system call that fails with `err`.
template <typename R = int>
auto FailWith(int err) {
  return [err](auto&&...) -> R {
    errno = err;
    return -1;
  };
}

// The steps of Open and Close on the device's descriptor, by name, in order.
struct StepLog {
  std::vector<std::string> steps;
  int device_fd = -1;

  void Hook(PosixSyscalls& sys, const std::string& path, std::uint64_t rdev_seen) {
    sys.open = [this, path](const char* p, int flags) {
      const int fd = ::open(p, flags);
      if (p == path) device_fd = fd;
      return fd;
    };
    sys.fstat = [rdev_seen](int fd, struct stat* st) {
      const int r = ::fstat(fd, st);
      if (r == 0 && rdev_seen != 0) st->st_rdev = rdev_seen;
      return r;
    };
    sys.ioctl = [this](int fd, unsigned long req, void* arg) {
      if (fd == device_fd) {
        if (req == TIOCGEXCL) steps.push_back("TIOCGEXCL");
        if (req == TIOCEXCL) steps.push_back("TIOCEXCL");
        if (req == TIOCNXCL) steps.push_back("TIOCNXCL");
      }
      return ::ioctl(fd, req, arg);
    };
    sys.flock = [this](int fd, int op) {
      if (fd == device_fd) steps.push_back(op == LOCK_UN ? "unlock" : "lock");
      return ::flock(fd, op);
    };
    sys.close = [this](int fd) {
      if (fd == device_fd) steps.push_back("close");
      return ::close(fd);
    };
  }
};

TEST(PosixErrno, TranslationIsOneTable) {
  EXPECT_EQ(TranslateErrno(0, PosixOp::kOpen), 0);
  EXPECT_EQ(TranslateErrno(ENOENT, PosixOp::kOpen), ENOENT);
  EXPECT_EQ(TranslateErrno(EACCES, PosixOp::kOpen), EACCES);
  EXPECT_EQ(TranslateErrno(EBUSY, PosixOp::kOpen), EBUSY);
  EXPECT_EQ(TranslateErrno(EWOULDBLOCK, PosixOp::kLock), EBUSY);
  EXPECT_EQ(TranslateErrno(EAGAIN, PosixOp::kRead), EIO);
  EXPECT_EQ(TranslateErrno(EIO, PosixOp::kRead), EIO);
  EXPECT_TRUE(IsUnsupportedIoctl(ENOTTY));
  EXPECT_TRUE(IsUnsupportedIoctl(EINVAL));
  EXPECT_FALSE(IsUnsupportedIoctl(EIO));
}

TEST(PosixPortNames, ABareNameIsADevFileAndANameWithASlashIsAPath) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old != nullptr ? old : "";
  ::setenv("XDG_RUNTIME_DIR", "/nonexistent-ornat-test", 1);
  EXPECT_EQ(ResolvePortPath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortPath("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(ResolvePortPath("./tty"), "./tty");
  EXPECT_EQ(VirtualPortsDirectory(), "/nonexistent-ornat-test/ornat/ports");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(VirtualPortsDirectory(), "/tmp/ornat-" + std::to_string(::getuid()) + "/ports");
  if (old != nullptr) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST_F(PosixDeviceTest, AMissingDeviceFailsWithEnoent) {
  PosixCommDevice dev(sys, holders);
  EXPECT_EQ(dev.Open("/dev/ttyORNAT-none"), ENOENT);
  EXPECT_FALSE(dev.IsOpen());
}

TEST_F(PosixDeviceTest, AHeldLockFailsTheOpenWithEbusyAndClosesTheDescriptor) {
  StepLog log;
  log.Hook(sys, path, 0);
  sys.flock = FailWith(EWOULDBLOCK);
  holders = [](const DeviceNode&) { return std::vector<PortHolder>{{812, "ornat"}}; };
  PosixCommDevice dev(sys, holders);
  EXPECT_EQ(dev.Open(path), EBUSY);
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(std::count(log.steps.begin(), log.steps.end(), "close"), 1);
  EXPECT_EQ(dev.HoldersAtLastOpen(), (std::vector<PortHolder>{{812, "ornat"}}));
}

// --- a port that another program holds ------------------------------------------

std::uint64_t DeviceNumber(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_rdev;
}

TEST(PosixDevices, OnlyThePtySlaveMajorsArePseudoTerminalSlaves) {
  struct Case {
    unsigned int major, minor;
    bool slave;
  } cases[] = {
      {136, 0, true},  {137, 4, true},  {143, 255, true},
      {135, 0, false}, {144, 0, false}, {4, 64, false},  // ttyS0
      {188, 0, false},                                   // ttyUSB0
      {166, 0, false},                                   // ttyACM0
      {5, 2, false},                                     // ptmx, the master side
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsPseudoTerminalSlave(makedev(c.major, c.minor)), c.slave)
        << c.major << ":" << c.minor;
}

TEST_F(PosixDeviceTest, TheTestsPtyIsAPseudoTerminalSlave) {
  EXPECT_TRUE(IsPseudoTerminalSlave(DeviceNumber(path)));
}

// What the look is asked for the test's pty: its path and its number.
DeviceNode PtyNode(const std::string& path) {
  return {path, PseudoTerminalIndex(DeviceNumber(path))};
}

TEST_F(PosixDeviceTest, AProgramFoundHoldingThePortFailsTheOpenWithEbusyAndIsNamed) {
  std::vector<PortHolder> holding = {{77, "cat"}, {4242, "minicom"}};
  std::vector<DeviceNode> asked;
  holders = [&](const DeviceNode& node) {
    asked.push_back(node);
    return holding;
  };
  StepLog log;
  log.Hook(sys, path, 0);
  PosixCommDevice dev(sys, holders);
  EXPECT_EQ(dev.Open(path), EBUSY);
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(std::count(log.steps.begin(), log.steps.end(), "close"), 1)
      << "the descriptor is given back";
  EXPECT_EQ(asked, std::vector<DeviceNode>{PtyNode(path)});
  EXPECT_EQ(dev.HoldersAtLastOpen(), holding);

  // They let go: the open goes through, and the last open has no holders to tell.
  holding.clear();
  ASSERT_EQ(dev.Open(path), 0);
  EXPECT_TRUE(dev.HoldersAtLastOpen().empty());
  dev.Close();
  // An open that fails for another reason names nobody.
  holding = {{77, "cat"}};
  EXPECT_EQ(dev.Open("/dev/ttyORNAT-none"), ENOENT);
  EXPECT_TRUE(dev.HoldersAtLastOpen().empty());
}

TEST_F(PosixDeviceTest, AnOpenRefusedByAnotherProgramsExclusiveUseNamesItsHolders) {
  std::vector<DeviceNode> asked;
  sys.open = FailWith(EBUSY);
  holders = [&](const DeviceNode& node) {
    asked.push_back(node);
    return std::vector<PortHolder>{{99, "screen"}};
  };
  PosixCommDevice dev(sys, holders);
  EXPECT_EQ(dev.Open(path), EBUSY);
  EXPECT_EQ(asked, std::vector<DeviceNode>{PtyNode(path)});
  EXPECT_EQ(dev.HoldersAtLastOpen(), (std::vector<PortHolder>{{99, "screen"}}));
}

TEST_F(PosixDeviceTest, OpenSetsExclusiveUseAndLocksBeforeItLooksForHoldersAndUndoesWhatItSet) {
  using Steps = std::vector<std::string>;
  const std::uint64_t usb = makedev(188, 0);  // ttyUSB0: a tty that dies with its last close
  struct Case {
    const char* what;
    std::uint64_t rdev;  // what fstat reports; 0: the pty's own
    bool flag_set_before;
    bool held;
    Steps open_steps;
    Steps close_steps;  // after a successful open
  };
  const Case cases[] = {
      {"a free adapter",
       usb,
       false,
       false,
       {"TIOCGEXCL", "TIOCEXCL", "lock", "holders"},
       {"TIOCNXCL", "unlock", "close"}},
      {"an adapter in use",
       usb,
       false,
       true,
       {"TIOCGEXCL", "TIOCEXCL", "lock", "holders", "TIOCNXCL", "close"},
       {}},
      // Root's open goes past a flag that a holder set: it is the holder's to clear.
      {"an adapter a holder made exclusive",
       usb,
       true,
       true,
       {"TIOCGEXCL", "TIOCEXCL", "lock", "holders", "close"},
       {}},
      {"an adapter left exclusive by a holder gone",
       usb,
       true,
       false,
       {"TIOCGEXCL", "TIOCEXCL", "lock", "holders"},
       {"unlock", "close"}},
      // A pty slave never gets the flag, so a holder killed cannot leave it behind.
      {"a free pty", 0, false, false, {"lock", "holders"}, {"unlock", "close"}},
      {"a pty in use", 0, false, true, {"lock", "holders", "close"}, {}},
  };
  // The other program's descriptor (in this process, which the look for holders
  // passes over; the holders here are scripted).
  const int other = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(other, 0);
  auto flag = [&] {
    int set = -1;
    EXPECT_EQ(::ioctl(other, TIOCGEXCL, &set), 0);
    return set;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.flag_set_before) {
      // Only root's open goes past the flag.
      if (::geteuid() != 0) continue;
      ASSERT_EQ(::ioctl(other, TIOCEXCL, nullptr), 0);
    }
    PosixSyscalls s = PosixSyscalls::Real();
    StepLog log;
    log.Hook(s, path, c.rdev);
    const HolderLook look = [&](const DeviceNode&) {
      log.steps.push_back("holders");
      return c.held ? std::vector<PortHolder>{{321, "cat"}} : std::vector<PortHolder>{};
    };
    PosixCommDevice dev(s, look);
    EXPECT_EQ(dev.Open(path), c.held ? EBUSY : 0);
    EXPECT_EQ(log.steps, c.open_steps);
    if (!c.held) {
      log.steps.clear();
      EXPECT_EQ(dev.Close(), 0);
      EXPECT_EQ(log.steps, c.close_steps);
    }
    EXPECT_EQ(flag(), c.flag_set_before ? 1 : 0) << "the flag is as the other program left it";
    ASSERT_EQ(::ioctl(other, TIOCNXCL, nullptr), 0);
  }
  ::close(other);
}

// A /proc of its own: <root>/<pid>/comm, and <root>/<pid>/fd/<n> links whose text is
// the path given, with <root>/<pid>/fdinfo/<n> where an fdinfo text is given.
class FakeProc {
 public:
  struct Fd {
    std::string text;
    std::string fdinfo;  // empty: no fdinfo file
  };
  // comm nullptr: no comm file. with_fd_folder false: no fd folder.
  void Process(const std::string& entry, const char* comm, const std::vector<Fd>& fds,
               bool with_fd_folder = true) {
    const std::string dir = root() + "/" + entry;
    std::filesystem::create_directories(dir);
    if (comm != nullptr) std::ofstream(dir + "/comm") << comm;
    if (!with_fd_folder) return;
    std::filesystem::create_directories(dir + "/fd");
    std::filesystem::create_directories(dir + "/fdinfo");
    for (std::size_t i = 0; i < fds.size(); ++i) {
      const std::string n = std::to_string(i + 3);
      std::filesystem::create_symlink(fds[i].text, dir + "/fd/" + n);
      if (!fds[i].fdinfo.empty()) std::ofstream(dir + "/fdinfo/" + n) << fds[i].fdinfo;
    }
  }
  void Process(const std::string& entry, const char* comm, const std::vector<std::string>& texts) {
    std::vector<Fd> fds;
    for (const std::string& t : texts) fds.push_back({t, ""});
    Process(entry, comm, fds);
  }
  const std::string& root() const { return dir_.path(); }

 private:
  testing::TempDir dir_;
};

// The fdinfo of a pty's master, as the kernel writes it.
std::string MasterFdinfo(int index) {
  return "pos:\t0\nflags:\t02100002\nmnt_id:\t24\nino:\t90\ntty-index:\t" + std::to_string(index) +
         "\n";
}

TEST_F(PosixDeviceTest, HoldersAreEveryOtherProcessWhoseDescriptorNamesTheNodeOnceEachByPid) {
  FakeProc proc;
  const DeviceNode node{"/dev/ttyUSB0", -1};
  proc.Process("300", "cat\n", std::vector<std::string>{node.path});
  proc.Process("12", "minicom\n", std::vector<std::string>{"/dev/null", node.path, node.path});
  proc.Process("77", "ornat\n", std::vector<std::string>{node.path});  // ourselves
  proc.Process("45", "other\n", std::vector<std::string>{"/dev/ttyUSB1"});
  proc.Process("46", "editor\n", std::vector<std::string>{"/home/u/notes.txt", "pipe:[4711]"});
  // The kernel's text of a node removed since (an adapter unplugged): not ours.
  proc.Process("47", "stale\n", std::vector<std::string>{"/dev/ttyUSB0 (deleted)"});
  // The name the user typed is never the link's text; only the node's own path is.
  proc.Process("48", "byid\n", std::vector<std::string>{"/dev/serial/by-id/usb-FTDI-if00"});
  proc.Process("50", "bad\x1b[1mname\n", std::vector<std::string>{node.path});
  proc.Process("51", nullptr, std::vector<std::string>{node.path});   // ended before its name
  proc.Process("52", "ghost\n", std::vector<FakeProc::Fd>{}, false);  // ended before its fds
  proc.Process("self", "self\n", std::vector<std::string>{node.path});
  proc.Process("4x", "odd\n", std::vector<std::string>{node.path});
  const std::vector<PortHolder> expected = {
      {12, "minicom"}, {50, "bad?[1mname"}, {51, ""}, {300, "cat"}};
  EXPECT_EQ(FindDeviceHolders(PosixSyscalls::Real(), proc.root(), node, 77), expected);
  EXPECT_EQ(FindDeviceHolders(PosixSyscalls::Real(), proc.root(), {"/dev/ttyUSB1", -1}, 77),
            (std::vector<PortHolder>{{45, "other"}}));
}

TEST(PosixHolders, AProcessThatAlsoHoldsThePtysMasterIsItsProviderNotAHolder) {
  const DeviceNode pty{"/dev/pts/5", 5};
  struct Case {
    const char* what;
    std::vector<FakeProc::Fd> fds;
    bool holder;
  } cases[] = {
      {"socat: master and slave of the same pty",
       {{"/dev/ptmx", MasterFdinfo(5)}, {"/dev/pts/5", ""}},
       false},
      {"the slave before the master", {{"/dev/pts/5", ""}, {"/dev/ptmx", MasterFdinfo(5)}}, false},
      {"the master opened through the devpts folder",
       {{"/dev/pts/ptmx", MasterFdinfo(5)}, {"/dev/pts/5", ""}},
       false},
      {"a socat pair: both masters, both slaves",
       {{"/dev/ptmx", MasterFdinfo(4)},
        {"/dev/pts/4", ""},
        {"/dev/ptmx", MasterFdinfo(5)},
        {"/dev/pts/5", ""}},
       false},
      {"the master of another pty", {{"/dev/ptmx", MasterFdinfo(6)}, {"/dev/pts/5", ""}}, true},
      {"cat: the slave alone", {{"/dev/pts/5", ""}}, true},
      {"a master whose fdinfo says no pty", {{"/dev/ptmx", "pos:\t0\n"}, {"/dev/pts/5", ""}}, true},
      {"a master whose fdinfo is gone", {{"/dev/ptmx", ""}, {"/dev/pts/5", ""}}, true},
      {"pty 15's master is not pty 5's",
       {{"/dev/ptmx", MasterFdinfo(15)}, {"/dev/pts/5", ""}},
       true},
      {"the provider alone, its slave closed", {{"/dev/ptmx", MasterFdinfo(5)}}, false},
      {"a file called ptmx elsewhere",
       {{"/home/u/ptmx", MasterFdinfo(5)}, {"/dev/pts/5", ""}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProc proc;
    proc.Process("400", "prog\n", c.fds);
    const std::vector<PortHolder> expected =
        c.holder ? std::vector<PortHolder>{{400, "prog"}} : std::vector<PortHolder>{};
    EXPECT_EQ(FindDeviceHolders(PosixSyscalls::Real(), proc.root(), pty, 1), expected);
  }
  // A device that is not a pty has no provider: a master's fdinfo is never asked for.
  FakeProc proc;
  proc.Process("400", "prog\n",
               std::vector<FakeProc::Fd>{{"/dev/ptmx", MasterFdinfo(0)}, {"/dev/ttyS0", ""}});
  EXPECT_EQ(FindDeviceHolders(PosixSyscalls::Real(), proc.root(), {"/dev/ttyS0", -1}, 1),
            (std::vector<PortHolder>{{400, "prog"}}));
}

TEST(PosixHolders, ThePtyNumberIsTheFdinfosTtyIndexLine) {
  struct Case {
    std::string fdinfo;
    int index;
  } cases[] = {
      {MasterFdinfo(0), 0},
      {MasterFdinfo(3), 3},
      {MasterFdinfo(1023), 1023},
      {"tty-index:\t7\n", 7},
      {"tty-index: 12\n", 12},
      {"pos:\t0\nflags:\t02\n", -1},
      {"", -1},
      {"x-tty-index:\t4\n", -1},  // another key that ends the same
      {"tty-index:\t\n", -1},
      {"tty-index:\t99999999999\n", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(TtyIndexOfFdinfo(c.fdinfo), c.index) << c.fdinfo;
  EXPECT_EQ(PseudoTerminalIndex(makedev(136, 5)), 5);
  EXPECT_EQ(PseudoTerminalIndex(makedev(137, 2)), 258);
  EXPECT_EQ(PseudoTerminalIndex(makedev(188, 0)), -1);  // ttyUSB0
  EXPECT_EQ(PseudoTerminalIndex(makedev(5, 2)), -1);    // ptmx
}

TEST_F(PosixDeviceTest, HoldersThatCannotBeLookedAtArePassedOverAndNeverFailTheLook) {
  FakeProc proc;
  proc.Process("300", "cat\n", std::vector<std::string>{path});
  proc.Process("400", "ModemManager\n", std::vector<std::string>{path});
  struct Case {
    const char* what;
    std::string refused;  // the folder whose listing fails with EACCES
    std::vector<PortHolder> expected;
  };
  const Case cases[] = {
      {"everything readable", "", {{300, "cat"}, {400, "ModemManager"}}},
      {"another user's process", proc.root() + "/400/fd", {{300, "cat"}}},
      {"no /proc at all", proc.root(), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PosixSyscalls s = PosixSyscalls::Real();
    // The listing of the refused folder fails, by names or by links.
    auto refusing = [&c](auto real) {
      return [&c, real](const char* dir, auto& out) {
        if (dir == c.refused) {
          errno = EACCES;
          return -1;
        }
        return real(dir, out);
      };
    };
    s.list_dir = refusing(s.list_dir);
    s.read_links = refusing(s.read_links);
    EXPECT_EQ(FindDeviceHolders(s, proc.root(), PtyNode(path), 1), c.expected);
  }
}

// Calls that would touch what another process holds: on a hung NFS or FUSE mount they
// never return. Here each one records its path and holds the caller for a while.
struct Tripwire {
  std::mutex mu;
  std::vector<std::string> touched;
  void Trip(const char* path) {
    {
      std::lock_guard<std::mutex> lock(mu);
      touched.emplace_back(path);
    }
    std::this_thread::sleep_for(200ms);
    errno = EIO;
  }
  // The seam with every call that could block on another process's file tripping:
  // any stat, and any open but of our own device and of the /proc files the look may
  // read (comm, fdinfo).
  PosixSyscalls Arm(const std::string& own_device) {
    PosixSyscalls s = PosixSyscalls::Real();
    s.stat = [this, own_device](const char* p, struct stat* st) {
      if (p == own_device) return ::stat(p, st);
      Trip(p);
      return -1;
    };
    s.open = [this, own_device](const char* p, int flags) {
      const std::string path = p;
      const bool proc_file =
          path.find("/comm") == path.size() - 5 || path.find("/fdinfo/") != std::string::npos;
      if (path == own_device || proc_file) return ::open(p, flags);
      Trip(p);
      return -1;
    };
    return s;
  }
};

TEST(PosixHolders, TheLookReadsLinkTextsAndNeverStatsNorOpensWhatOthersHold) {
  FakeProc proc;
  const DeviceNode node{"/dev/ttyUSB0", -1};
  // Files on a mount that no longer answers, and the port among them.
  proc.Process("300", "backup\n",
               std::vector<std::string>{"/mnt/nfs/archive.tar", "/run/user/1000/gvfs/share/x"});
  proc.Process("301", "picocom\n", std::vector<std::string>{"/mnt/nfs/log.txt", node.path});
  Tripwire wire;
  const PosixSyscalls s = wire.Arm(node.path);
  EXPECT_EQ(FindDeviceHolders(s, proc.root(), node, 1),
            (std::vector<PortHolder>{{301, "picocom"}}));
  EXPECT_TRUE(wire.touched.empty()) << wire.touched.front();
}

TEST_F(PosixDeviceTest, TwoDevicesCannotHoldOnePort) {
  PosixCommDevice a, b;
  ASSERT_EQ(a.Open(path), 0);
  EXPECT_EQ(b.Open(path), EBUSY);
  EXPECT_EQ(a.Open(path), EBUSY);  // an open device
  a.Close();
  EXPECT_EQ(b.Open(path), 0);
}

TEST_F(PosixDeviceTest, ReadRetriesEintrFromReadAndPoll) {
  std::atomic<int> read_eintr{0}, poll_eintr{1};
  sys.read = [&](int fd, void* buf, unsigned long n) -> long {
    if (read_eintr.fetch_sub(1) > 0) {
      errno = EINTR;
      return -1;
    }
    return ::read(fd, buf, n);
  };
  sys.poll = [&, real = sys.poll](pollfd* fds, unsigned long n, long long ns) {
    if (poll_eintr.fetch_sub(1) > 0) {
      errno = EINTR;
      return -1;
    }
    return real(fds, n, ns);
  };
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  read_eintr = 1;  // for the transfer's own read
  ASSERT_EQ(dev.SetTimeouts(Interval150()), 0);
  std::thread writer([&] {
    std::this_thread::sleep_for(20ms);
    MasterWrite({1, 2, 3});
  });
  std::uint8_t buf[8];
  IoResult r = dev.Read(buf, 8);
  writer.join();
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.count, 3);
  EXPECT_LE(read_eintr.load(), 0);
  EXPECT_LE(poll_eintr.load(), 0);
}

TEST_F(PosixDeviceTest, ReadWaitsInPollOnEagainInsteadOfSpinning) {
  std::atomic<int> reads{0}, polls{0};
  sys.read = [&](int fd, void* buf, unsigned long n) -> long {
    ++reads;
    return ::read(fd, buf, n);
  };
  sys.poll = [&, real = sys.poll](pollfd* fds, unsigned long n, long long ns) {
    ++polls;
    return real(fds, n, ns);
  };
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  reads = 0;  // the transfer's own
  ASSERT_EQ(dev.SetTimeouts(Interval150()), 0);
  std::thread writer([&] {
    std::this_thread::sleep_for(100ms);
    MasterWrite({7});
  });
  std::uint8_t buf[8];
  IoResult r = dev.Read(buf, 8);
  writer.join();
  EXPECT_EQ(r.count, 1);
  // One wait for the first byte, one for the interval after it: a handful of calls.
  EXPECT_LE(polls.load(), 4);
  EXPECT_LE(reads.load(), 6);
}

TEST_F(PosixDeviceTest, EioFromReadFailsTheReadAndThenTheEventWait) {
  sys.read = FailWith<long>(EIO);
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  ASSERT_EQ(dev.SetTimeouts(Interval150()), 0);
  std::uint8_t buf[8];
  IoResult r = dev.Read(buf, 8);
  EXPECT_EQ(r.error, EIO);
  ASSERT_EQ(dev.SetEventMask(EV_RXCHAR), 0);
  auto stop = dev.CreateStopSignal();
  WaitResult w = dev.WaitEvent(*stop);
  EXPECT_EQ(w.outcome, WaitOutcome::kFailed);
  EXPECT_EQ(w.error, EIO);
}

TEST_F(PosixDeviceTest, AnUnsupportedModemIoctlReadsAsAllLinesOff) {
  for (int err : {ENOTTY, EINVAL}) {
    SCOPED_TRACE(err);
    PosixSyscalls s = PosixSyscalls::Real();
    s.ioctl = [err](int fd, unsigned long req, void* arg) {
      if (req == TIOCMGET || req == TIOCGICOUNT) {
        errno = err;
        return -1;
      }
      return ::ioctl(fd, req, arg);
    };
    PosixCommDevice dev(s);
    ASSERT_EQ(dev.Open(path), 0);
    std::uint32_t status = 0xFF, errors = 0xFF, q = 0xFF;
    EXPECT_EQ(dev.GetModemStatus(status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(dev.ClearError(errors, q), 0);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(q, 0u);
    dev.Close();
  }
}

TEST_F(PosixDeviceTest, ModemLinesAndErrorCountersMapToTheWin32Flags) {
  std::atomic<int> modem{TIOCM_CTS | TIOCM_CD};
  std::atomic<int> frames{0};
  sys.ioctl = [&](int fd, unsigned long req, void* arg) {
    if (req == TIOCMGET) {
      *static_cast<int*>(arg) = modem.load();
      return 0;
    }
    if (req == TIOCGICOUNT) {
      auto* ic = static_cast<serial_icounter_struct*>(arg);
      *ic = {};
      ic->frame = frames.load();
      return 0;
    }
    if (req == TIOCMBIS || req == TIOCMBIC) return 0;
    return ::ioctl(fd, req, arg);
  };
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  std::uint32_t status = 0;
  ASSERT_EQ(dev.GetModemStatus(status), 0);
  EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON);
  std::uint32_t errors = 0, q = 0;
  frames = 2;
  ASSERT_EQ(dev.ClearError(errors, q), 0);
  EXPECT_EQ(errors, CE_FRAME);
  ASSERT_EQ(dev.ClearError(errors, q), 0);
  EXPECT_EQ(errors, 0u);  // the query cleared them

  // The event wait reports line changes it polls for.
  ASSERT_EQ(dev.SetEventMask(EV_CTS | EV_DSR | EV_ERR), 0);
  auto stop = dev.CreateStopSignal();
  std::thread changer([&] {
    std::this_thread::sleep_for(30ms);
    modem = TIOCM_CD | TIOCM_DSR;  // CTS off, DSR on
    frames = 3;
  });
  WaitResult w = dev.WaitEvent(*stop);
  changer.join();
  ASSERT_EQ(w.outcome, WaitOutcome::kEvents);
  // Both changes come in one or two batches.
  std::uint32_t seen = w.mask;
  if (seen != (EV_CTS | EV_DSR | EV_ERR)) seen |= dev.WaitEvent(*stop).mask;
  EXPECT_EQ(seen, EV_CTS | EV_DSR | EV_ERR);
}

TEST_F(PosixDeviceTest, LineSettingsBecomeTheTermiosCodes) {
  termios captured{};
  std::uint32_t rate = 0;
  sys.tcsetattr = [&](int, const termios* t) {
    captured = *t;
    return 0;
  };
  sys.set_speed = [&](int, std::uint32_t r) {
    rate = r;
    return 0;
  };
  sys.get_speed = [&](int, std::uint32_t& r) {
    r = rate;
    return 0;
  };
  sys.ioctl = [](int fd, unsigned long req, void* arg) {
    if (req == TIOCMBIS || req == TIOCMBIC) return 0;
    return ::ioctl(fd, req, arg);
  };
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  struct Case {
    std::uint8_t parity, size, stop;
    tcflag_t cflag;  // within CSIZE|CSTOPB|PARENB|PARODD|CMSPAR
  } cases[] = {
      {0, 8, 0, CS8},
      {1, 8, 0, CS8 | PARENB | PARODD},
      {2, 7, 0, CS7 | PARENB},
      {3, 6, 2, CS6 | CSTOPB | PARENB | PARODD | CMSPAR},
      {4, 5, 1, CS5 | CSTOPB | PARENB | CMSPAR},  // 1.5 stop bits: CSTOPB
  };
  for (const Case& c : cases) {
    LineSettings s;
    s.BaudRate = 14400;
    s.fBinary = true;
    s.Parity = c.parity;
    s.ByteSize = c.size;
    s.StopBits = c.stop;
    s.XonChar = 17;
    s.XoffChar = 19;
    ASSERT_EQ(dev.SetLineSettings(s), 0);
    EXPECT_EQ(captured.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR), c.cflag)
        << int(c.parity) << " " << int(c.size);
    EXPECT_TRUE(captured.c_cflag & CLOCAL);
    EXPECT_TRUE(captured.c_cflag & CREAD);
    EXPECT_EQ(rate, 14400u);
  }
  LineSettings bad;
  bad.BaudRate = 9600;
  bad.ByteSize = 9;
  EXPECT_EQ(dev.SetLineSettings(bad), EINVAL);
  bad.ByteSize = 8;
  bad.BaudRate = 0;
  EXPECT_EQ(dev.SetLineSettings(bad), EINVAL);
}

TEST_F(PosixDeviceTest, AFailedRateRestoresThePreviousAttributes) {
  int sets = 0;
  termios last{};
  sys.tcsetattr = [&](int, const termios* t) {
    ++sets;
    last = *t;
    return 0;
  };
  sys.set_speed = FailWith(EINVAL);
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(master, &before), 0);
  sets = 0;
  LineSettings s;
  s.BaudRate = 12345;
  s.ByteSize = 7;
  EXPECT_EQ(dev.SetLineSettings(s), EINVAL);
  EXPECT_EQ(sets, 2);  // the new attributes, then the old ones again
  EXPECT_EQ(last.c_cflag & CSIZE, before.c_cflag & CSIZE);
}

TEST_F(PosixDeviceTest, AnIdleEventWaitSleepsInOnePoll) {
  std::atomic<int> polls{0};
  sys.poll = [&, real = sys.poll](pollfd* fds, unsigned long n, long long ns) {
    ++polls;
    return real(fds, n, ns);
  };
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  ASSERT_EQ(dev.SetEventMask(0x05FF), 0);  // all ten events, as ComPort1
  auto stop = dev.CreateStopSignal();
  std::thread stopper([&] {
    std::this_thread::sleep_for(300ms);
    stop->Set();
  });
  auto t0 = Clock::now();
  WaitResult w = dev.WaitEvent(*stop);
  stopper.join();
  EXPECT_EQ(w.outcome, WaitOutcome::kStopped);
  EXPECT_GE(Clock::now() - t0, 290ms);
  EXPECT_LE(polls.load(), 2);  // a pty has no lines to poll: no timeout at all
}

TEST_F(PosixDeviceTest, PollFailureFailsTheWaitAndEintrDoesNot) {
  std::atomic<int> calls{0};
  sys.poll = [&](pollfd*, unsigned long, long long) {
    errno = calls.fetch_add(1) == 0 ? EINTR : ENOMEM;
    return -1;
  };
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(path), 0);
  ASSERT_EQ(dev.SetEventMask(EV_RXCHAR), 0);
  auto stop = dev.CreateStopSignal();
  WaitResult w = dev.WaitEvent(*stop);
  EXPECT_EQ(w.outcome, WaitOutcome::kFailed);
  EXPECT_EQ(w.error, ENOMEM);
  EXPECT_EQ(calls.load(), 2);
}

TEST_F(PosixDeviceTest, AnEmptyMaskFailsTheWait) {
  PosixCommDevice dev;
  ASSERT_EQ(dev.Open(path), 0);
  auto stop = dev.CreateStopSignal();
  EXPECT_EQ(dev.WaitEvent(*stop).outcome, WaitOutcome::kFailed);
}

TEST_F(PosixDeviceTest, ThePurgeAbortEndsAWaitingReadAtOnce) {
  PosixCommDevice dev;
  ASSERT_EQ(dev.Open(path), 0);
  ASSERT_EQ(dev.SetTimeouts(Interval150()), 0);
  std::thread aborter([&] {
    std::this_thread::sleep_for(50ms);
    dev.Purge(PURGE_RXABORT | PURGE_TXABORT);
  });
  std::uint8_t buf[8];
  auto t0 = Clock::now();
  IoResult r = dev.Read(buf, 8);
  aborter.join();
  EXPECT_EQ(r.error, ECANCELED);
  EXPECT_LT(Clock::now() - t0, 500ms);
  // The abort was for the read pending then: the next read works.
  MasterWrite({5});
  r = dev.Read(buf, 1);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.count, 1);
}

TEST_F(PosixDeviceTest, TheStopSignalWakesAWaitAndAStopSetBeforeIsSeen) {
  PosixCommDevice dev;
  ASSERT_EQ(dev.Open(path), 0);
  ASSERT_EQ(dev.SetEventMask(EV_RXCHAR), 0);
  auto stop = dev.CreateStopSignal();
  stop->Set();
  EXPECT_TRUE(stop->IsSet());
  EXPECT_EQ(dev.WaitEvent(*stop).outcome, WaitOutcome::kStopped);
}

TEST_F(PosixDeviceTest, ArrivingBytesAreReportedOnceAsRxChar) {
  PosixCommDevice dev;
  ASSERT_EQ(dev.Open(path), 0);
  ASSERT_EQ(dev.SetEventMask(EV_RXCHAR | EV_TXEMPTY), 0);
  auto stop = dev.CreateStopSignal();
  MasterWrite({1, 2});
  WaitResult w = dev.WaitEvent(*stop);
  ASSERT_EQ(w.outcome, WaitOutcome::kEvents);
  EXPECT_EQ(w.mask, EV_RXCHAR);
  std::uint32_t errors = 0, q = 0;
  ASSERT_EQ(dev.ClearError(errors, q), 0);
  EXPECT_EQ(q, 2u);
  // A write then reports EV_TXEMPTY once its output has drained.
  const std::uint8_t out[3] = {1, 2, 3};
  ASSERT_EQ(dev.Write(out, 3).count, 3);
  w = dev.WaitEvent(*stop);
  ASSERT_EQ(w.outcome, WaitOutcome::kEvents);
  EXPECT_EQ(w.mask, EV_TXEMPTY);  // and not EV_RXCHAR again for the 2 unread bytes
}

}  // namespace
}  // namespace ornat
