// The real ornat-sim program over a real pseudo-terminal, driven as the window and the
// tests drive it: its port registration, paced answers, console, wire log, line speed
// and its exits. Every wait is bounded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model/modbus_crc.h"
#include "support/hex.h"
#include "support/spawn.h"

extern char** environ;

namespace ornat::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using testing::FromHex;
using testing::ToHex;

constexpr const char* kQuery = "F7 03 00 00 00 08 50 9A";
constexpr const char* kQueryAnswer =
    "F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 4E";

// One ornat-sim process with its stdin and stdout on pipes and a private
// XDG_RUNTIME_DIR. The destructor ends it (SIGKILL at worst) and removes the folder.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    char tmpl[] = "/tmp/ornat-sim-test-XXXXXX";
    runtime_dir_ = mkdtemp(tmpl);
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) env_strings.emplace_back(*e);
    }
    env_strings.push_back("XDG_RUNTIME_DIR=" + runtime_dir_.string());
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    args.insert(args.begin(), ORNAT_SIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, ORNAT_SIM_PATH, &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }

  ~SimProcess() {
    CloseStdin();
    if (pid_ > 0 && !Wait(2s)) testing::KillNow(pid_);
    if (stdout_ >= 0) close(stdout_);
    std::error_code ec;
    fs::remove_all(runtime_dir_, ec);
  }

  pid_t pid() const { return pid_; }
  const fs::path& runtime_dir() const { return runtime_dir_; }
  fs::path link(const std::string& name = "ornat-sim") const {
    return runtime_dir_ / "ornat" / "ports" / name;
  }

  // The next line of its stdout, or nullopt after `timeout`.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms) return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[1024];
      const ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  // The next line that starts with `prefix`, skipping others.
  std::optional<std::string> ReadLineStartingWith(const std::string& prefix,
                                                  std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      const auto line =
          ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
      if (!line) return std::nullopt;
      if (line->rfind(prefix, 0) == 0) return line;
    }
    return std::nullopt;
  }

  // Sends a console command and returns its final "OK"/"ERR" line.
  std::optional<std::string> Command(const std::string& command) {
    const std::string line = command + "\n";
    if (write(stdin_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      return std::nullopt;
    }
    for (;;) {
      const auto reply = ReadLine();
      if (!reply) return std::nullopt;
      if (reply->rfind("OK", 0) == 0 || reply->rfind("ERR", 0) == 0) return reply;
    }
  }

  // The slave path from the "PORT NAME PATH" line.
  std::optional<std::string> Port(const std::string& name = "ornat-sim") {
    const auto line = ReadLineStartingWith("PORT ");
    if (!line) return std::nullopt;
    const std::string prefix = "PORT " + name + " ";
    if (line->rfind(prefix, 0) != 0) return std::nullopt;
    return line->substr(prefix.size());
  }

  void CloseStdin() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }

  // Waits for the exit; true (and the status kept) when it came within `timeout`.
  bool Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return true;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      const pid_t r = waitpid(pid_, &status_, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  int status() const { return status_; }

  // CPU time (user + system) the process has used so far.
  std::chrono::milliseconds CpuTime() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14 || i == 15) ticks += std::stoll(field);
    }
    return std::chrono::milliseconds(ticks * 1000 / sysconf(_SC_CLK_TCK));
  }

 private:
  fs::path runtime_dir_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int status_ = 0;
  std::string buffer_;
};

// The master's end: the pty slave opened raw at `speed`, as the window's port would.
class MasterPort {
 public:
  MasterPort(const std::string& path, speed_t speed) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~MasterPort() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  // Sends `request` and collects the answer until 150 ms pass without a byte (or
  // `first_byte_timeout` without any).
  Bytes Exchange(const Bytes& request, std::chrono::milliseconds first_byte_timeout = 1000ms) {
    if (write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
      return {};
    }
    Bytes got;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const auto wait = got.empty() ? first_byte_timeout : 150ms;
      if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return got;
      std::uint8_t buf[256];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return got;
      got.insert(got.end(), buf, buf + n);
    }
  }

 private:
  int fd_ = -1;
};

