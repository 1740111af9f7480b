#pragma once
// A child process's stdout and stderr read from pipes (or a terminal's master) without
// blocking past a deadline, and its exit status: what CliProcess and the Wine tests'
// WineProcess share. The derived class starts the child and sets pid_, out_fd_ and
// err_fd_; every wait is bounded; the destructor kills a child still running (SIGKILL)
// and reaps it.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "support/spawn.h"

namespace ornat::testing {

class ChildOutput {
 public:
  using Clock = std::chrono::steady_clock;

  ChildOutput() = default;
  ~ChildOutput() {
    KillNow(pid_);
    for (int fd : {out_fd_, err_fd_})
      if (fd >= 0) close(fd);
  }
  ChildOutput(const ChildOutput&) = delete;
  ChildOutput& operator=(const ChildOutput&) = delete;

  bool Started() const { return pid_ > 0 || exit_ >= 0; }
  // The process id until Wait has reaped it (-1 after).
  pid_t pid() const { return pid_; }
  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  // Reads until stdout holds n lines or the time is up; true when it does.
  bool WaitForLines(std::size_t n, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (static_cast<std::size_t>(std::count(out_.begin(), out_.end(), '\n')) < n)
      if (Clock::now() >= until || !Pump(until)) return false;
    return true;
  }

  // Reads both outputs to their end and reaps the child: its exit status, 128 + N when
  // signal N ended it, -1 when it did not end in time (it is then killed).
  int Wait(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while ((out_fd_ >= 0 || err_fd_ >= 0) && Clock::now() < until) Pump(until);
    if (pid_ > 0) {
      int status = 0;
      for (;;) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) break;
        if (Clock::now() >= until) {
          KillNow(pid_);
          return -1;
        }
        poll(nullptr, 0, 10);
      }
      pid_ = -1;
      exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return exit_;
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 protected:
  // One poll on the open outputs; false when both are closed.
  bool Pump(Clock::time_point until) {
    pollfd p[2];
    int n = 0;
    for (int fd : {out_fd_, err_fd_})
      if (fd >= 0) p[n++] = {fd, POLLIN, 0};
    if (n == 0) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (poll(p, static_cast<nfds_t>(n), static_cast<int>(std::max<long long>(0, left))) <= 0)
      return true;
    for (int i = 0; i < n; ++i) {
      if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buf[4096];
      const ssize_t got = read(p[i].fd, buf, sizeof buf);
      int& fd = p[i].fd == out_fd_ ? out_fd_ : err_fd_;
      std::string& into = p[i].fd == out_fd_ ? out_ : err_;
      if (got > 0) {
        into.append(buf, static_cast<std::size_t>(got));
      } else {
        close(fd);
        fd = -1;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int exit_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
};

}  // namespace ornat::testing
