// Faults of the line and of the port, for real: TForm1 with its real port over a
// pseudo-terminal against ornat-sim, which is killed, restarted, unplugged (its side
// of the pty gone), locked out or taken away. Each fault ends in the line the window
// gives for it ("   : TIME OUT.", "   : ОШИБКА ОТКРЫТИЯ ПОРТА <port>"), never in a
// hang, a crash or a loop that keeps running.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "serial/comport.h"
#include "serial/platform/port_list.h"
#include "support/holding_process.h"
#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/runtime_dir.h"
#include "support/sim_process.h"
#include "support/spawn.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kPortError = "   : ОШИБКА ОТКРЫТИЯ ПОРТА ";
const std::string kQueryTx = "TX : F7 03 00 00 00 08 50 9A ";
// ornat-sim started again in the folder of an earlier one (`runtime_dir` as its
// XDG_RUNTIME_DIR), as a user restarts it: it gets a new pty and registers it under
// the same name. No console; ended with SIGTERM (SIGKILL at worst).
class RestartedSim {
 public:
  RestartedSim(const std::string& runtime_dir, std::vector<std::string> args = {}) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    args.insert(args.begin(), "--no-console");
    pid_ = SpawnWithRuntimeDir(ORNAT_SIM_PATH, std::move(args), runtime_dir, &fa);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    stdout_ = out[0];
    if (pid_ <= 0) return;
    // "PORT ornat-sim /dev/pts/N"
    std::string text;
    const auto until = Clock::now() + 10s;
    while (text.find('\n') == std::string::npos && Clock::now() < until) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    std::istringstream words(text);
    std::string tag, name;
    words >> tag >> name >> pty_path_;
    if (tag != "PORT") pty_path_.clear();
  }
  ~RestartedSim() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      const auto until = Clock::now() + 3s;
      while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
        if (Clock::now() >= until) {
          testing::KillNow(pid_);
          break;
        }
        std::this_thread::sleep_for(10ms);
      }
    }
    if (stdout_ >= 0) close(stdout_);
  }
  RestartedSim(const RestartedSim&) = delete;
  RestartedSim& operator=(const RestartedSim&) = delete;
  bool Started() const { return pid_ > 0 && !pty_path_.empty(); }
  const std::string& pty_path() const { return pty_path_; }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string pty_path_;
};

// This thread's file-system user id for a scope (Linux keeps it per thread). Taking
// a non-zero id from root drops the capabilities that override file permissions, so
// opens on this thread are checked as for that user.
class ScopedFsUid {
 public:
  explicit ScopedFsUid(uid_t uid) : before_(static_cast<uid_t>(setfsuid(uid))) {
    // setfsuid reports the previous id whether it worked or not; an invalid id
    // changes nothing and reports the present one.
    active_ = static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) == uid;
  }
  ~ScopedFsUid() { setfsuid(before_); }
  ScopedFsUid(const ScopedFsUid&) = delete;
  ScopedFsUid& operator=(const ScopedFsUid&) = delete;
  bool active() const { return active_; }

 private:
  uid_t before_;
  bool active_ = false;
};

// CPU time of this process (all its threads) so far.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A send that fails at the port: the TX line, "RX :" and the port error in blue (and
// `holders_line` under it where the port's holders were found), no timer armed, no
// completion, the window still usable.
void ExpectPortErrorSend(LiveForm& t, const std::string& port,
                         const std::string& holders_line = "") {
  const std::size_t completions = t.Completions().size();
  t.Click(t.w().TeButton5);
  std::vector<std::string> expected = {kQueryTx, "RX :", kPortError + port};
  if (!holders_line.empty()) expected.push_back(holders_line);
  EXPECT_EQ(t.LogLines(), expected);
  EXPECT_EQ(t.w().TeMemo1.FontColor(), 16711680u) << "blue";
  EXPECT_FALSE(t.w().Timer_Rx.Enabled());
  t.RunFor(700ms);
  EXPECT_EQ(t.Completions().size(), completions) << "no completion follows";
  EXPECT_EQ(t.LogLines(), expected);
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

TEST(FaultsPty, TheSimulatorKilledMidExchangeAndRestartedAnswersAgainUnderItsName) {
  Watchdog dog(60s);
  SimProcess sim({"--delay", "200"});
  ASSERT_TRUE(sim.Started());
  ScopedRuntimeDir runtime(sim.runtime_dir());
  LiveForm t(sim.port_name());
  ASSERT_EQ(t.w().ComPort1().Port(), "ornat-sim");
  t.Click(t.w().TeButton5);
  t.RunFor(50ms);  // the request is out, its answer 200 ms away
  sim.Kill();
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), (std::vector<std::string>{kQueryTx, "RX :", kTimeOutLine}));
  EXPECT_FALSE(t.w().ComPort1().Connected());

  // Gone: its link is left behind with no pty at its end, and the name no longer opens.
  ExpectPortErrorSend(t, "ornat-sim");
  EXPECT_FALSE(t.w().ComPort1().Connected());

  // Back, on a new pty under the same name: the next query is answered. The earlier
  // send left its flags (QueryPending) set; the query goes out all the same.
  RestartedSim again(sim.runtime_dir());
  ASSERT_TRUE(again.Started());
  EXPECT_NE(again.pty_path(), "");
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), kQueryLog);
  EXPECT_FALSE(t.w().ComPort1().Connected());
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