Bytes ExchangeOnce(const std::string& path, speed_t speed, const std::string& request,
                   std::chrono::milliseconds timeout = 1000ms) {
  MasterPort port(path, speed);
  EXPECT_TRUE(port.ok()) << path;
  return port.Exchange(FromHex(request), timeout);
}

TEST(SimProgram, RegistersItsPortAndAnswersTheParameterQuery) {
  SimProcess sim({});
  const auto path = sim.Port();
  ASSERT_TRUE(path) << "no PORT line";
  ASSERT_TRUE(fs::is_symlink(sim.link()));
  EXPECT_EQ(fs::read_symlink(sim.link()).string(), *path);

  const Bytes answer = ExchangeOnce(*path, B9600, kQuery);
  ASSERT_EQ(answer.size(), 21u);
  EXPECT_TRUE(HasGoodCrc(answer));
  EXPECT_EQ(answer[3] << 8 | answer[4], 0x0010) << "identity";
  EXPECT_EQ(ToHex(answer), kQueryAnswer);
}

TEST(SimProgram, AConsoleAlarmShowsInTheNextAnswer) {
  SimProcess sim({});
  const auto path = sim.Port();
  ASSERT_TRUE(path);
  const auto reply = sim.Command("alarm");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->rfind("OK", 0), 0u) << *reply;
  const Bytes answer = ExchangeOnce(*path, B9600, kQuery);
  ASSERT_EQ(answer.size(), 21u);
  EXPECT_EQ(answer[10], 1) << "low byte of register 3: alarm";
  EXPECT_TRUE(HasGoodCrc(answer));

  EXPECT_EQ(sim.Command("tactic 99").value_or("").rfind("OK", 0), 0u);
  EXPECT_EQ(sim.Command("speed 0").value_or("").rfind("ERR", 0), 0u);
  EXPECT_EQ(ExchangeOnce(*path, B9600, kQuery)[12], 99);
}

struct WireLine {
  double time_us = 0;
  std::string dir;
  std::string bytes;
  std::optional<double> last_us;
};

std::vector<WireLine> ReadWireLog(const fs::path& file) {
  std::vector<WireLine> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    WireLine w;
    words >> w.time_us >> w.dir;
    std::string word;
    while (words >> word) {
      if (word.rfind("last=", 0) == 0) {
        w.last_us = std::stod(word.substr(5));
      } else if (word.size() == 2) {
        w.bytes += (w.bytes.empty() ? "" : " ") + word;
      }
    }
    out.push_back(w);
  }
  return out;
}

// Runs ornat-sim with `options` and a wire log for one parameter query at 9600 bit/s;
// returns the RX and TX lines of its wire log.
void WireFramesOfOneQuery(const std::vector<std::string>& options, std::vector<WireLine>& frames) {
  char tmpl[] = "/tmp/ornat-sim-wire-XXXXXX";
  const int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  const fs::path log = tmpl;
  {
    std::vector<std::string> args = {"--wire-log", log.string()};
    args.insert(args.end(), options.begin(), options.end());
    SimProcess sim(args);
    const auto path = sim.Port();
    ASSERT_TRUE(path);
    ASSERT_EQ(ToHex(ExchangeOnce(*path, B9600, kQuery)), kQueryAnswer);
    sim.CloseStdin();
    ASSERT_TRUE(sim.Wait(3s));
  }
  for (const WireLine& w : ReadWireLog(log)) {
    if (w.dir == "RX" || w.dir == "TX") frames.push_back(w);
  }
  fs::remove(log);
}

