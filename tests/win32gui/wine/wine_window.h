#pragma once
// The Win32 window under Wine, for the tests of the Linux build: ornat.exe started in
// the test prefix (scripts/windows.sh makes it: fonts, a virtual desktop of 1280 x 1024,
// COM1 mapped to a link that each test points at its simulator's pty, a persistent
// wineserver) with the modem-line shim preloaded, ornat-sim on a pty, and the project's
// driver (gui_driver.exe) as a second Wine process that finds the window by its caption
// and works it through its standard controls. Every wait is bounded; the destructor ends
// what it started.
//
// The set-up comes from the environment: ORNAT_WINEPREFIX (the prefix), ORNAT_WINE_COM1
// (the path COM1 is mapped to), ORNAT_WINE_SHIM (the shim to preload, optional).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_process.h"

extern char** environ;

namespace ornat::testing {

inline constexpr const char* kWindowCaption = "  ОРНАТ(-2)-Zev   (MODBUS-RTU)   V1.03 - 2019";

struct WineSetup {
  std::string prefix;
  std::string com1;
  std::string shim;
  static WineSetup FromEnvironment() {
    auto get = [](const char* name) {
      const char* v = std::getenv(name);
      return std::string(v != nullptr ? v : "");
    };
    return WineSetup{get("ORNAT_WINEPREFIX"), get("ORNAT_WINE_COM1"), get("ORNAT_WINE_SHIM")};
  }
  // What is missing for the tests, or empty.
  std::string Missing() const {
    if (prefix.empty() || !std::filesystem::exists(prefix + "/system.reg"))
      return "no Wine prefix in ORNAT_WINEPREFIX (scripts/windows.sh makes one)";
    if (com1.empty()) return "ORNAT_WINE_COM1 does not name the path COM1 is mapped to";
    if (std::getenv("DISPLAY") == nullptr) return "no DISPLAY (run under xvfb-run)";
    return {};
  }
};

// The driver's escapes: \s for a space inside one word, \t \n \r \\.
inline std::string DriverEscape(const std::string& s, bool spaces) {
  std::string out;
  for (char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == ' ' && spaces)
      out += "\\s";
    else
      out += c;
  }
  return out;
}

inline std::string DriverUnescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 's' ? ' ' : c;
  }
  return out;
}

// A Windows program run by wine with its stdin and stdout on pipes.
class WineProcess {
 public:
  using Clock = std::chrono::steady_clock;

  WineProcess(const WineSetup& setup, const std::string& program, std::vector<std::string> args,
              bool preload_shim) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "WINEPREFIX=", 11) == 0 || std::strncmp(*e, "WINEDEBUG=", 10) == 0 ||
          std::strncmp(*e, "LD_PRELOAD=", 11) == 0)
        continue;
      env.emplace_back(*e);
    }
    env.push_back("WINEPREFIX=" + setup.prefix);
    env.push_back("WINEDEBUG=-all");
    if (preload_shim && !setup.shim.empty()) env.push_back("LD_PRELOAD=" + setup.shim);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    args.insert(args.begin(), {"wine", program});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    if (posix_spawnp(&pid_, "wine", &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~WineProcess() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0 && Wait(std::chrono::seconds(10)) < 0) Kill();
    if (stdout_ >= 0) close(stdout_);
  }
  WineProcess(const WineProcess&) = delete;
  WineProcess& operator=(const WineProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  bool WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    return stdin_ >= 0 &&
           write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || stdout_ < 0) return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }
  // The exit status, or -1 when the process has not ended within the limit.
  int Wait(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exit_;
      }
      if (Clock::now() >= until) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exit_;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int exit_ = -1;
  std::string buffer_;
};

// Runs a Windows program to its end (wine reg ...); its exit status, -1 if it hung.
inline int RunUnderWine(const WineSetup& setup, const std::string& program,
                        std::vector<std::string> args) {
  WineProcess p(setup, program, std::move(args), false);
  if (!p.Started()) return -1;
  const int status = p.Wait(std::chrono::seconds(60));
  if (status < 0) p.Kill();
  return status;
}

// One control as the driver sees it, in the client area's pixels.
struct SeenControl {
  std::string name, cls;
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = false, enabled = false;
  int check = 0;
  std::string text;
};

