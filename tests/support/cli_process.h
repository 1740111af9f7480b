#pragma once
// CliProcess: ornat-cli (the program at ORNAT_CLI_PATH) run as a child process with
// XDG_RUNTIME_DIR set to a running ornat-sim's (so "ornat-sim" is among its ports),
// its stdout on a pipe (or a file such as /dev/full) and its stderr on a pipe or, for
// what it shows only to a person, on a terminal (a pseudo-terminal in raw mode). Every wait is
// bounded; the destructor kills a child still running (SIGKILL) and reaps it. Header-only.
//
//   CliRun r = RunCli({"query", "--json"}, sim.runtime_dir());
//   EXPECT_EQ(r.exit, 0);
//
//   CliProcess watch({"watch"}, sim.runtime_dir());
//   watch.WaitForLines(3, 10s);
//   watch.Signal(SIGINT);
//   int exit = watch.Wait(10s);

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/child_output.h"
#include "support/spawn.h"

namespace ornat::testing {

struct CliRun {
  int exit = -1;  // the exit status; 128 + N when ended by signal N; -1: did not end
  std::string out;
  std::string err;
};

class CliProcess : public ChildOutput {
 public:
  enum class Stderr { kPipe, kTerminal };

  // stdout_path: stdout goes to that file (/dev/full, say) instead of a pipe.
  CliProcess(std::vector<std::string> args, const std::string& runtime_dir,
             Stderr stderr_on = Stderr::kPipe, const std::string& stdout_path = "") {
    int out[2] = {-1, -1}, err[2];
    if (stdout_path.empty() && pipe2(out, O_CLOEXEC) != 0) return;
    const bool opened = stderr_on == Stderr::kPipe ? pipe2(err, O_CLOEXEC) == 0 : OpenPty(err);
    if (!opened) {
      if (out[0] >= 0) close(out[0]);
      if (out[1] >= 0) close(out[1]);
      return;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (stdout_path.empty())
      posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    else
      posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, stdout_path.c_str(), O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, err[1], STDERR_FILENO);
    pid_ = SpawnWithRuntimeDir(ORNAT_CLI_PATH, std::move(args), runtime_dir, &fa);
    posix_spawn_file_actions_destroy(&fa);
    if (out[1] >= 0) close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
  }

  // Closes this end of the stdout pipe, as a reader that goes away (`| head -1`).
  void CloseStdout() {
    if (out_fd_ >= 0) close(out_fd_);
    out_fd_ = -1;
  }

 private:
  // err[0]: the master, err[1]: the terminal, raw (no CR before each LF).
  static bool OpenPty(int err[2]) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return false;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
      close(master);
      return false;
    }
    const int term = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (term < 0) {
      close(master);
      return false;
    }
    termios t{};
    tcgetattr(term, &t);
    cfmakeraw(&t);
    tcsetattr(term, TCSANOW, &t);
    err[0] = master;
    err[1] = term;
    return true;
  }
};

inline CliRun RunCli(const std::vector<std::string>& args, const std::string& runtime_dir,
                     std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  CliProcess p(args, runtime_dir);
  CliRun r;
  r.exit = p.Wait(limit);
  r.out = p.out();
  r.err = p.err();
  return r;
}

}  // namespace ornat::testing
