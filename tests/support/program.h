#pragma once
// Program: a program a test runs beside it (socat, ser2net, a pymodbus server), its
// output in files of the test's folder; stopped with SIGTERM (SIGKILL at worst) when
// the object goes. Header-only.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/spawn.h"
#include "support/text_lines.h"

namespace ornat::testing {

// A program of the test's, its output in files; stopped with SIGTERM (SIGKILL at
// worst) when the object goes.
class Program {
 public:
  Program(std::vector<std::string> argv, const std::string& dir, const std::string& tag)
      : out_(dir + "/" + tag + ".out"), err_(dir + "/" + tag + ".err") {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out_.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err_.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Program() { Stop(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Running() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }
  pid_t pid() const { return pid_; }
  std::string Out() const { return FileText(out_); }
  std::string Err() const { return FileText(err_); }
  // Waits until the program's stderr (or stdout) holds `text`.
  bool WaitFor(const std::string& text,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (Err().find(text) != std::string::npos || Out().find(text) != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 300 && ::waitpid(pid_, nullptr, WNOHANG) != pid_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    KillNow(pid_);
  }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
};

}  // namespace ornat::testing
