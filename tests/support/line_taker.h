#pragma once
// LineTaker: a forked child that takes a line (once it has read a byte of start_fd, if
// given: takers that start at one instant), tells how that went, and keeps what it took
// until it is killed. Fork only while this process runs no other thread.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>

#include "serial/line_lock.h"
#include "support/basic_form.h"
#include "support/runtime_dir.h"

namespace ornat::testing {

struct TakeReport {
  LineLock::Outcome outcome = LineLock::Outcome::kUnavailable;  // as the child's take gave
  LineHolder holder;                                            // with kInUse
};

class LineTaker {
 public:
  LineTaker(const std::string& port, const std::string& runs, int start_fd = -1) {
    if (::pipe2(report_, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::alarm(60);  // never outlives the test by long
      char c;
      if (start_fd >= 0) (void)!::read(start_fd, &c, 1);
      auto* lock = new LineLock;  // held until the process ends
      const int outcome = static_cast<int>(lock->Take(port, runs));
      const std::string text = std::to_string(outcome) + " " + std::to_string(lock->Holder().pid) +
                               " " + lock->Holder().runs;
      (void)!::write(report_[1], text.data(), text.size());
      for (;;) ::pause();
    }
    ::close(report_[1]);
  }
  ~LineTaker() {
    Kill();
    ::close(report_[0]);
  }
  LineTaker(const LineTaker&) = delete;
  LineTaker& operator=(const LineTaker&) = delete;

  pid_t pid() const { return pid_; }
  // The child's word on its take (waited for up to 10 s on the first call).
  const TakeReport& Report() {
    if (told_) return *told_;
    told_ = TakeReport{};
    pollfd wait{report_[0], POLLIN, 0};
    char buf[512];
    const ssize_t n = ::poll(&wait, 1, 10000) == 1 ? ::read(report_[0], buf, sizeof buf) : 0;
    std::istringstream in(std::string(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0))));
    int outcome = -1;
    if (in >> outcome >> told_->holder.pid >> std::ws) {
      told_->outcome = LineLock::Outcome(outcome);
      std::getline(in, told_->holder.runs);
    }
    return *told_;
  }
  // Whatever it held is free when this returns.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int report_[2] = {-1, -1};
  std::optional<TakeReport> told_;
};

}  // namespace ornat::testing