TEST(FaultsPty, TheSimulatorGoneEndsTheCyclicQueryAsStopDoesAndEmptiesTheGrid) {
  Watchdog dog(30s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ScopedRuntimeDir runtime(sim.runtime_dir());
  LiveForm t(sim.port_name());
  TForm1& w = t.w();
  t.Click(w.TeCheckBox1);
  t.Click(w.TeButton5);
  ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 2; }, 3s));
  ASSERT_EQ(w.StatusGrid.Cell(1, 1), kNormalCell);
  sim.Kill();  // its pty goes with it: the next query cannot open the port
  ASSERT_TRUE(t.RunUntil([&] { return t.LogLines().back() == kPortError + "ornat-sim"; }, 3s));
  const std::size_t completions = t.Completions().size();
  t.RunFor(1000ms);
  EXPECT_EQ(t.Completions().size(), completions);
  EXPECT_EQ(w.TeButton5.Caption(), "ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_TRUE(w.TeCheckBox1.Enabled());
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(w.StatusGrid.Cell(1, 0) + w.StatusGrid.Cell(1, 1), "");
  EXPECT_FALSE(w.Working());
}

TEST(FaultsPty, TheAdapterUnpluggedDuringABusSearchHaltsItWithThePortErrorUntilStopped) {
  Watchdog dog(60s);
  SimProcess sim;  // the detector at 247, far beyond
  ASSERT_TRUE(sim.Started());
  // By its registered name, which dies with the simulator: its pty's number, once free,
  // is soon another program's, and the later send must not open that.
  ScopedRuntimeDir runtime(sim.runtime_dir());
  LiveForm t(sim.port_name());
  TForm1& w = t.w();
  t.Do([&] { w.CustomItem7.Click(); });  // "100ms"
  t.Do([&] { w.CustomItem5.Click(); });
  ASSERT_TRUE(t.RunUntil([&] { return t.state().DeviceAddress == 5; }, 10s));
  sim.Kill();  // the other side of the line is gone; the port is open (searching)

  // The probe in flight ends silently; the next one cannot be written.
  const std::string error = kPortError + "ornat-sim";
  ASSERT_TRUE(t.RunUntil([&] { return t.LogLines().back() == error; }, 3s));
  const auto log = t.LogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "RX :");
  const int halted_at = t.state().DeviceAddress;
  EXPECT_GE(halted_at, 6);
  EXPECT_LE(halted_at, 8);
  EXPECT_EQ(log[0],
            TxLine(WithCrc({static_cast<std::uint8_t>(halted_at), 0x03, 0x00, 0x00, 0x00, 0x01})));
  // Halted, not spinning: no completion, no further line, no probe, and next to no CPU.
  const std::size_t completions = t.Completions().size();
  const double cpu = CpuSeconds();
  t.RunFor(1000ms);
  EXPECT_LT(CpuSeconds() - cpu, 0.3);
  EXPECT_EQ(t.Completions().size(), completions);
  EXPECT_EQ(t.LogLines(), log);
  EXPECT_EQ(t.state().SessionMode, 254);
  EXPECT_EQ(w.CustomItem5.Caption(), "Stop");
  EXPECT_EQ(t.state().DeviceAddress, halted_at);
  // The port of the device that is gone is closed, so a later send opens it anew
  // (and works once the line is back) instead of writing to the dead device forever.
  EXPECT_FALSE(w.ComPort1().Connected());

  // The stop item ends it, with the address probed last in the editor.
  t.Do([&] { w.CustomItem5.Click(); });
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_EQ(w.TeSpinEdit1.Text(), std::to_string(halted_at));
  t.RunFor(300ms);
  EXPECT_EQ(t.Completions().size(), completions);
  // A query on the dead line gets the port error too, and nothing hangs.
  t.Do([&] { w.TeSpinEdit1.SetText("247"); });
  ExpectPortErrorSend(t, "ornat-sim");
}

