#pragma once
// The Win32 window under Wine, for the tests of the Linux build: ornat.exe started in
// the Windows test phase's prefix (scripts/test-windows.sh makes it: COM1 mapped to a
// link that each test points at its simulator's pty, a virtual desktop of 1280 x 1024,
// the fonts, one persistent wineserver) with the modem-line shim preloaded, ornat-sim on
// a pty, and the project's driver (gui_driver.exe) as a second Wine process that finds
// the window by its caption and works it through its standard controls. Every wait is
// bounded; the destructor ends what it started.
//
// The set-up comes from the environment the phase sets (ORNAT_WIN32_BUILD, WINEPREFIX,
// ORNAT_WINE_PORTS: wine/wine_process.h) and a display (it runs under xvfb-run).

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
#include "support/test_environment.h"
#include "wine/wine_process.h"

namespace ornat::testing {

inline constexpr const char* kWindowCaption = "  ОРНАТ(-2)-Zev   (MODBUS-RTU)   V1.03 - 2019";

// What is missing for the tests (they then skip saying so: support/test_environment.h),
// or empty.
inline std::string WineWindowSetupMissing() {
  if (std::string missing =
          WineSetupMissing({"src/win32/ornat.exe", "tests/win32gui/gui_driver.exe"});
      !missing.empty())
    return missing;
  if (WineSetting("DISPLAY").empty()) return "no DISPLAY (the phase runs under xvfb-run)";
  return {};
}

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
  Driver() : process_(WindowsProgram("tests/win32gui/gui_driver.exe"), {}, false) {}
  bool Started() const { return process_.Started(); }
  // One command, one answer line ("" when none came in time).
  std::string Ask(const std::string& command,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return process_.Ask(command, timeout).value_or("");
  }
  std::vector<std::string> AskLines(const std::string& command) {
    std::vector<std::string> lines;
    process_.Send(command);
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

// The message boxes the window shows, once there is one (up to 10 s: none by then).
inline std::vector<std::string> WaitForBoxes(Driver& d) {
  std::vector<std::string> boxes;
  for (int i = 0; i < 100 && boxes.empty(); ++i) {
    boxes = d.AskLines("boxes");
    if (boxes.empty()) d.Ask("sleep 100");
  }
  return boxes;
}

// Panel `i` of the window's status bar, without the tab that centres it.
inline std::string StatusPanel(Driver& d, int i) {
  const auto lines = d.AskLines("panels");
  if (i >= static_cast<int>(lines.size())) return "?";
  std::istringstream words(lines[static_cast<std::size_t>(i)]);
  std::string kind, text;
  int index, l, t, w, h;
  words >> kind >> index >> l >> t >> w >> h;
  std::getline(words, text);
  text = DriverUnescape(text.substr(1));
  if (!text.empty() && text[0] == '\t') text.erase(0, 1);
  return text;
}

// ornat-sim on a pty, COM1 leading to it, ornat.exe at a screen scale, and the driver on
// its window.
class WineWindow {
 public:
  explicit WineWindow(int dpi = 96, std::vector<std::string> sim_args = {"--no-console"},
                      std::vector<std::string> ornat_args = {})
      : sim_(std::move(sim_args)) {
    why_ = WineWindowSetupMissing();
    if (!why_.empty()) return;
    if (!sim_.Started()) {
      why_ = "ornat-sim did not start";
      return;
    }
    // Port discovery picks COM1 at start-up: it leads to this test's simulator.
    if (!PointComPort("COM1", sim_.pty_path())) {
      why_ = "cannot point COM1 at " + sim_.pty_path();
      return;
    }
    // Each Wine process takes the scale from the registry when it starts.
    if (RunUnderWine("reg", {"add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                             "REG_DWORD", "/d", std::to_string(dpi), "/f"})
            .exit != 0) {
      why_ = "cannot set the screen's scale";
      return;
    }
    ornat_ =
        std::make_unique<WineProcess>(WindowsProgram("src/win32/ornat.exe"), std::move(ornat_args));
    driver_ = std::make_unique<Driver>();
    if (!ornat_->Started() || !driver_->Started()) {
      why_ = "wine did not start ornat.exe or the driver";
      return;
    }
    if (!driver_->Find(std::chrono::seconds(60))) why_ = "the window did not appear";
  }
  ~WineWindow() {
    // The window closes, the driver ends; then both are waited for. The desktop's
    // process, which one of them started, holds copies of their pipes until neither
    // is left on the desktop.
    if (driver_ && ornat_ && ornat_->Started()) driver_->Ask("close", std::chrono::seconds(5));
    if (driver_) {
      driver_->process().Send("quit");
      driver_->process().CloseInput();
    }
    if (ornat_) ornat_->Wait(std::chrono::seconds(15));  // kills it when it does not end
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

 private:
  SimProcess sim_;
  std::string why_;
  std::unique_ptr<WineProcess> ornat_;
  std::unique_ptr<Driver> driver_;
};

}  // namespace ornat::testing
