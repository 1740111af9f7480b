// Exchange timing over a pseudo-terminal against ornat-sim at 9600 bit/s, through the
// window's real engine, component, event thread and POSIX device. Prints figures;
// asserts nothing.
//
//   1. From the last byte of the answer (the simulator's wire log, on the same
//      monotonic clock) to the start of the completion (Timer_RxTimer), over N
//      parameter queries: nominal 150 ms read interval + 5 ms settling; aim: under
//      155 ms + 3 ms. Then where that time goes: the read's return, the hand-over to
//      the user-interface thread, the settling time.
//   2. From the send call (the press of "&ЗАПРОС ПАРАМЕТРОВ") to the request's
//      bytes handed to the port (the Write returned), and to the simulator's reading
//      of them (its wire log); a pty has no line pacing. Aim: under 1 ms.
//
// Usage: bench_exchange_timing [exchanges]
// With ORNAT_BENCH_HOLD_LINE=0 the sends take no line lock (each single query takes it
// and lets it go otherwise).

#include <cstdio>
#include <cstdlib>

#include "../tests/support/sim_process.h"
#include "bench_form.h"
#include "send_path.h"

int main(int argc, char** argv) {
  using namespace ornat;
  using namespace ornat::bench;
  const int n = argc > 1 ? std::atoi(argv[1]) : 100;

  testing::SimProcess sim({"--no-console"});
  if (!sim.Started()) {
    std::fprintf(stderr, "ornat-sim did not start\n");
    return 1;
  }
  BenchForm b(sim.pty_path());
  std::vector<Clock::time_point> calls;
  int failed = 0;
  for (int i = 0; i < n; ++i) {
    calls.push_back(Clock::now());
    b.gate.Enter([&] { b.form->TeButton5.Click(); });
    if (!b.RunToCompletion() || b.form->TeMemo1.Lines().back() != "   : \u041E\u041A.") ++failed;
    b.loop.RunFor(std::chrono::milliseconds(20));
  }
  const auto answers = sim.WireAnswers();
  const auto requests = sim.WireRequests();
  const auto writes = b.device.Writes();
  std::vector<double> to_completion, over_nominal, to_write, to_sim;
  for (std::size_t i = 0; i < answers.size() && i < b.completions.size(); ++i) {
    const double d = Ms(b.completions[i] - answers[i].last);
    to_completion.push_back(d);
    over_nominal.push_back(d - 155.0);
  }
  for (std::size_t i = 0; i < writes.size() && i < calls.size(); ++i)
    to_write.push_back(Ms(writes[i] - calls[i]));
  for (std::size_t i = 0; i < requests.size() && i < calls.size(); ++i)
    to_sim.push_back(Ms(requests[i].first - calls[i]));

  std::printf("exchange timing, 9600 bit/s, pty against ornat-sim, %d exchanges (%d failed)\n", n,
              failed);
  Report("last answer byte -> completion", to_completion);
  Report("  of which over 155 ms", over_nominal);
  Report("send call -> request written (Write returned)", to_write);
  Report("send call -> request read by the simulator", to_sim);
  CompletionTrace ct;
  for (const auto& a : answers) ct.last_byte.push_back(a.last);
  ct.completion_start = b.completions;
  ct.reads = b.device.Reads();
  ct.handovers = b.dispatcher.Ran();
  ct.Print("completion_");
  Result("completion_delay", to_completion);
  Result("send_to_write", to_write);
  std::printf("RESULT exchanges_failed %d count\n", failed);
  return 0;
}
