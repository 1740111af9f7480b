#pragma once
// ForeignSlave: a Modbus-RTU slave that is not ours, pymodbus's serial server
// (python3-pymodbus, Debian's) on a pseudo-terminal, run by support/foreign_slave.py
// with Debian's python3. Its options are the script's (--unit N, --answer-as N,
// --registers LIST, --echo-value N). Every wait is bounded; the destructor closes its
// stdin (which ends it) and kills it if it lingers. Header-only.
//
//   ORNAT_SKIP_IF_MISSING(ForeignSlaveMissing());
//   ForeignSlave slave({"--unit", "3", "--answer-as", "4"});
//   ASSERT_TRUE(slave.Started()) << slave.Why();
//   LiveForm f(slave.pty_path());

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/test_environment.h"

extern char** environ;

namespace ornat::testing {

// What the foreign slave lacks here (Debian's python3 with pymodbus), or "".
inline std::string ForeignSlaveMissing() {
  return PythonModuleMissing(ORNAT_DEBIAN_PYTHON, "pymodbus.server", "python3-pymodbus");
}

class ForeignSlave {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ForeignSlave(std::vector<std::string> args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&fa, err[1], STDERR_FILENO);
    args.insert(args.begin(), {ORNAT_DEBIAN_PYTHON, ORNAT_FOREIGN_SLAVE_SCRIPT});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    if (pid_ <= 0) return;
    // "PORT /dev/pts/N" once pymodbus serves.
    const auto until = Clock::now() + std::chrono::seconds(20);
    std::string text;
    while (Clock::now() < until && text.find('\n') == std::string::npos) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    if (text.rfind("PORT ", 0) == 0) pty_path_ = text.substr(5, text.find('\n') - 5);
  }

  ~ForeignSlave() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) {
      const auto until = Clock::now() + std::chrono::seconds(5);
      while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
        if (Clock::now() >= until) {
          kill(pid_, SIGKILL);
          waitpid(pid_, nullptr, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    for (int fd : {stdout_, stderr_})
      if (fd >= 0) close(fd);
  }
  ForeignSlave(const ForeignSlave&) = delete;
  ForeignSlave& operator=(const ForeignSlave&) = delete;

  bool Started() const { return pid_ > 0 && !pty_path_.empty(); }
  const std::string& pty_path() const { return pty_path_; }

  // Why it did not start: what the script said on stderr.
  std::string Why() const {
    std::string text;
    pollfd p{stderr_, POLLIN, 0};
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      char buf[1024];
      const ssize_t n = read(stderr_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    return "the pymodbus slave did not start (python3-pymodbus, python3-serial and "
           "python3-serial-asyncio: bash scripts/deps.sh installs them): " +
           text;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string pty_path_;
};

}  // namespace ornat::testing
