#pragma once
// What the Wine tests need around a Windows program: where the Windows build and the
// Wine prefix are (the environment the Windows test phase sets: ORNAT_WIN32_BUILD,
// WINEPREFIX, ORNAT_WINE_PORTS), a COM port of the prefix pointed at a pty, and the
// program run under Wine with the modem-line shim preloaded, its stdin, stdout and
// stderr on pipes (or on a terminal, with a model of the screen it shows). Every wait is
// bounded; the destructor kills a program still running.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/child_output.h"

extern char** environ;

namespace ornat::testing {

// The environment variable, or "" (the test then fails, saying which is missing).
inline std::string WineSetting(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// A program of the Windows build, by its path under ORNAT_WIN32_BUILD.
inline std::string WindowsProgram(const std::string& relative) {
  return WineSetting("ORNAT_WIN32_BUILD") + "/" + relative;
}

// Points the prefix's COM port (mapped in HKLM\Software\Wine\Ports to the link
// $ORNAT_WINE_PORTS/<com7>) at a pty, replacing the link at once.
inline bool PointComPort(const std::string& com, const std::string& pty) {
  std::string link = WineSetting("ORNAT_WINE_PORTS") + "/";
  for (char c : com) link += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string tmp = link + ".new";
  std::error_code ec;
  std::filesystem::remove(tmp, ec);
  std::filesystem::create_symlink(pty, tmp, ec);
  if (ec) return false;
  std::filesystem::rename(tmp, link, ec);
  return !ec;
}

class WineProcess : public ChildOutput {
 public:
  // `wine program args...` with the shim preloaded (ORNAT_MODEM_SHIM_PATH) unless
  // with_shim is false.
  // reader_gone: stdout is a pipe whose reader has already gone (closed), so that
  // every write of the program to it fails.
  WineProcess(const std::string& program, const std::vector<std::string>& args,
              bool with_shim = true, bool reader_gone = false) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&fa, err[1], STDERR_FILENO);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0) env.emplace_back(*e);
    if (with_shim) env.push_back(std::string("LD_PRELOAD=") + ORNAT_MODEM_SHIM_PATH);
    env.push_back("WINEDEBUG=-all");
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_s = {"wine", program};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "wine", &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (reader_gone) {
      close(out_fd_);
      out_fd_ = -1;
    }
  }
  ~WineProcess() {
    if (in_ >= 0) close(in_);
    if (pid_ > 0) Wait(std::chrono::seconds(10));  // kills it when it does not end
  }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    if (in_ >= 0 && write(in_, text.data(), text.size()) < 0) {
      close(in_);
      in_ = -1;
    }
  }
  void CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // The next line of stdout (without its line end), or nullopt when none came in time.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
      const auto nl = out_.find('\n', taken_);
      if (nl != std::string::npos) {
        std::string line = out_.substr(taken_, nl - taken_);
        taken_ = nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      if (Clock::now() >= until || !Pump(until)) return std::nullopt;
    }
  }
  // Sends a command and returns the line it answers.
  std::optional<std::string> Ask(const std::string& command,
                                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    Send(command);
    return ReadLine(limit);
  }

 private:
  int in_ = -1;
  std::size_t taken_ = 0;
};

// Runs a Windows program to its end.
struct WineRun {
  int exit = -1;
  std::string out;
  std::string err;
};
inline WineRun RunUnderWine(const std::string& program, const std::vector<std::string>& args,
                            std::chrono::milliseconds limit = std::chrono::seconds(90),
                            bool reader_gone = false) {
  WineProcess p(program, args, true, reader_gone);
  p.CloseInput();
  WineRun r;
  r.exit = p.Wait(limit);
  r.out = p.out();
  r.err = p.err();
  return r;
}