TEST(FaultsPty, APortHeldByAnotherProgramFailsTheSendWithThePortErrorUntilItLetsGo) {
  enum class Holder {
    kLocking,  // opens it and takes the lock, as another ornat does (in this process)
    kCat,      // `cat` on the pty: no lock, no exclusive use; it would take the answers
  };
  struct Case {
    const char* what;
    Holder holder;
    bool by_name;
  };
  const Case cases[] = {
      {"a locking program, opened by its path", Holder::kLocking, false},
      {"a locking program, opened by its name", Holder::kLocking, true},
      {"cat, opened by its path", Holder::kCat, false},
      {"cat, opened by its name", Holder::kCat, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Watchdog dog(30s);
    SimProcess sim;
    ASSERT_TRUE(sim.Started());
    ScopedRuntimeDir runtime(sim.runtime_dir());
    int locking = -1;
    std::optional<HoldingProcess> cat;
    std::string holders_line;
    if (c.holder == Holder::kLocking) {
      locking = open(sim.pty_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(locking, 0) << std::strerror(errno);
      ASSERT_EQ(flock(locking, LOCK_EX | LOCK_NB), 0) << std::strerror(errno);
    } else {
      cat.emplace(std::vector<std::string>{"/bin/cat", sim.pty_path()}, sim.pty_path());
      ASSERT_TRUE(cat->Started());
      // Under the port error, additive: whom to close.
      holders_line = "   : held by cat (pid " + std::to_string(cat->pid()) + ")";
    }
    const std::string port = c.by_name ? sim.port_name() : sim.pty_path();
    {
      LiveForm t(port);
      const int fds = OpenFileDescriptors();
      ExpectPortErrorSend(t, port, holders_line);
      EXPECT_FALSE(t.w().ComPort1().Connected());
      EXPECT_EQ(OpenFileDescriptors(), fds) << "a refused open keeps no descriptor";
      // The other program lets go: the next query goes through.
      if (locking >= 0) close(locking);
      locking = -1;
      if (cat) cat->Kill();
      t.Click(t.w().TeButton5);
      ASSERT_TRUE(t.RunToCompletion(3s));
      EXPECT_EQ(t.LogLines(), kQueryLog);
    }
    if (locking >= 0) close(locking);
  }
}

TEST(FaultsPty, ADeviceThatCannotBeOpenedFailsTheSendWithThePortError) {
  Watchdog dog(60s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  TempDir dir;
  dir.Write("not-a-tty", "");
  struct Case {
    const char* what;
    std::string path;
    bool as_other_user;  // the open is made without the rights of root
  };
  const Case cases[] = {
      // The simulator's pty with no rights for others: an ordinary user's case.
      {"a device without permission", sim.pty_path(), true},
      // Refused to root as well.
      {"a directory", dir.path(), false},
      {"a file without a tty behind it", dir.path() + "/not-a-tty", false},
      {"a device that is not there", "/dev/ornat-no-such-port", false},
  };
  ASSERT_EQ(chmod(sim.pty_path().c_str(), 0600), 0) << std::strerror(errno);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LiveForm t(c.path);
    const int fds = OpenFileDescriptors();
    if (c.as_other_user && geteuid() == 0) {
      ScopedFsUid nobody(65534);
      ASSERT_TRUE(nobody.active());
      // The precondition: this thread really cannot open it now.
      const int probe = open(c.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      const int err = errno;
      if (probe >= 0) close(probe);
      ASSERT_LT(probe, 0);
      ASSERT_EQ(err, EACCES);
      ExpectPortErrorSend(t, c.path);
    } else {
      ExpectPortErrorSend(t, c.path);
    }
    EXPECT_FALSE(t.w().ComPort1().Connected());
    EXPECT_EQ(OpenFileDescriptors(), fds) << "a failed open keeps no descriptor";
  }
}

TEST(FaultsPty, APortGoneBetweenDiscoveryAndTheQueryFailsTheSendWithThePortError) {
  enum class Gone { kLinkRemoved, kSimulatorQuit, kSimulatorKilled };
  struct Case {
    const char* what;
    Gone how;
  };
  const Case cases[] = {
      {"its registration removed while the simulator runs", Gone::kLinkRemoved},
      {"the simulator ended", Gone::kSimulatorQuit},
      {"the simulator killed, its link left behind", Gone::kSimulatorKilled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Watchdog dog(30s);
    SimProcess sim;
    ASSERT_TRUE(sim.Started());
    ScopedRuntimeDir runtime(sim.runtime_dir());
    const std::string link = sim.runtime_dir() + "/ornat/ports/ornat-sim";
    // Discovery lists it.
    LinuxPortList list;
    auto before = list.ListPorts();
    ASSERT_TRUE(before.has_value());
    ASSERT_FALSE(before->empty());
    ASSERT_EQ(before->front(), "ornat-sim");
    LiveForm t(before->front());
    ASSERT_EQ(t.w().ComPort1().Port(), "ornat-sim");
    switch (c.how) {
      case Gone::kLinkRemoved:
        ASSERT_EQ(unlink(link.c_str()), 0);
        break;
      case Gone::kSimulatorQuit: {
        const auto until = Clock::now() + 3s;
        sim.Command("quit");
        std::error_code ec;
        while (std::filesystem::is_symlink(link, ec) && Clock::now() < until)
          std::this_thread::sleep_for(10ms);
        ASSERT_FALSE(std::filesystem::is_symlink(link, ec)) << "the simulator unregisters at exit";
        break;
      }
      case Gone::kSimulatorKilled:
        sim.Kill();
        break;
    }
    ExpectPortErrorSend(t, "ornat-sim");
    EXPECT_FALSE(t.w().ComPort1().Connected());
    // Discovery no longer offers it.
    auto after = list.ListPorts();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(std::count(after->begin(), after->end(), "ornat-sim"), 0);
  }
}

}  // namespace
}  // namespace ornat::testing
