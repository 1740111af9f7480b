// A virtual port's name lives as long as the ornat-sim that registered it: one killed
// with SIGKILL leaves its link behind, the kernel gives its pty number to the next
// simulator, and the old name must lead nowhere (not to the new simulator's
// detector), in the port list, the device's open and ornat-cli alike.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "serial/platform/port_list.h"
#include "serial/platform/posix_comm_device.h"
#include "support/basic_form.h"
#include "support/cli_process.h"
#include "support/spawn.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using testing::CliRun;
using testing::RunCli;

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Requests a wire log holds.
int WireRequests(const std::string& log) {
  int n = 0;
  std::istringstream lines(FileText(log));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string stamp, dir;
    words >> stamp >> dir;
    n += dir == "RX";
  }
  return n;
}

// One ornat-sim in a runtime folder shared with the others of the test, its port
// named `name`. Killed with SIGKILL by the destructor at the latest.
class Sim {
 public:
  Sim(const std::string& runtime_dir, const std::string& name, const std::string& tag)
      : wire_(runtime_dir + "/" + tag + ".wire"), err_(runtime_dir + "/" + tag + ".err") {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err_.c_str(), O_WRONLY | O_CREAT, 0600);
    pid_ = testing::SpawnWithRuntimeDir(
        ORNAT_SIM_PATH, {"--name", name, "--no-console", "--wire-log", wire_}, runtime_dir, &fa);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    // "PORT NAME /dev/pts/N", or the end of its output when it refused to start.
    std::string text;
    const auto until = Clock::now() + 10s;
    while (text.find('\n') == std::string::npos && Clock::now() < until) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    std::istringstream words(text);
    std::string word, port;
    if (words >> word >> port >> pty_ && word == "PORT" && port == name) return;
    pty_.clear();
  }
  ~Sim() { Kill(); }
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  bool Started() const { return !pty_.empty(); }
  const std::string& pty() const { return pty_; }
  pid_t pid() const { return pid_; }
  int Requests() const { return WireRequests(wire_); }
  std::string Err() const { return FileText(err_); }
  // Its exit status once it has ended by itself (within `limit`), else -1.
  int ExitStatus(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < until) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string wire_, err_, pty_;
  pid_t pid_ = -1;
};

// N of "/dev/pts/N".
int PtyNumber(const std::string& path) {
  return std::stoi(path.substr(path.rfind('/') + 1));
}

// Pty numbers held by this process, so that the next pty made elsewhere gets a given
// number: the kernel hands out the lowest free one.
class LowerPtyNumbers {
 public:
  LowerPtyNumbers() = default;
  ~LowerPtyNumbers() {
    for (int fd : held_) ::close(fd);
  }
  LowerPtyNumbers(const LowerPtyNumbers&) = delete;
  LowerPtyNumbers& operator=(const LowerPtyNumbers&) = delete;

  // Holds every free number below `number`; false when `number` itself is not free.
  bool HoldAllBelow(int number) {
    for (;;) {
      const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      char name[64];
      if (fd < 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        if (fd >= 0) ::close(fd);
        return false;
      }
      const int got = PtyNumber(name);
      if (got < number) {
        held_.push_back(fd);
        continue;
      }
      ::close(fd);
      return got == number;
    }
  }

 private:
  std::vector<int> held_;
};

