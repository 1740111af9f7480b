#pragma once
// HoldingProcess: another program that keeps a serial device open, as `cat
// /dev/ttyUSB0` or a terminal program does: a program started with posix_spawn, or a
// forked child of this process that opens the device its own way. The destructor
// kills it (SIGKILL) and waits for it. Header-only.
//
//   HoldingProcess cat({"/bin/cat", pty_path}, pty_path);
//   ASSERT_TRUE(cat.Started());
//   ... "held by cat (pid " + std::to_string(cat.pid()) + ")"
//   HoldingProcess window([&] { return (new PosixCommDevice)->Open(name); });
//   ASSERT_EQ(window.open_result(), 0);

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/spawn.h"
#include "support/text_lines.h"

extern char** environ;

namespace ornat::testing {

class HoldingProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // argv[0] is the program's path; `device` the device it opens. Started() once the
  // program has it open (seen in /proc/<pid>/fd, apart from the device's own look
  // for holders) and, when `name` is given, once the system knows it by that name (a
  // shell that opens the device and then execs another program is known by its own
  // name until the exec).
  HoldingProcess(std::vector<std::string> argv, const std::string& device,
                 const std::string& name = {}) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    if (pid_ <= 0) return;
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!holding_ && Clock::now() < until) {
      holding_ = Holds(st.st_rdev) && (name.empty() || Name() == name);
      if (!holding_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // A forked child that runs `open` (0 or an errno), then stays until it is killed.
  // Fork only while this process runs no other thread. Started() when `open` gave 0.
  explicit HoldingProcess(const std::function<int()>& open) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(p[0]);
      ::alarm(60);  // never outlives the test by long
      const int e = open();
      (void)!::write(p[1], &e, sizeof e);
      for (;;) ::pause();
    }
    ::close(p[1]);
    pollfd wait{p[0], POLLIN, 0};
    if (pid_ > 0 && ::poll(&wait, 1, 10000) == 1 &&
        ::read(p[0], &open_result_, sizeof open_result_) != sizeof open_result_)
      open_result_ = -1;
    ::close(p[0]);
    holding_ = open_result_ == 0;
  }
  ~HoldingProcess() { Kill(); }
  HoldingProcess(const HoldingProcess&) = delete;
  HoldingProcess& operator=(const HoldingProcess&) = delete;

  bool Started() const { return pid_ > 0 && holding_; }
  pid_t pid() const { return pid_; }
  // What `open` gave in a forked child (-1 when it told nothing).
  int open_result() const { return open_result_; }

  // Ends it at once; its descriptors are closed when this returns.
  void Kill() { KillNow(pid_); }

 private:
  bool Holds(dev_t rdev) const {
    std::error_code ec;
    const std::string dir = "/proc/" + std::to_string(pid_) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      struct stat st {};
      if (::stat(entry.path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev)
        return true;
    }
    return false;
  }

  // As the system knows the program (/proc/<pid>/comm).
  std::string Name() const {
    std::string comm = FileText("/proc/" + std::to_string(pid_) + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    return comm;
  }

  pid_t pid_ = -1;
  bool holding_ = false;
  int open_result_ = -1;
};

}  // namespace ornat::testing
