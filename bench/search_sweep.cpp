// Full bus search without a detector over a pseudo-terminal against ornat-sim at
// 9600 bit/s, through the window's real engine, component, event thread and POSIX
// device, for the probe windows of 100 and 150 ms. Prints figures; asserts nothing.
//
// The sweep runs from the press of "Start" to the completion of the probe to address
// 248 (the not-found line). Its nominal length is 248 x (request on the wire + window
// + 5 ms to the next probe), the request being 8 bytes x 10 bits at 9600 bit/s =
// 8.333 ms; aim: within 3 % of it. A pty does not pace the master's writes, so the
// request's time on the wire is not spent here: the figure is also given against
// 248 x (window + 5 ms), the length without it.
//
// Usage: bench_search_sweep [sweeps per window]

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_form.h"
#include "support/sim_process.h"

namespace {

using namespace ornat;
using namespace ornat::bench;

constexpr int kProbes = 248;
constexpr double kRequestOnWireMs = 8 * 10 * 1000.0 / 9600;
constexpr double kGapMs = 5;

struct Sweep {
  bool completed = false;
  int probes = 0;
  double total_ms = 0;
  std::vector<double> windows;  // write returned -> completion
  std::vector<double> gaps;     // completion -> next write returned
};

Sweep RunSweep(int window_ms) {
  Sweep out;
  testing::SimProcess sim({"--no-console", "--silent"});
  if (!sim.Started()) {
    std::fprintf(stderr, "ornat-sim did not start\n");
    return out;
  }
  BenchForm b(sim.pty_path());
  TForm1& w = *b.form;
  b.gate.Enter([&] { (window_ms == 100 ? w.CustomItem7 : w.CustomItem8).Click(); });
  const auto started = Clock::now();
  b.gate.Enter([&] { w.CustomItem5.Click(); });
  out.completed = b.loop.RunUntil([&] { return w.State.SessionMode == 0; },
                                  std::chrono::milliseconds(3 * kProbes * (window_ms + 50)));
  const auto ended = b.completions.empty() ? Clock::now() : b.completions.back();
  out.total_ms = Ms(ended - started);
  out.completed = out.completed && w.TeMemo1.Lines().back() ==
                                       "   : ПРИБОР <VA329(/330) \"ОРНАТ(-2)-Zev\"> НЕ ОБНАРУЖЕН.";
  const auto writes = b.device.Writes();
  out.probes = static_cast<int>(writes.size());
  for (std::size_t i = 0; i < writes.size() && i < b.completions.size(); ++i) {
    out.windows.push_back(Ms(b.completions[i] - writes[i]));
    if (i + 1 < writes.size()) out.gaps.push_back(Ms(writes[i + 1] - b.completions[i]));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  std::printf("bus search sweep without a detector, 9600 bit/s, pty against ornat-sim\n");
  std::printf("request on the wire: %.3f ms; %d probes\n\n", kRequestOnWireMs, kProbes);
  for (int window : {100, 150}) {
    const double nominal = kProbes * (kRequestOnWireMs + window + kGapMs);
    const double unpaced = kProbes * (window + kGapMs);
    for (int r = 0; r < runs; ++r) {
      const Sweep s = RunSweep(window);
      std::printf("window %d ms, run %d: %s, %d probes\n", window, r + 1,
                  s.completed ? "not-found line" : "DID NOT COMPLETE", s.probes);
      std::printf(
          "  sweep %10.1f ms   nominal %10.1f ms (%+.2f %%)   without the wire time %10.1f "
          "ms (%+.2f %%)\n",
          s.total_ms, nominal, 100.0 * (s.total_ms - nominal) / nominal, unpaced,
          100.0 * (s.total_ms - unpaced) / unpaced);
      Report("  probe window (write -> completion)", s.windows);
      Report("  completion -> next probe written", s.gaps);
      std::printf("RESULT sweep_%d_completed %d bool\n", window, s.completed ? 1 : 0);
      std::printf("RESULT sweep_%d %.1f ms\n", window, s.total_ms);
      std::printf("RESULT sweep_%d_nominal %.1f ms\n", window, nominal);
      std::printf("RESULT sweep_%d_error %.2f %%\n", window,
                  100.0 * (s.total_ms - nominal) / nominal);
      std::printf("RESULT sweep_%d_nominal_unpaced %.1f ms\n", window, unpaced);
      std::printf("RESULT sweep_%d_error_unpaced %.2f %%\n", window,
                  100.0 * (s.total_ms - unpaced) / unpaced);
    }
  }
  return 0;
}