TEST(SimProgram, WireLogHasBothFramesWithTheirTimes) {
  std::vector<WireLine> frames;
  ASSERT_NO_FATAL_FAILURE(WireFramesOfOneQuery({}, frames));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].dir, "RX");
  EXPECT_EQ(frames[0].bytes, kQuery);
  EXPECT_EQ(frames[1].dir, "TX");
  EXPECT_EQ(frames[1].bytes, kQueryAnswer);
  ASSERT_TRUE(frames[1].last_us);
  EXPECT_GT(frames[1].time_us, frames[0].time_us);
  // Paced at 9600 bit/s: 5 ms of turnaround, then 21 bytes of 1.04 ms each. Only the
  // lower bound from the request is checked: a loaded machine may be later, and a
  // simulator that was held up catches up with its schedule, so the first byte's stamp
  // may come late and the answer's own span be shorter.
  EXPECT_GE(*frames[1].last_us - frames[0].time_us, 5000 + 20 * 1041);
  EXPECT_GE(*frames[1].last_us, frames[1].time_us);
}

TEST(SimProgram, RemovesItsPortLinkHoweverItEnds) {
  const struct {
    const char* how;
    int signal;  // 0: the console
    const char* command;
  } cases[] = {
      {"quit command", 0, "quit"},
      {"end of stdin", 0, nullptr},
      {"SIGTERM", SIGTERM, nullptr},
      {"SIGINT", SIGINT, nullptr},
  };
  for (const auto& c : cases) {
    SimProcess sim({"--name", "line-a"});
    ASSERT_TRUE(sim.Port("line-a")) << c.how;
    ASSERT_TRUE(fs::is_symlink(sim.link("line-a"))) << c.how;
    if (c.signal) {
      kill(sim.pid(), c.signal);
    } else if (c.command) {
      sim.Command(c.command);
    } else {
      sim.CloseStdin();
    }
    ASSERT_TRUE(sim.Wait(3s)) << c.how;
    EXPECT_TRUE(WIFEXITED(sim.status()) && WEXITSTATUS(sim.status()) == 0) << c.how;
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link("line-a")))) << c.how;
  }
}

TEST(SimProgram, IgnoresAFrameSentAtAnotherLineSpeed) {
  SimProcess sim({});
  const auto path = sim.Port();
  ASSERT_TRUE(path);
  EXPECT_TRUE(ExchangeOnce(*path, B19200, kQuery, 400ms).empty());
  EXPECT_EQ(ToHex(ExchangeOnce(*path, B9600, kQuery)), kQueryAnswer);
}

TEST(SimProgram, FollowsASpeedChangeOnlyAfterItsEcho) {
  SimProcess sim({});
  const auto path = sim.Port();
  ASSERT_TRUE(path);
  // Line-speed code 6 (19200 bit/s): the echo still comes at 9600.
  EXPECT_EQ(ToHex(ExchangeOnce(*path, B9600, "F7 06 00 02 00 06 BC 9E")),
            "F7 06 00 02 00 06 BC 9E");
  EXPECT_EQ(sim.ReadLineStartingWith("EVENT"), "EVENT #0 speed 4 -> 6");
  EXPECT_TRUE(ExchangeOnce(*path, B9600, kQuery, 400ms).empty());
  const Bytes answer = ExchangeOnce(*path, B19200, kQuery);
  ASSERT_EQ(answer.size(), 21u);
  EXPECT_EQ(answer[8], 6) << "register 2 holds the new code";
}

TEST(SimProgram, TakesANewAddressAfterTheEcho) {
  SimProcess sim({});
  const auto path = sim.Port();
  ASSERT_TRUE(path);
  EXPECT_EQ(ToHex(ExchangeOnce(*path, B9600, "F7 06 00 01 00 05 0C 9F")),
            "F7 06 00 01 00 05 0C 9F");
  EXPECT_EQ(sim.ReadLineStartingWith("EVENT"), "EVENT #0 address 247 -> 5");
  EXPECT_TRUE(ExchangeOnce(*path, B9600, "F7 03 00 00 00 01 90 9C", 400ms).empty());
  EXPECT_EQ(ToHex(ExchangeOnce(*path, B9600, "05 03 00 00 00 01 85 8E")), "05 03 02 00 10 48 48");
}

