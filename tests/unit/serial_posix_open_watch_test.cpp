// When the open of a port looks through /proc for other holders: at the first open,
// and after that only when the kernel reported an open that was not ours or could not
// tell. Once with the kernel's reports scripted through the seam (every path:
// overflow, a node replaced, no inotify), once with the real kernel and real openers
// on a pty.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "serial/platform/port_holders.h"
#include "serial/platform/posix_comm_device.h"
#include "serial/platform/posix_open_watch.h"
#include "support/basic_form.h"
#include "support/holding_process.h"
#include "support/in_child.h"

namespace ornat {
namespace {

using testing::InChild;

// A pty whose slave the device opens; the test keeps the master.
struct Pty {
  Pty() {
    char name[128] = {};
    int slave = -1;
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) std::abort();
    ::close(slave);
    // Not handed to the programs the tests start: one that held the master too would
    // be the pty's provider, not a holder.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    path = name;
    folder = path.substr(0, path.rfind('/'));
    leaf = path.substr(path.rfind('/') + 1);
  }
  ~Pty() { ::close(master); }
  int master = -1;
  std::string path, folder, leaf;
};

// The kernel's side of inotify, scripted: the instance is a pipe the test writes
// reports into; the device's own open of the pty queues the two reports the kernel
// would queue (the folder's, with the name, then the node's).
class ScriptedInotify {
 public:
  explicit ScriptedInotify(const Pty& pty) : pty_(pty), sys_(PosixSyscalls::Real()) {
    sys_.inotify_init1 = [this](int) {
      ++instances;
      if (init_error != 0) {
        errno = init_error;
        return -1;
      }
      int p[2];
      if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
      if (write_end_ >= 0) ::close(write_end_);
      write_end_ = p[1];
      read_end_ = p[0];
      return p[0];
    };
    sys_.close = [this](int fd) {
      if (fd == read_end_ && write_end_ >= 0) {  // the instance is gone, and its reports
        ::close(write_end_);
        write_end_ = read_end_ = -1;
      }
      return ::close(fd);
    };
    sys_.inotify_add_watch = [this](int, const char* path, std::uint32_t) {
      watched.emplace_back(path);
      if (watch_error != 0) {
        errno = watch_error;
        return -1;
      }
      wd_[path] = ++last_wd_;
      return last_wd_;
    };
    sys_.open = [this](const char* path, int flags) {
      const int fd = ::open(path, flags);
      if (fd >= 0 && path == pty_.path) {
        Report(kFolder, IN_OPEN, pty_.leaf);
        Report(kNode, IN_OPEN);
      }
      return fd;
    };
    look_ = [this](const DeviceNode&) {
      ++looks;
      return holding;
    };
  }
  ~ScriptedInotify() {
    if (write_end_ >= 0) ::close(write_end_);
  }