class Driver {
 public:
  explicit Driver(const WineSetup& setup) : process_(setup, ORNAT_GUI_DRIVER_EXE, {}, false) {}
  bool Started() const { return process_.Started(); }
  // One command, one answer line ("" when none came in time).
  std::string Ask(const std::string& command,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    if (!process_.WriteLine(command)) return {};
    return process_.ReadLine(timeout).value_or("");
  }
  std::vector<std::string> AskLines(const std::string& command) {
    std::vector<std::string> lines;
    if (!process_.WriteLine(command)) return lines;
    while (auto line = process_.ReadLine(std::chrono::seconds(30))) {
      if (*line == "end" || line->rfind("error", 0) == 0) break;
      lines.push_back(*line);
    }
    return lines;
  }
  bool Find(std::chrono::milliseconds timeout) {
    return Ask("find " + DriverEscape(kWindowCaption, true) + " " + std::to_string(timeout.count()),
               timeout + std::chrono::seconds(10)) == "ok";
  }
  std::map<std::string, SeenControl> Controls() {
    std::map<std::string, SeenControl> all;
    for (const std::string& line : AskLines("controls")) {
      std::istringstream words(line);
      std::string kind;
      SeenControl c;
      int visible = 0, enabled = 0;
      words >> kind >> c.name >> c.cls >> c.left >> c.top >> c.width >> c.height >> visible >>
          enabled >> c.check;
      c.visible = visible != 0;
      c.enabled = enabled != 0;
      std::string text;
      std::getline(words, text);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      c.text = DriverUnescape(text);
      all[c.name] = c;
    }
    return all;
  }
  std::string Text(const std::string& control) {
    const std::string line = Ask("text " + control);
    return line.rfind("text ", 0) == 0 ? DriverUnescape(line.substr(5)) : std::string();
  }
  // Waits until the control's text holds `part`.
  bool WaitFor(const std::string& control, const std::string& part,
               std::chrono::milliseconds timeout) {
    return Ask("wait " + control + " " + DriverEscape(part, true) + " " +
                   std::to_string(timeout.count()),
               timeout + std::chrono::seconds(10)) == "ok";
  }
  WineProcess& process() { return process_; }

 private:
  WineProcess process_;
};

// ornat-sim on a pty, COM1 leading to it, ornat.exe at a screen scale, and the driver on
// its window.
class WineWindow {
 public:
  explicit WineWindow(int dpi = 96, std::vector<std::string> sim_args = {"--no-console"},
                      std::vector<std::string> ornat_args = {})
      : setup_(WineSetup::FromEnvironment()), sim_(std::move(sim_args)) {
    why_ = setup_.Missing();
    if (!why_.empty()) return;
    if (!sim_.Started()) {
      why_ = "ornat-sim did not start";
      return;
    }
    std::error_code ec;
    std::filesystem::remove(setup_.com1, ec);
    std::filesystem::create_symlink(sim_.pty_path(), setup_.com1, ec);
    if (ec) {
      why_ = "cannot point " + setup_.com1 + " at " + sim_.pty_path();
      return;
    }
    // Each Wine process takes the scale from the registry when it starts.
    if (RunUnderWine(setup_, "reg",
                     {"add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                      "/d", std::to_string(dpi), "/f"}) != 0) {
      why_ = "cannot set the screen's scale";
      return;
    }
    ornat_ = std::make_unique<WineProcess>(setup_, ORNAT_WIN32_EXE, std::move(ornat_args), true);
    driver_ = std::make_unique<Driver>(setup_);
    if (!ornat_->Started() || !driver_->Started()) {
      why_ = "wine did not start ornat.exe or the driver";
      return;
    }
    if (!driver_->Find(std::chrono::seconds(60))) why_ = "the window did not appear";
  }
  ~WineWindow() {
    if (driver_ && ornat_ && ornat_->Started()) {
      driver_->Ask("close", std::chrono::seconds(5));
      if (ornat_->Wait(std::chrono::seconds(15)) < 0) ornat_->Kill();
    }
    if (driver_) driver_->Ask("quit", std::chrono::seconds(1));
    driver_.reset();
    ornat_.reset();
  }
  WineWindow(const WineWindow&) = delete;
  WineWindow& operator=(const WineWindow&) = delete;

  // Empty when the window is up; else what went wrong.
  const std::string& Why() const { return why_; }
  Driver& driver() { return *driver_; }
  SimProcess& sim() { return sim_; }
  WineProcess& ornat() { return *ornat_; }
  const WineSetup& setup() const { return setup_; }

 private:
  WineSetup setup_;
  SimProcess sim_;
  std::string why_;
  std::unique_ptr<WineProcess> ornat_;
  std::unique_ptr<Driver> driver_;
};

}  // namespace ornat::testing
