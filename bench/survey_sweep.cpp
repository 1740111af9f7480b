// The survey's duration over a pseudo-terminal against ornat-sim, through the window's
// real engine, component, event thread and POSIX device: one speed (9600 bit/s) and all
// eight, on a silent line and with five detectors (at 9600 bit/s: 1, 5, 6, 100, 247)
// answering after a turnaround of 30 ms. Printed beside the nominal length, probes x
// (window + 5 ms) and the watch after each speed, and the line's physical limit, probes
// x (request + turnaround + answer on the wire): the least time in which every probe's
// possible answer could have come. The parameter queries of the detectors found come on
// top of both. Prints figures; asserts nothing.
//
// Usage: bench_survey_sweep [one|all|both]   (default both; "all" takes about 4 min)

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_form.h"
#include "detector/survey.h"
#include "serial/comport.h"
#include "support/sim_process.h"

namespace {

using namespace ornat;
using namespace ornat::bench;

constexpr double kSilentTurnaroundMs = 5;  // ornat-sim's default, for the line's limit
constexpr double kDetectorTurnaroundMs = 30;
constexpr int kAddresses = 247;

struct Run {
  bool done = false;
  double ms = 0;
  std::size_t devices = 0;
  double nominal_ms = 0;
  double limit_ms = 0;
  int queries = 0;
};

std::string LoadAverage() {
  char buf[64] = {};
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(buf, sizeof buf, f) == nullptr) buf[0] = 0;
    std::fclose(f);
  }
  std::string text = buf;
  // The first three figures.
  std::size_t end = 0;
  for (int i = 0; i < 3 && end != std::string::npos; ++i) end = text.find(' ', end + (i > 0));
  return end == std::string::npos ? text : text.substr(0, end);
}

double OnWireMs(int bits, std::uint8_t baud_index) {
  return bits * 1000.0 / BaudRateToBits(kBaudTable[baud_index].port_value);
}

Run Survey(const std::vector<std::uint8_t>& speeds, bool detectors) {
  Run out;
  // The console stays on the pipe: its end ends the simulator with the benchmark.
  std::vector<std::string> args;
  if (detectors) {
    args = {"--turnaround", "30"};
    for (const char* a : {"1", "5", "6", "100", "247"}) {
      args.push_back("--detector");
      args.push_back(a);
    }
  } else {
    args.push_back("--silent");
  }
  testing::SimProcess sim(args);
  if (!sim.Started()) {
    std::fprintf(stderr, "ornat-sim did not start\n");
    return out;
  }
  BenchForm b(sim.pty_path());
  BusSurvey survey(*b.form, {speeds, {{1, kAddresses}}, 0});
  b.exchanges.Add(&survey);
  const auto started = Clock::now();
  survey.Start();
  out.done = b.loop.RunUntil([&] { return survey.Done(); }, std::chrono::hours(1));
  out.ms = Ms(Clock::now() - started);
  b.exchanges.Remove(&survey);
  out.devices = survey.Devices().size();
  out.nominal_ms = survey.NominalMs();
  const double turnaround = detectors ? kDetectorTurnaroundMs : kSilentTurnaroundMs;
  for (std::uint8_t s : speeds) out.limit_ms += kAddresses * (OnWireMs(150, s) + turnaround);
  for (const auto& d : survey.Devices())
    if (d.queried) ++out.queries;
  return out;
}

void Print(const char* key, const char* what, const Run& r) {
  std::printf("%-36s %s, %zu device(s) found, %d queries, load average %s\n", what,
              r.done ? "done" : "DID NOT FINISH", r.devices, r.queries, LoadAverage().c_str());
  std::printf("  measured %9.1f s   nominal %9.1f s (%+.2f %%)   line limit %7.1f s\n", r.ms / 1000,
              r.nominal_ms / 1000, 100.0 * (r.ms - r.nominal_ms) / r.nominal_ms, r.limit_ms / 1000);
  std::printf("RESULT %s %.3f s\n", key, r.ms / 1000);
  std::printf("RESULT %s_nominal %.3f s\n", key, r.nominal_ms / 1000);
  std::printf("RESULT %s_limit %.3f s\n", key, r.limit_ms / 1000);
  std::printf("RESULT %s_devices %zu count\n", key, r.devices);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "both";
  std::printf(
      "survey of addresses 1..247 over a pty against ornat-sim (five detectors: turnaround "
      "%.0f ms; line limit of the silent line with %.0f ms)\n",
      kDetectorTurnaroundMs, kSilentTurnaroundMs);
  std::printf("windows: ");
  for (std::uint8_t b = 0; b < 8; ++b)
    std::printf("%s %u ms%s", kBaudTable[b].speed_text, BusSurvey::SurveyWindowMs(b),
                b < 7 ? ", " : "\n\n");
  if (which == "one" || which == "both") {
    Print("survey_one_silent", "9600 bit/s, silent line", Survey({3}, false));
    Print("survey_one_five", "9600 bit/s, five detectors", Survey({3}, true));
  }
  if (which == "all" || which == "both") {
    const std::vector<std::uint8_t> all = {0, 1, 2, 3, 4, 5, 6, 7};
    Print("survey_all_silent", "all eight speeds, silent line", Survey(all, false));
    Print("survey_all_five", "all eight speeds, five detectors", Survey(all, true));
  }
  return 0;
}