  enum Watch { kNode, kFolder, kNone };
  // Queues one report, as the kernel would for the watch named.
  void Report(Watch w, std::uint32_t mask, const std::string& name = "") {
    if (write_end_ < 0) return;
    int wd = -1;
    if (w != kNone) wd = wd_[w == kNode ? pty_.path : pty_.folder];
    const std::size_t len = name.empty() ? 0 : (name.size() / 16 + 1) * 16;
    std::vector<char> bytes(sizeof(inotify_event) + len, '\0');
    inotify_event ev{};
    ev.wd = wd;
    ev.mask = mask;
    ev.len = static_cast<std::uint32_t>(len);
    std::memcpy(bytes.data(), &ev, sizeof ev);
    std::memcpy(bytes.data() + sizeof ev, name.data(), name.size());
    ASSERT_EQ(::write(write_end_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Another program's open of the node.
  void ForeignOpen() {
    Report(kFolder, IN_OPEN, pty_.leaf);
    Report(kNode, IN_OPEN);
  }

  PosixSyscalls& sys() { return sys_; }
  const HolderLook& look() const { return look_; }
  bool Watching() const { return read_end_ >= 0; }
  const std::string& leaf() const { return pty_.leaf; }

  int looks = 0;
  int instances = 0;
  int init_error = 0;
  int watch_error = 0;
  std::vector<std::string> watched;
  std::vector<PortHolder> holding;

 private:
  const Pty& pty_;
  PosixSyscalls sys_;
  HolderLook look_;
  int write_end_ = -1;
  int read_end_ = -1;
  int last_wd_ = 0;
  std::map<std::string, int> wd_;
};

TEST(PosixOpenWatch, TheLookRunsAtTheFirstOpenAndAfterAnythingTheWatchCannotVouchFor) {
  using Inject = std::function<void(ScriptedInotify&)>;
  struct Step {
    Inject before;  // between the last exchange and this open (may be empty)
    Inject during;  // while this exchange holds the port
    bool looks;
  };
  const Inject none;
  const Inject foreign = [](ScriptedInotify& k) { k.ForeignOpen(); };
  struct Case {
    const char* what;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"nobody else: only the first open looks",
       {{none, none, true}, {none, none, false}, {none, none, false}}},
      {"another program opened it between two exchanges",
       {{none, none, true}, {foreign, none, true}, {none, none, false}}},
      {"another program opened it while we held it",
       {{none, none, true}, {none, foreign, false}, {none, none, true}, {none, none, false}}},
      {"two other opens",
       {{none, none, true},
        {[](ScriptedInotify& k) {
           k.ForeignOpen();
           k.ForeignOpen();
         },
         none, true}}},
      {"reports were lost",
       {{none, none, true},
        {[](ScriptedInotify& k) { k.Report(ScriptedInotify::kNone, IN_Q_OVERFLOW); }, none, true},
        {none, none, false}}},
      {"another file of the folder was opened",
       {{none, none, true},
        {[](ScriptedInotify& k) { k.Report(ScriptedInotify::kFolder, IN_OPEN, "null"); }, none,
         false},
        {[](ScriptedInotify& k) {
           k.Report(ScriptedInotify::kFolder, IN_OPEN | IN_ISDIR);  // the folder itself
           k.Report(ScriptedInotify::kFolder, IN_CREATE, "ttyUSB9");
         },
         none, false}}},
      {"the node's attributes changed",
       {{none, none, true},
        {[](ScriptedInotify& k) { k.Report(ScriptedInotify::kNode, IN_ATTRIB); }, none, true}}},
      {"the node was removed and made again (an adapter plugged in again)",
       {{none, none, true},
        {[](ScriptedInotify& k) {
           k.Report(ScriptedInotify::kNode, IN_ATTRIB);
           k.Report(ScriptedInotify::kFolder, IN_DELETE, k.leaf());
           k.Report(ScriptedInotify::kNode, IN_DELETE_SELF);
           k.Report(ScriptedInotify::kNode, IN_IGNORED);
           k.Report(ScriptedInotify::kFolder, IN_CREATE, k.leaf());
         },
         none, true},
        {none, none, false}}},
      {"the kernel dropped the watch",
       {{none, none, true},
        {[](ScriptedInotify& k) { k.Report(ScriptedInotify::kFolder, IN_IGNORED); }, none, true},
        {none, none, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pty pty;
    ScriptedInotify kernel(pty);
    PosixCommDevice dev(kernel.sys(), kernel.look());
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("exchange " + std::to_string(i + 1));
      const Step& step = c.steps[i];
      if (step.before) step.before(kernel);
      const int looks = kernel.looks;
      ASSERT_EQ(dev.Open(pty.path), 0);
      if (step.during) step.during(kernel);
      dev.Close();
      EXPECT_EQ(kernel.looks - looks, step.looks ? 1 : 0);
    }
  }
}

TEST(PosixOpenWatch, ANodeReplacedIsWatchedAnewBeforeItsLook) {
  Pty pty;
  ScriptedInotify kernel(pty);
  PosixCommDevice dev(kernel.sys(), kernel.look());
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  EXPECT_EQ(kernel.watched, (std::vector<std::string>{pty.folder, pty.path}));
  EXPECT_EQ(kernel.instances, 1);
  kernel.Report(ScriptedInotify::kFolder, IN_DELETE, pty.leaf);
  kernel.Report(ScriptedInotify::kFolder, IN_CREATE, pty.leaf);
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  EXPECT_EQ(kernel.watched, (std::vector<std::string>{pty.folder, pty.path, pty.folder, pty.path}));
  EXPECT_EQ(kernel.instances, 2);
  EXPECT_EQ(kernel.looks, 2);
  // Kept across the closes while the name stays; another port is another watch.
  Pty other;
  ASSERT_EQ(dev.Open(other.path), 0);
  dev.Close();
  EXPECT_EQ(kernel.instances, 3);
  EXPECT_EQ(kernel.watched.back(), other.path);
}

TEST(PosixOpenWatch, WithoutInotifyEveryOpenLooks) {
  struct Case {
    const char* what;
    int init_error, watch_error;
  } cases[] = {
      {"no inotify instance left (max_user_instances)", EMFILE, 0},
      {"no watch left (max_user_watches)", 0, ENOSPC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pty pty;
    ScriptedInotify kernel(pty);
    kernel.init_error = c.init_error;
    kernel.watch_error = c.watch_error;
    PosixCommDevice dev(kernel.sys(), kernel.look());
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(dev.Open(pty.path), 0);
      dev.Close();
    }
    EXPECT_EQ(kernel.looks, 3);
    EXPECT_EQ(kernel.instances, 3) << "tried again at every open";
  }
}

TEST(PosixOpenWatch, HoldersOnceFoundAreLookedForAgainUntilTheyAreGone) {
  Pty pty;
  ScriptedInotify kernel(pty);
  kernel.holding = {{321, "cat"}};
  PosixCommDevice dev(kernel.sys(), kernel.look());
  EXPECT_EQ(dev.Open(pty.path), EBUSY);
  EXPECT_EQ(dev.Open(pty.path), EBUSY) << "no report came, yet cat still holds it";
  EXPECT_EQ(dev.HoldersAtLastOpen(), (std::vector<PortHolder>{{321, "cat"}}));
  kernel.holding.clear();
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  EXPECT_EQ(kernel.looks, 3);
}

TEST(PosixOpenWatch, AFailedOpenGivesBackItsWatchAndTheNextOpenLooksAgain) {
  Pty pty;
  ScriptedInotify kernel(pty);
  bool lock_held = false;
  kernel.sys().flock = [&](int fd, int op) {
    if (lock_held && op != LOCK_UN) {
      errno = EWOULDBLOCK;
      return -1;
    }
    return ::flock(fd, op);
  };
  PosixCommDevice dev(kernel.sys(), kernel.look());
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  EXPECT_TRUE(kernel.Watching()) << "kept across the close";
  // Another ornat takes the port.
  kernel.ForeignOpen();
  lock_held = true;
  EXPECT_EQ(dev.Open(pty.path), EBUSY);
  EXPECT_FALSE(kernel.Watching()) << "a refused open keeps no descriptor";
  EXPECT_EQ(dev.Open("/dev/ttyORNAT-none"), ENOENT);
  EXPECT_FALSE(kernel.Watching());
  lock_held = false;
  const int looks = kernel.looks, instances = kernel.instances;
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  EXPECT_EQ(kernel.looks - looks, 1);
  EXPECT_EQ(kernel.instances - instances, 1);
}

// --- the real kernel ----------------------------------------------------------

int OpenAndClose(const std::string& path) {
  const int f = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (f < 0) return errno;
  ::close(f);
  return 0;
}

TEST(PosixOpenWatch, TheKernelReportsEveryOtherProgramsOpenOfThePty) {
  Pty pty;
  PosixSyscalls sys = PosixSyscalls::Real();
  int looks = 0;
  const HolderLook holders = [&](const DeviceNode& node) {
    ++looks;
    return FindDeviceHolders(PosixSyscalls::Real(), "/proc", node, static_cast<int>(::getpid()));
  };
  PosixCommDevice dev(sys, holders);
  auto exchange = [&] {
    const int before = looks;
    const int e = dev.Open(pty.path);
    dev.Close();
    return std::make_pair(e, looks - before);
  };
  using Result = std::pair<int, int>;  // the open's result, the looks it made
  EXPECT_EQ(exchange(), Result(0, 1)) << "the first open";
  for (int i = 0; i < 20; ++i) ASSERT_EQ(exchange(), Result(0, 0)) << "exchange " << i;

  ASSERT_EQ(InChild([&] { return OpenAndClose(pty.path); }), 0);
  EXPECT_EQ(exchange(), Result(0, 1)) << "a program opened and closed it meanwhile";
  EXPECT_EQ(exchange(), Result(0, 0));

  // A holder that opened it between two exchanges, its report not yet read when ours
  // comes: refused and named.
  {
    testing::HoldingProcess holder({"/bin/cat", pty.path}, pty.path);
    ASSERT_TRUE(holder.Started());
    EXPECT_EQ(exchange(), Result(EBUSY, 1));
    EXPECT_EQ(dev.HoldersAtLastOpen(), (std::vector<PortHolder>{{holder.pid(), "cat"}}));
    EXPECT_EQ(exchange(), Result(EBUSY, 1));
  }
  EXPECT_EQ(exchange(), Result(0, 1)) << "gone";
  EXPECT_EQ(exchange(), Result(0, 0));

  // One that opens it while we hold it: refused at the next exchange.
  ASSERT_EQ(dev.Open(pty.path), 0);
  testing::HoldingProcess late({"/bin/cat", pty.path}, pty.path);
  ASSERT_TRUE(late.Started());
  dev.Close();
  EXPECT_EQ(exchange(), Result(EBUSY, 1));
  late.Kill();
  EXPECT_EQ(exchange(), Result(0, 1));
}

TEST(PosixOpenWatch, AnotherUsersOpenIsReportedToo) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to open as another user";
  Pty pty;
  ASSERT_EQ(::chmod(pty.path.c_str(), 0666), 0);
  PosixSyscalls sys = PosixSyscalls::Real();
  int looks = 0;
  const HolderLook holders = [&](const DeviceNode&) {
    ++looks;
    return std::vector<PortHolder>{};
  };
  PosixCommDevice dev(sys, holders);
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  ASSERT_EQ(InChild([&] {
              if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 99;
              return OpenAndClose(pty.path);
            }),
            0);
  ASSERT_EQ(dev.Open(pty.path), 0);
  dev.Close();
  EXPECT_EQ(looks, 2);
}

TEST(PosixOpenWatch, DevtmpfsReportsAnotherProgramsOpenOfANodeAsDevptsDoes) {
  // USB adapters' nodes live on devtmpfs (/dev), ptys on devpts. /dev/full stands in
  // for an adapter's node here; others on the machine may open it too, which can only
  // add looks: what is checked is that a program's open is never missed.
  for (const char* node : {"/dev/full", "/dev/ttyS0"}) {
    const int probe = ::open(node, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) continue;  // no such UART here
    ::close(probe);
    SCOPED_TRACE(node);
    struct stat st {};
    ASSERT_EQ(::stat(node, &st), 0);
    PosixOpenWatch watch(PosixSyscalls::Real());
    watch.Prepare(node);
    ASSERT_TRUE(watch.Watching());
    for (int round = 0; round < 3; ++round) {
      watch.LookFoundNobody();
      ASSERT_EQ(InChild([&] { return ::close(::open(node, O_RDONLY | O_NOCTTY | O_NONBLOCK)); }),
                0);
      EXPECT_TRUE(watch.LookNeeded(st.st_dev, st.st_ino)) << "round " << round;
    }
  }
}

TEST(PosixOpenWatch, ANodeReachedThroughALinkIsWatchedAndLookedForByItsOwnPath) {
  Pty pty;
  testing::TempDir dir;
  const std::string link = dir.path() + "/ttyV0";
  std::filesystem::create_symlink(pty.path, link);
  PosixSyscalls sys = PosixSyscalls::Real();
  std::vector<std::string> watched;
  std::vector<DeviceNode> asked;
  sys.inotify_add_watch = [&](int fd, const char* path, std::uint32_t mask) {
    watched.emplace_back(path);
    return ::inotify_add_watch(fd, path, mask);
  };
  const HolderLook holders = [&](const DeviceNode& node) {
    asked.push_back(node);
    return FindDeviceHolders(PosixSyscalls::Real(), "/proc", node, static_cast<int>(::getpid()));
  };
  {
    PosixCommDevice dev(sys, holders);
    // cat opened it by the link; the kernel names the pty in its descriptor.
    testing::HoldingProcess cat({"/bin/cat", link}, pty.path);
    ASSERT_TRUE(cat.Started());
    EXPECT_EQ(dev.Open(link), EBUSY);
    EXPECT_EQ(dev.HoldersAtLastOpen(), (std::vector<PortHolder>{{cat.pid(), "cat"}}));
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().path, pty.path);
    EXPECT_EQ(watched, (std::vector<std::string>{pty.folder, pty.path}));
  }
}

}  // namespace
}  // namespace ornat