std::vector<std::string> Ports(const std::string& runtime_dir) {
  LinuxPortList list("/sys/class/tty", runtime_dir + "/ornat/ports");
  return list.ListPorts().value_or(std::vector<std::string>{});
}

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(PortRegistryPty, AKilledSimulatorsNameNeverLeadsToTheNextSimulatorsPty) {
  testing::TempDir runtime;
  const std::string link = runtime.path() + "/ornat/ports/old-line";
  auto old_sim = std::make_unique<Sim>(runtime.path(), "old-line", "old");
  ASSERT_TRUE(old_sim->Started()) << old_sim->Err();
  const std::string old_pty = old_sim->pty();
  EXPECT_TRUE(Has(Ports(runtime.path()), "old-line"));
  old_sim->Kill();  // no cleanup of its own
  ASSERT_TRUE(std::filesystem::is_symlink(link)) << "the killed simulator's link is left";

  // The kernel hands out the lowest free pty number: the next simulator gets the old
  // one's, once the numbers below it are held here. Tests side by side and other
  // programs on the machine take numbers too: while one holds the old number, the
  // next simulator waits for it.
  std::unique_ptr<Sim> next;
  LowerPtyNumbers held;
  for (const auto until = Clock::now() + 60s; !next && Clock::now() < until;) {
    if (!held.HoldAllBelow(PtyNumber(old_pty))) {
      std::this_thread::sleep_for(20ms);
      continue;
    }
    next = std::make_unique<Sim>(runtime.path(), "new-line", "new");
    ASSERT_TRUE(next->Started()) << next->Err();
    if (next->pty() != old_pty) next.reset();
  }
  ASSERT_TRUE(next) << "no simulator got " << old_pty;
  EXPECT_EQ(std::filesystem::read_symlink(link), old_pty) << "it points at the new one's pty";

  // The port list shows the live name only, the window's and the CLI's alike.
  const auto ports = Ports(runtime.path());
  EXPECT_TRUE(Has(ports, "new-line"));
  EXPECT_FALSE(Has(ports, "old-line"));
  const CliRun listed = RunCli({"ports", "--json"}, runtime.path());
  EXPECT_EQ(listed.exit, 0);
  const json doc = json::parse(listed.out, nullptr, false);
  ASSERT_TRUE(doc.contains("ports")) << listed.out;
  for (const auto& p : doc["ports"]) EXPECT_NE(p.get<std::string>(), "old-line");

  // The old name opens nothing; nothing reaches the new simulator's detector.
  PosixCommDevice device;
  {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved != nullptr ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    EXPECT_EQ(device.Open("old-line"), ENOENT);
    EXPECT_EQ(device.Open("new-line"), 0);
    device.Close();
    if (saved != nullptr)
      ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }
  for (const char* command : {"query", "reset-alarm"}) {
    SCOPED_TRACE(command);
    const CliRun r = RunCli({command, "--port", "old-line", "--json"}, runtime.path());
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_EQ(json::parse(r.out, nullptr, false)["outcome"], "port-error") << r.out;
  }
  EXPECT_EQ(next->Requests(), 0) << "the old name wrote to the new simulator's detector";

  // The new name works.
  const CliRun ok = RunCli({"query", "--port", "new-line", "--json"}, runtime.path());
  EXPECT_EQ(ok.exit, 0) << ok.err;
  EXPECT_EQ(next->Requests(), 1);
}

TEST(PortRegistryPty, ANameARunningSimulatorHoldsIsNotTakenFromIt) {
  testing::TempDir runtime;
  Sim first(runtime.path(), "line", "first");
  ASSERT_TRUE(first.Started()) << first.Err();
  Sim second(runtime.path(), "line", "second");
  EXPECT_FALSE(second.Started());
  EXPECT_EQ(second.ExitStatus(5s), 1);
  EXPECT_NE(second.Err().find("the port name 'line' is registered by another running ornat-sim "
                              "(pid " +
                              std::to_string(first.pid()) + ")"),
            std::string::npos)
      << second.Err();
  EXPECT_EQ(std::filesystem::read_symlink(runtime.path() + "/ornat/ports/line"), first.pty());
  const CliRun r = RunCli({"query", "--port", "line", "--json"}, runtime.path());
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(first.Requests(), 1);

  // Once it is gone, however it went, the name is free for the next one.
  first.Kill();
  Sim third(runtime.path(), "line", "third");
  ASSERT_TRUE(third.Started()) << third.Err();
  EXPECT_EQ(std::filesystem::read_symlink(runtime.path() + "/ornat/ports/line"), third.pty());
  EXPECT_TRUE(Has(Ports(runtime.path()), "line"));
}

TEST(PortRegistryPty, ASimulatorThatEndsNormallyTakesItsNameAndLockWithIt) {
  testing::TempDir runtime;
  {
    Sim sim(runtime.path(), "line", "sim");
    ASSERT_TRUE(sim.Started());
    EXPECT_TRUE(std::filesystem::exists(runtime.path() + "/ornat/locks/line"));
    ::kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.ExitStatus(5s), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(runtime.path() + "/ornat/ports/line"));
  EXPECT_FALSE(std::filesystem::exists(runtime.path() + "/ornat/locks/line"));
}

}  // namespace
}  // namespace ornat
