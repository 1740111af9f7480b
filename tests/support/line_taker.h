#pragma once
// LineTaker: another process that takes a line (LineLock): a forked child that waits
// for the start (a byte on a pipe, for takers that must start at one instant),
// takes the line, tells the test how that went, and keeps what it took until it is
// killed (SIGKILL, by the destructor at the latest). Fork only while this process runs
// no other thread. Header-only.
//
//   LineTaker other("COM1", "ornat-cli watch --port COM1");
//   ASSERT_EQ(other.Report().outcome, LineLock::Outcome::kTaken);

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <ostream>
#include <string>

#include "serial/line_lock.h"
#include "support/basic_form.h"

namespace ornat {
// How a failed expectation shows a holder.
inline void PrintTo(const LineHolder& h, std::ostream* os) {
  *os << "{pid " << h.pid << ", \"" << h.runs << "\"}";
}
}  // namespace ornat

namespace ornat::testing {

// A runtime folder of the test's own (XDG_RUNTIME_DIR while it lives): the lines it
// locks and the virtual ports it registers are nobody else's.
class PrivateRuntimeDir : public TempDir {
 public:
  PrivateRuntimeDir() {
    if (const char* before = std::getenv("XDG_RUNTIME_DIR")) before_ = before;
    ::setenv("XDG_RUNTIME_DIR", path().c_str(), 1);
  }
  ~PrivateRuntimeDir() {
    if (before_)
      ::setenv("XDG_RUNTIME_DIR", before_->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  std::optional<std::string> before_;
};

struct TakeReport {
  LineLock::Outcome outcome = LineLock::Outcome::kUnavailable;
  LineHolder holder;  // with kInUse
  bool came = false;  // false: the child told nothing within 10 s
};

class LineTaker {
 public:
  // start_fd: the child takes once it has read a byte of it.
  LineTaker(const std::string& port, const std::string& runs, int start_fd = -1) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(p[0]);
      ::alarm(60);  // never outlives the test by long
      char c;
      if (start_fd >= 0) (void)!::read(start_fd, &c, 1);
      auto* lock = new LineLock;  // held until the process ends
      const int outcome = static_cast<int>(lock->Take(port, runs));
      const std::string text = std::to_string(outcome) + "\n" + std::to_string(lock->Holder().pid) +
                               "\n" + lock->Holder().runs;
      (void)!::write(p[1], text.data(), text.size());
      ::close(p[1]);
      for (;;) ::pause();
    }
    ::close(p[1]);
    report_fd_ = p[0];
  }
  ~LineTaker() {
    Kill();
    if (report_fd_ >= 0) ::close(report_fd_);
  }
  LineTaker(const LineTaker&) = delete;
  LineTaker& operator=(const LineTaker&) = delete;

  pid_t pid() const { return pid_; }

  // What the child's take gave (read once; waits up to 10 s for it).
  const TakeReport& Report() {
    std::string text;
    char buf[512];
    pollfd wait{report_fd_, POLLIN, 0};
    while (report_fd_ >= 0 && ::poll(&wait, 1, 10000) == 1) {
      const ssize_t n = ::read(report_fd_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    if (report_fd_ >= 0) ::close(report_fd_);
    report_fd_ = -1;
    const std::size_t a = text.find('\n'), b = text.find('\n', a + 1);
    if (b != std::string::npos) {
      report_.came = true;
      report_.outcome = static_cast<LineLock::Outcome>(std::stoi(text.substr(0, a)));
      report_.holder = {std::stol(text.substr(a + 1, b - a - 1)), text.substr(b + 1)};
    }
    return report_;
  }

  // Ends it as SIGKILL does: whatever it held is free when this returns.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int report_fd_ = -1;
  TakeReport report_;
};

}  // namespace ornat::testing
