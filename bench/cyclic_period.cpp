// The cyclic query's period over a pseudo-terminal against ornat-sim at 9600 bit/s,
// through the window's real engine and sequencer in real time (the logic alone, on the
// RealtimeLoop). Prints figures; asserts nothing.
//
//   The period: from one query's request (its Write) to the next one's, over N cycles.
//   Its nominal value: the previous exchange's completion + 500 ms; the error is how
//   much later than that the next request went out. Aims: under 1 ms median, under
//   3 ms worst. Then where that time goes (bench/send_path.h), stage by stage.
//   Also the CPU time of the process (user + system) per second of the cycle.
//
// Usage: bench_cyclic_period [cycles]
// With ORNAT_BENCH_HOLDER_LOOK=0 the open skips its look for other holders of the port;
// with ORNAT_BENCH_HOLD_LINE=0 the cyclic query takes no line lock.

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "bench_form.h"
#include "cpu_time.h"
#include "send_path.h"
#include "support/sim_process.h"

using ornat::bench::CpuSeconds;

int main(int argc, char** argv) {
  using namespace ornat;
  using namespace ornat::bench;
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 50;

  testing::SimProcess sim({"--no-console"});
  if (!sim.Started()) {
    std::fprintf(stderr, "ornat-sim did not start\n");
    return 1;
  }
  BenchForm b(sim.pty_path());
  std::vector<Clock::time_point> steps;
  b.form->Timer_Programm.SetOnTimer([&](TObject* sender) {
    steps.push_back(Clock::now());
    b.form->Timer_ProgrammTimer(sender);
  });
  b.gate.Enter([&] { b.form->TeCheckBox1.Click(); });
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  b.gate.Enter([&] { b.form->TeButton5.Click(); });  // "СТОП" from now on
  b.loop.RunUntil([&] { return b.device.Writes().size() > static_cast<std::size_t>(cycles); },
                  std::chrono::seconds(cycles + 10));
  const double wall = Ms(Clock::now() - t0) / 1000.0;
  const double cpu = CpuSeconds() - cpu0;
  const int mode_at_end = b.form->State.SessionMode;
  const bool step_armed = b.form->Timer_Programm.Enabled();
  const bool rx_armed = b.form->Timer_Rx.Enabled();
  b.gate.Enter([&] { b.form->TeButton5.Click(); });
  b.loop.RunFor(std::chrono::milliseconds(700));

  const auto writes = b.device.Writes();
  // A cycle that stopped short: what the window showed last, so the reason is seen.
  if (writes.size() <= static_cast<std::size_t>(cycles)) {
    std::printf(
        "the cycle stopped after %zu requests (%zu opens, %zu completions started, %zu ended); "
        "SessionMode %d, Timer_Programm %s, Timer_Rx %s, %zu reads; the log:\n",
        writes.size(), b.device.Opens().size(), b.completions.size(), b.completed.size(),
        mode_at_end, step_armed ? "enabled" : "disabled", rx_armed ? "enabled" : "disabled",
        b.device.Reads().size());
    for (const auto& o : b.device.Opens())
      if (o.error != 0) std::printf("  an open failed: error %d\n", static_cast<int>(o.error));
    for (const auto& line : b.form->TeMemo1.Lines()) std::printf("  | %s\n", line.c_str());
  }
  std::vector<double> periods, errors;
  for (std::size_t k = 1; k < writes.size() && k <= static_cast<std::size_t>(cycles); ++k) {
    periods.push_back(Ms(writes[k] - writes[k - 1]));
    if (k - 1 < b.completions.size())
      errors.push_back(Ms(writes[k] - (b.completions[k - 1] + std::chrono::milliseconds(500))));
  }
  SendPathTrace trace;
  trace.completion_start = b.completions;
  trace.completion_end = b.completed;
  trace.steps = steps;
  trace.opens = b.device.Opens();
  trace.writes = b.device.WriteStamps();
  trace.purges = b.device.Purges();
  trace.closes = b.device.Closes();
  for (const auto& r : sim.WireRequests()) trace.line.push_back(r.first);
  // Only the cycles measured.
  if (trace.steps.size() > static_cast<std::size_t>(cycles) + 1) trace.steps.resize(cycles + 1);

  std::printf("cyclic query, 9600 bit/s, pty against ornat-sim, %zu periods\n", periods.size());
  Report("period (request to request)", periods);
  Report("request after completion + 500 ms", errors);
  std::printf("%-48s %.2f %% of one core (%.3f s CPU in %.1f s)\n", "CPU of the process",
              100.0 * cpu / wall, cpu, wall);
  trace.Print("cyclic_", b.device.LooksForHolders());
  CompletionTrace ct;
  for (const auto& a : sim.WireAnswers()) ct.last_byte.push_back(a.last);
  ct.completion_start = b.completions;
  ct.reads = b.device.Reads();
  ct.handovers = b.dispatcher.Ran();
  ct.Print("cyclic_completion_");
  Result("period", periods);
  Result("period_error", errors);
  return 0;
}
