#pragma once
// SimProcess: one running ornat-sim (the program at ORNAT_SIM_PATH) on a pseudo-
// terminal, with its console on pipes, a private XDG_RUNTIME_DIR and a wire log; and
// the reading of that wire log on this process's steady clock. Header-only, so the
// benchmarks use it too. Every wait is bounded; the destructor ends the process
// (SIGKILL at worst) and removes its folder.
//
//   SimProcess sim({"--turnaround", "5"});
//   ASSERT_TRUE(sim.Started());
//   PosixCommDevice opens sim.pty_path() (or "ornat-sim" with XDG_RUNTIME_DIR set to
//   sim.runtime_dir());
//   sim.Command("alarm");           // -> "OK ..." line
//   sim.WireAnswers()               // answers with the time of their last byte

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "spawn.h"

namespace ornat::testing {

class SimProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // One frame of the wire log.
  struct WireAnswer {
    std::string direction;    // "TX" (an answer) or "RX" (a request from the master)
    Clock::time_point first;  // TX: its first byte went out; RX: its last byte was read
    Clock::time_point last;   // TX: its last byte went out; RX: as `first`
    std::string hex;          // "F7 03 10 ..."
    std::string note;
  };

  explicit SimProcess(std::vector<std::string> args = {})
      : SimProcess(ORNAT_SIM_PATH, {}, std::move(args)) {}

 protected:
  // Another program that stands in for a line as ornat-sim does (its "PORT NAME PATH"
  // line, its console, --wire-log): program, then `before` (its script), then args.
  SimProcess(const char* program, std::vector<std::string> before, std::vector<std::string> args) {
    char tmpl[] = "/tmp/ornat-engine-sim-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    runtime_dir_ = tmpl;
    wire_log_ = runtime_dir_ + "/wire.log";
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    args.insert(args.begin(), {"--wire-log", wire_log_});
    args.insert(args.begin(), before.begin(), before.end());
    pid_ = SpawnWithRuntimeDir(program, std::move(args), runtime_dir_, &fa);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    if (pid_ <= 0) return;
    // "PORT ornat-sim /dev/pts/N", or with --listen "LISTEN tcp://127.0.0.1:40123"
    if (auto line = ReadLine(std::chrono::seconds(20)); line && line->rfind("PORT ", 0) == 0) {
      std::istringstream words(line->substr(5));
      words >> port_name_ >> pty_path_;
    } else if (line && line->rfind("LISTEN ", 0) == 0) {
      listen_url_ = line->substr(7);
    }
  }

 public:
  ~SimProcess() {
    if (stdin_ >= 0) close(stdin_);  // end of input ends the program
    if (pid_ > 0 && !Wait(std::chrono::seconds(3))) KillNow(pid_);
    if (stdout_ >= 0) close(stdout_);
    std::error_code ec;
    if (!runtime_dir_.empty()) std::filesystem::remove_all(runtime_dir_, ec);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Started() const { return pid_ > 0 && (!pty_path_.empty() || !listen_url_.empty()); }
  // With --listen: the address it listens on, the port it was given included.
  const std::string& listen_url() const { return listen_url_; }
  const std::string& pty_path() const { return pty_path_; }
  const std::string& port_name() const { return port_name_; }
  const std::string& runtime_dir() const { return runtime_dir_; }

  // Sends a console command; returns its final "OK ..." or "ERR ..." line.
  std::optional<std::string> Command(const std::string& command) {
    const std::string text = command + "\n";
    if (stdin_ < 0 || write(stdin_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      return std::nullopt;
    for (;;) {
      auto line = ReadLine(std::chrono::seconds(5));
      if (!line) return std::nullopt;
      if (line->rfind("OK", 0) == 0 || line->rfind("ERR", 0) == 0) return line;
    }
  }

  // Ends the process at once, with SIGKILL: no cleanup of its own.
  void Kill() { KillNow(pid_); }

  // The answers of the wire log so far, on this process's steady clock (the log's
  // header gives its start on CLOCK_MONOTONIC, which steady_clock is on Linux).
  std::vector<WireAnswer> WireAnswers() const { return WireFrames("TX"); }
  // The requests the simulator read, stamped when their last byte was read.
  std::vector<WireAnswer> WireRequests() const { return WireFrames("RX"); }
  // The events of the wire log (the port opened or closed...): their text in `hex`.
  std::vector<WireAnswer> WireEvents() const { return WireFrames("EV"); }
  // The wire log itself (it goes with the folder when the process ends).
  const std::string& wire_log_path() const { return wire_log_; }

 private:
  std::vector<WireAnswer> WireFrames(const std::string& which) const {
    std::vector<WireAnswer> out;
    std::ifstream in(wire_log_);
    std::string line;
    std::optional<Clock::time_point> t0;
    while (std::getline(in, line)) {
      if (line.rfind("#", 0) == 0) {
        auto at = line.find("CLOCK_MONOTONIC ");
        if (at != std::string::npos) {
          const double s = std::stod(line.substr(at + 16));
          t0 = Clock::time_point(
              std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s)));
        }
        continue;
      }
      if (!t0) continue;
      std::istringstream words(line);
      std::string stamp, dir;
      words >> stamp >> dir;
      if (dir != which) continue;
      WireAnswer a;
      a.direction = dir;
      a.first = a.last = *t0 + Us(std::stod(stamp));
      std::string w;
      while (words >> w) {
        if (w.rfind("last=", 0) == 0)
          a.last = *t0 + Us(std::stod(w.substr(5)));
        else if (w.rfind("note=", 0) == 0)
          a.note = w.substr(5);
        else
          a.hex += (a.hex.empty() ? "" : " ") + w;
      }
      out.push_back(std::move(a));
    }
    return out;
  }

  static Clock::duration Us(double us) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::micro>(us));
  }

  bool Wait(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[1024];
      const ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
  std::string runtime_dir_;
  std::string wire_log_;
  std::string port_name_;
  std::string pty_path_;
  std::string listen_url_;
};

// The frames' bytes as the wire log spells them ("F7 03 00 ..."), in order.
inline std::vector<std::string> FramesHex(const std::vector<SimProcess::WireAnswer>& frames) {
  std::vector<std::string> out;
  for (const auto& f : frames) out.push_back(f.hex);
  return out;
}

}  // namespace ornat::testing