TEST(SimProgram, HostsSeveralDetectorsWithTheirFaults) {
  SimProcess sim({"--detector", "1", "--detector", "5:stray=2@0x00", "--detector", "9:id=0x0011"});
  const auto path = sim.Port();
  ASSERT_TRUE(path);
  MasterPort port(*path, B9600);
  ASSERT_TRUE(port.ok());
  EXPECT_EQ(ToHex(port.Exchange(FromHex("01 03 00 00 00 01 84 0A"))), "01 03 02 00 10 B9 88");
  EXPECT_EQ(ToHex(port.Exchange(FromHex("05 03 00 00 00 01 85 8E"))), "00 00 05 03 02 00 10 48 48");
  EXPECT_EQ(ToHex(port.Exchange(FromHex("09 03 00 00 00 01 85 42"))), "09 03 02 00 11 99 89");
  EXPECT_TRUE(port.Exchange(FromHex("F7 03 00 00 00 01 90 9C"), 300ms).empty());
}

TEST(SimProgram, SurvivesTheMasterReopeningThePortWithoutSpinning) {
  SimProcess sim({});
  const auto path = sim.Port();
  ASSERT_TRUE(path);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(ToHex(ExchangeOnce(*path, B9600, "F7 03 00 00 00 01 90 9C")), "F7 03 02 00 10 71 9D")
        << "exchange " << i;
  }
  // With nobody on the port the pty reports a hangup; a loop that polled it would burn
  // a whole core during this second.
  const auto before = sim.CpuTime();
  std::this_thread::sleep_for(1s);
  EXPECT_LT((sim.CpuTime() - before).count(), 200);
}

TEST(SimProgram, ServesASerialDeviceGivenByPathAndEndsWhenItGoesAway) {
  // A pty stands in for the real port: ornat-sim opens its slave end as the device,
  // and this test plays the line through the master end.
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  char name[128];
  ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
  close(slave);
  fcntl(master, F_SETFD, FD_CLOEXEC);  // or ornat-sim would inherit it and keep the line up
  SimProcess sim({"--device", name, "--detector", "5"});
  ASSERT_EQ(sim.ReadLineStartingWith("DEVICE"), std::string("DEVICE ") + name);
  EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link()))) << "a real port is not registered";

  const Bytes probe = FromHex("05 03 00 00 00 01 85 8E");
  ASSERT_EQ(write(master, probe.data(), probe.size()), 8);
  Bytes got;
  const auto deadline = Clock::now() + 2s;
  while (got.size() < 7 && Clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    std::uint8_t buf[64];
    const ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(ToHex(got), "05 03 02 00 10 48 48");

  close(master);
  ASSERT_TRUE(sim.Wait(3s)) << "the device went away";
  EXPECT_TRUE(WIFEXITED(sim.status()) && WEXITSTATUS(sim.status()) == 1);
}

TEST(SimProgram, AnUnpacedAnswerIsWrittenWholeAndLoggedWithOneTime) {
  std::vector<WireLine> frames;
  ASSERT_NO_FATAL_FAILURE(WireFramesOfOneQuery({"--unpaced"}, frames));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].dir, "TX");
  EXPECT_EQ(frames[1].bytes, kQueryAnswer);
  ASSERT_TRUE(frames[1].last_us);
  EXPECT_EQ(*frames[1].last_us, frames[1].time_us) << "all 21 bytes in one write";
}

TEST(SimProgram, ExplainsItselfWithHelp) {
  SimProcess sim({"--help"});
  std::string text;
  while (const auto line = sim.ReadLine(3000ms)) text += *line + "\n";
  ASSERT_TRUE(sim.Wait(3s));
  EXPECT_TRUE(WIFEXITED(sim.status()) && WEXITSTATUS(sim.status()) == 0);
  for (const char* word : {"--name", "--device", "--detector", "--wire-log", "--turnaround",
                           "--garble", "--bad-crc", "--echo", "--stray", "--pause", "--unpaced",
                           "unpaced on|off", "--answer-from", "answer-from ADDR|off", "alarm"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace ornat::sim
