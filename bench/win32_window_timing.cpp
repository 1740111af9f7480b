// The Win32 window's timers against ornat-sim, as ornat_cpu_bench measures the Qt
// window's on Linux: the program as WinMain composes it (the message loop's Scheduler
// and Dispatcher, the real Win32 device on COM1), the cyclic query for CYCLE_SECONDS,
// and per exchange
//  - the delay from the answer's last byte to the start of its completion
//    (Timer_RxTimer): nominal 150 ms read interval + 5 ms settling;
//  - how much later than the completion + 500 ms the next query was written;
//  - the step timer's lateness (Timer_Programm after the completion + 500 ms).
// The simulator's wire log (WIRE_LOG, on the Linux side's clock) gives each request's
// and answer's times; this program's clock is another one, so the first figure is taken
// as (completion - write) - (answer's last byte - request read): the request's way from
// the write to the simulator (under a millisecond on a pty) counts as none. Prints the
// figures and "RESULT name value unit" lines; asserts nothing.
//
// Usage: bench_win32_window_timing WIRE_LOG [CYCLE_SECONDS (default 30)]
// (bench/run starts ornat-sim, points the Wine prefix's COM1 at its pty and runs this
// under Wine with the modem-line shim.)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "serial/platform/win32_api.h"
#include "serial/platform/win32_comm_device.h"
#include "win32/program.h"

namespace {

using Clock = std::chrono::steady_clock;

// The Win32 device with the moment each Write returned.
class StampingDevice : public ornat::Win32CommDevice {
 public:
  StampingDevice() : Win32CommDevice(ornat::win32::Win32Api::Real()) {}
  ornat::IoResult Write(const void* buffer, int count) override {
    const auto begin = Clock::now();
    ornat::IoResult r = Win32CommDevice::Write(buffer, count);
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back(Clock::now());
    write_calls_.push_back(writes_.back() - begin);
    return r;
  }
  ornat::DevError Open(const std::string& port) override {
    const auto begin = Clock::now();
    const ornat::DevError e = Win32CommDevice::Open(port);
    std::lock_guard<std::mutex> lock(mutex_);
    opens_.push_back(Clock::now() - begin);
    return e;
  }
  ornat::DevError Close() override {
    const auto begin = Clock::now();
    const ornat::DevError e = Win32CommDevice::Close();
    std::lock_guard<std::mutex> lock(mutex_);
    closes_.push_back(Clock::now() - begin);
    return e;
  }
  std::vector<Clock::time_point> Writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  // How long each call took: the open (CreateFileA alone), the close, the write.
  std::vector<Clock::duration> Opens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
  }
  std::vector<Clock::duration> Closes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
  }
  std::vector<Clock::duration> WriteCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return write_calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Clock::time_point> writes_;
  std::vector<Clock::duration> opens_, closes_, write_calls_;
};

std::vector<double> AllMs(const std::vector<Clock::duration>& v) {
  std::vector<double> ms;
  for (const auto& d : v) ms.push_back(std::chrono::duration<double, std::milli>(d).count());
  return ms;
}

struct Frame {
  double at_us = 0;    // RX: the request read; TX: the answer's first byte
  double last_us = 0;  // TX: its last byte
};