// A Windows program run to its end under Wine with its console on a terminal (a pty of
// `columns` x 30, the modem-line shim preloaded): everything the terminal received,
// Wine's own escape sequences included, and the exit status (-1: killed at `limit`).
struct TerminalRun {
  int exit = -1;
  std::string shown;
};
inline TerminalRun RunUnderWineOnTerminal(const std::string& program,
                                          const std::vector<std::string>& args,
                                          unsigned short columns, std::chrono::milliseconds limit) {
  std::vector<std::string> argv_s = {"wine", program};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string preload = std::string("LD_PRELOAD=") + ORNAT_MODEM_SHIM_PATH;
  TerminalRun r;
  winsize size{30, columns, 0, 0};
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return r;
  if (pid == 0) {
    putenv(const_cast<char*>(preload.c_str()));
    putenv(const_cast<char*>("WINEDEBUG=-all"));
    execvp("wine", argv.data());
    _exit(127);
  }
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          until - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 100))) <= 0) continue;
    char buf[4096];
    const ssize_t got = read(master, buf, sizeof buf);
    if (got <= 0) break;  // EIO: the program and Wine have closed the terminal
    r.shown.append(buf, static_cast<std::size_t>(got));
  }
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) != pid) {
    // Wine's console may close the terminal a moment before the process ends.
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) poll(nullptr, 0, 20);
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      close(master);
      return r;
    }
  }
  close(master);
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// What a terminal shows after the bytes: the rows of a screen of `columns` that takes
// the carriage return, the line feed, and the sequences Wine's console writes (erase
// to the end of the line, cursor moves, cursor shown and hidden). Any other escape
// sequence is kept in unknown(), so that a test sees one it did not expect.
class TerminalScreen {
 public:
  TerminalScreen(const std::string& bytes, std::size_t columns) : columns_(columns) {
    for (std::size_t i = 0; i < bytes.size();) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      if (b == 0x1B && i + 1 < bytes.size() && bytes[i + 1] == '[') {
        std::size_t j = i + 2;
        while (j < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[j])) != 0 ||
                                    bytes[j] == ';' || bytes[j] == '?'))
          ++j;
        if (j >= bytes.size()) break;
        Csi(bytes.substr(i + 2, j - i - 2), bytes[j]);
        i = j + 1;
      } else if (b == '\r') {
        col_ = 0;
        ++i;
      } else if (b == '\n') {
        ++row_;
        ++i;
      } else if (b == 0x1B || b < 0x20) {
        unknown_.push_back(std::string(1, static_cast<char>(b)));
        ++i;
      } else {
        // One cell per UTF-8 character.
        std::size_t n = 1;
        while (i + n < bytes.size() && (static_cast<unsigned char>(bytes[i + n]) & 0xC0) == 0x80)
          ++n;
        Put(bytes.substr(i, n));
        i += n;
      }
    }
  }

  // The rows with their trailing blanks cut, the empty rows at the end left out.
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (const auto& cells : rows_) {
      std::string line;
      for (const auto& c : cells) line += c;
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out.push_back(line);
    }
    while (!out.empty() && out.back().empty()) out.pop_back();
    return out;
  }
  const std::vector<std::string>& unknown() const { return unknown_; }

 private:
  std::vector<std::string>& Row() {
    if (rows_.size() <= row_) rows_.resize(row_ + 1);
    return rows_[row_];
  }
  void Put(const std::string& ch) {
    if (col_ >= columns_) {  // the terminal wraps
      col_ = 0;
      ++row_;
    }
    auto& r = Row();
    if (r.size() <= col_) r.resize(col_ + 1, " ");
    r[col_++] = ch;
  }
  void Csi(const std::string& params, char final) {
    const int n = params.empty() || params[0] == '?' ? 0 : std::atoi(params.c_str());
    switch (final) {
      case 'K': {
        auto& r = Row();
        if (n == 0 && r.size() > col_) r.resize(col_);
        break;
      }
      case 'C':
        col_ += static_cast<std::size_t>(std::max(n, 1));
        break;
      case 'D':
        col_ -= std::min(col_, static_cast<std::size_t>(std::max(n, 1)));
        break;
      case 'G':
        col_ = static_cast<std::size_t>(std::max(n, 1) - 1);
        break;
      case 'H': {
        const int row = n;
        const std::size_t semi = params.find(';');
        const int col = semi == std::string::npos ? 1 : std::atoi(params.c_str() + semi + 1);
        row_ = static_cast<std::size_t>(std::max(row, 1) - 1);
        col_ = static_cast<std::size_t>(std::max(col, 1) - 1);
        break;
      }
      case 'J':
        if (n == 2) rows_.clear();
        break;
      case 'h':
      case 'l':
      case 'm':
        break;  // modes (the cursor shown or hidden) and colours: nothing on the rows
      default:
        unknown_.push_back(params + final);
    }
  }

  std::size_t columns_;
  std::size_t row_ = 0;
  std::size_t col_ = 0;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::string> unknown_;
};

}  // namespace ornat::testing