// The wire log's requests (RX) and answers (TX), in microseconds of its own clock.
void ReadWireLog(const std::string& path, std::vector<Frame>& requests,
                 std::vector<Frame>& answers) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Frame f;
    std::string dir, w;
    words >> f.at_us >> dir;
    f.last_us = f.at_us;
    while (words >> w)
      if (w.rfind("last=", 0) == 0) f.last_us = std::stod(w.substr(5));
    if (dir == "RX") requests.push_back(f);
    if (dir == "TX") answers.push_back(f);
  }
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Timings(const char* label, const char* key, std::vector<double> v) {
  if (v.empty()) {
    std::printf("  %-34s no values\n", label);
    return;
  }
  std::sort(v.begin(), v.end());
  const double median =
      v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  const double p95 = v[std::min(v.size() - 1, (v.size() * 95 + 99) / 100 - 1)];
  std::printf("  %-34s median %.3f ms, 95th percentile %.3f ms, worst %.3f ms (n = %zu)\n", label,
              median, p95, v.back(), v.size());
  std::printf("RESULT %s_median %.3f ms\nRESULT %s_p95 %.3f ms\nRESULT %s_worst %.3f ms\n", key,
              median, key, p95, key, v.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_win32_window_timing WIRE_LOG [CYCLE_SECONDS]\n");
    return 2;
  }
  const std::string wire_log = argv[1];
  const double cycle_seconds = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 30.0;
  setvbuf(stdout, nullptr, _IOLBF, 0);

  StampingDevice device;
  ornat::win32::Program program(device);
  ornat::TForm1& form = program.form();
  std::vector<Clock::time_point> completions, completed, steps;
  form.Timer_Rx.SetOnTimer([&](ornat::TObject* sender) {
    completions.push_back(Clock::now());
    form.Timer_RxTimer(sender);
    completed.push_back(Clock::now());
  });
  form.Timer_Programm.SetOnTimer([&](ornat::TObject* sender) {
    steps.push_back(Clock::now());
    form.Timer_ProgrammTimer(sender);
  });
  program.Start(SW_SHOWNOACTIVATE);
  auto run_for = [&](double seconds) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    program.loop().RunUntil([&] { return Clock::now() >= until; },
                            std::chrono::milliseconds(static_cast<long>(seconds * 1000) + 10));
  };
  run_for(2.0);  // start-up, first paints
  if (form.StatusBar1.PanelText(0) != "COM1") {
    std::fprintf(stderr, "the window did not come up on COM1\n");
    return 1;
  }
  std::vector<Frame> requests_before, answers_before;
  ReadWireLog(wire_log, requests_before, answers_before);
  program.gate().Enter([&] { form.TeCheckBox1.Click(); });
  program.gate().Enter([&] { form.TeButton5.Click(); });
  run_for(cycle_seconds);
  program.gate().Enter([&] { form.TeButton5.Click(); });  // "СТОП"
  run_for(1.0);

  std::vector<Frame> requests, answers;
  ReadWireLog(wire_log, requests, answers);
  const std::size_t r0 = requests_before.size(), a0 = answers_before.size();
  const auto writes = device.Writes();
  // Exchange i of the cycle: write i, request r0 + i, answer a0 + i, completion i.
  std::vector<double> to_completion, late, timer_late, running;
  for (std::size_t i = 0; i < completions.size() && i < writes.size(); ++i) {
    running.push_back(Ms(completed[i] - completions[i]));
    if (r0 + i < requests.size() && a0 + i < answers.size()) {
      const double line_ms = (answers[a0 + i].last_us - requests[r0 + i].at_us) / 1000.0;
      const double d = Ms(completions[i] - writes[i]) - line_ms;
      if (d > 0 && d < 400) to_completion.push_back(d);
    }
    if (i + 1 < writes.size())
      late.push_back(Ms(writes[i + 1] - (completions[i] + std::chrono::milliseconds(500))));
    if (i + 1 < steps.size())
      timer_late.push_back(Ms(steps[i + 1] - (completed[i] + std::chrono::milliseconds(500))));
  }
  std::printf(
      "Win32 window against ornat-sim (9600 bit/s, COM1 on a pty): %.0f s cyclic query, "
      "%zu queries; timers on a %s\n",
      cycle_seconds, completions.size(), program.loop().TimerKind());
  Timings("last answer byte -> completion", "win32_window_completion_delay", to_completion);
  Timings("completion running", "win32_window_completion_run", running);
  Timings("next query after compl.+500", "win32_window_period_error", late);
  Timings("  step timer lateness", "win32_window_step_timer_late", timer_late);
  // Where the rest goes: the device's own calls, each a round trip to the Wine server.
  Timings("  port open (CreateFileA)", "win32_window_open", AllMs(device.Opens()));
  Timings("  port close (CloseHandle)", "win32_window_close", AllMs(device.Closes()));
  Timings("  write (8 bytes)", "win32_window_write", AllMs(device.WriteCalls()));
  std::printf("RESULT win32_window_queries %zu count\n", completions.size());
  return 0;
}
