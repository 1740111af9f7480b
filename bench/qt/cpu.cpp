// ornat_cpu_bench [IDLE_SECONDS [CYCLE_SECONDS]]: the CPU time that the running window takes, idle
// and during the cyclic query, and its resident memory. It starts ornat-sim (the detector at 247,
// 9600 bit/s, registered as the port "ornat-sim" in a private runtime folder), then the program as
// main() composes it, on the current display (Xvfb: xvfb-run). After the start has settled it
// measures the process's CPU time (user + system, all threads: getrusage) over IDLE_SECONDS
// (default 10) with the window idle, then ticks "В ЦИКЛЕ", presses the query button and measures
// CYCLE_SECONDS (default: as idle) of the cyclic query. During the cycle it also notes, on the Qt
// timers of the real window, the delay from the last byte of each answer (the simulator's wire log)
// to the start of its completion, and how much later than the completion + 500 ms the next query
// reached the simulator, with where that time went stage by stage (bench/send_path.h). Prints the
// figures, and "RESULT name value unit" lines; asserts nothing. With ORNAT_BENCH_HOLDER_LOOK=0 the
// open skips its look for other holders of the port.

#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/theme.h"
#include "cpu_time.h"
#include "send_path.h"
#include "support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

using ornat::bench::CpuSeconds;

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 if not found.
long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == field + ":") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

struct Phase {
  double cpu_s = 0;
  double wall_s = 0;
  double Percent() const { return wall_s > 0 ? 100.0 * cpu_s / wall_s : 0; }
};

// Runs the event loop for `seconds` and notes the CPU time taken meanwhile.
Phase Measure(double seconds) {
  Phase p;
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
  p.wall_s = std::chrono::duration<double>(Clock::now() - t0).count();
  p.cpu_s = CpuSeconds() - cpu0;
  return p;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// "  name  median X ms, 95th percentile Y ms, worst Z ms (n)" and the RESULT lines.
void Timings(const char* label, const char* key, std::vector<double> v) {
  if (v.empty()) {
    std::printf("  %-28s no values\n", label);
    return;
  }
  std::sort(v.begin(), v.end());
  const double median =
      v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  const double p95 = v[std::min(v.size() - 1, (v.size() * 95 + 99) / 100 - 1)];
  std::printf("  %-28s median %.3f ms, 95th percentile %.3f ms, worst %.3f ms (n = %zu)\n", label,
              median, p95, v.back(), v.size());
  std::printf("RESULT %s_median %.3f ms\nRESULT %s_p95 %.3f ms\nRESULT %s_worst %.3f ms\n", key,
              median, key, p95, key, v.back());
}

// When each hand-over of the event thread (a queued call to the program's dispatcher)
// began to run on the GUI thread.
class HandOverStamps : public QObject {
 public:
  std::vector<Clock::time_point> ran;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MetaCall && watched->inherits("ornat::QtDispatcher"))
      ran.push_back(Clock::now());
    return false;
  }
};

void Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  const double idle_seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;
  const double cycle_seconds = argc > 2 ? std::max(1.0, std::atof(argv[2])) : idle_seconds;
  setvbuf(stdout, nullptr, _IOLBF, 0);

  ornat::testing::SimProcess sim({"--no-console"});
  if (!sim.Started()) {
    std::fprintf(stderr, "ornat-sim did not start\n");
    return 1;
  }
  // The program finds the simulator's port as it finds it under a user's session.
  setenv("XDG_RUNTIME_DIR", sim.runtime_dir().c_str(), 1);

  int qt_argc = 1;
  char name[] = "ornat";
  char* qt_argv[] = {name, nullptr};
  QApplication app(qt_argc, qt_argv);
  ornat::ApplyTheme(app);
  ornat::bench::StampingDevice device;
  ornat::Program program(device);
  program.Start();
  Wait(2000);  // start-up, first paints, fonts

  auto* panel0 = program.view().findChild<QLabel*>("StatusBar1_Panel0");
  auto* cycle_box = program.view().findChild<QCheckBox*>("TeCheckBox1");
  auto* query = program.view().findChild<QPushButton*>("TeButton5");
  if (panel0 == nullptr || cycle_box == nullptr || query == nullptr ||
      panel0->text() != QStringLiteral("ornat-sim")) {
    std::fprintf(stderr, "the window did not come up on the simulator's port\n");
    return 1;
  }

  const Phase idle = Measure(idle_seconds);
  const long idle_rss = StatusKb("VmRSS");

  // The start and the end of every completion (Timer_RxTimer), on this process's
  // steady clock.
  ornat::TForm1& form = program.form();
  std::vector<Clock::time_point> completions, completed;
  form.Timer_Rx.SetOnTimer([&](ornat::TObject* sender) {
    completions.push_back(Clock::now());
    form.Timer_RxTimer(sender);
    completed.push_back(Clock::now());
  });
  // And every firing of the sequencer's step timer (the query is sent from there).
  std::vector<Clock::time_point> steps;
  form.Timer_Programm.SetOnTimer([&](ornat::TObject* sender) {
    steps.push_back(Clock::now());
    form.Timer_ProgrammTimer(sender);
  });
  const std::size_t requests_before = sim.WireRequests().size();
  const std::size_t answers_before = sim.WireAnswers().size();
  const std::size_t opens_before = device.Opens().size();
  const std::size_t writes_before = device.WriteStamps().size();
  HandOverStamps handovers;
  app.installEventFilter(&handovers);
  cycle_box->click();
  query->click();
  Wait(1000);  // the cycle under way
  const std::size_t before = sim.WireAnswers().size();
  const Phase cycle = Measure(cycle_seconds);
  const std::size_t answered = sim.WireAnswers().size() - before;
  const long cycle_rss = StatusKb("VmRSS");
  const long peak_rss = StatusKb("VmHWM");
  query->click();  // "СТОП"
  Wait(800);
  app.removeEventFilter(&handovers);

  // Exchange i of the cycle: request requests_before + i, answer answers_before + i,
  // completion i (every query of the cycle is answered on this line).
  const auto requests = sim.WireRequests();
  const auto answers = sim.WireAnswers();
  std::vector<double> to_completion, late;
  for (std::size_t i = 0; i < completions.size(); ++i) {
    if (answers_before + i < answers.size()) {
      const double d = Ms(completions[i] - answers[answers_before + i].last);
      if (d > 0 && d < 400) to_completion.push_back(d);
    }
    if (requests_before + i + 1 < requests.size()) {
      const auto next = requests[requests_before + i + 1].first;
      late.push_back(Ms(next - (completions[i] + std::chrono::milliseconds(500))));
    }
  }
  ornat::bench::SendPathTrace trace;
  trace.completion_start = completions;
  trace.completion_end = completed;
  trace.steps = steps;
  const auto opens = device.Opens();
  const auto writes = device.WriteStamps();
  trace.opens.assign(opens.begin() + static_cast<long>(opens_before), opens.end());
  trace.writes.assign(writes.begin() + static_cast<long>(writes_before), writes.end());
  trace.purges = device.Purges();
  trace.closes = device.Closes();
  for (std::size_t k = requests_before; k < requests.size(); ++k)
    trace.line.push_back(requests[k].first);

  std::printf("window against ornat-sim (9600 bit/s, pty): %.0f s idle, %.0f s cyclic query\n",
              idle_seconds, cycle_seconds);
  std::printf("  idle window         %6.3f %% of one core (%.3f s CPU in %.1f s)\n", idle.Percent(),
              idle.cpu_s, idle.wall_s);
  std::printf(
      "  cyclic query        %6.3f %% of one core (%.3f s CPU in %.1f s, %zu queries "
      "answered)\n",
      cycle.Percent(), cycle.cpu_s, cycle.wall_s, answered);
  Timings("last answer byte -> completion", "window_completion_delay", to_completion);
  Timings("next query after compl.+500", "window_period_error", late);
  trace.Print("window_", device.LooksForHolders());
  ornat::bench::CompletionTrace ct;
  for (std::size_t k = answers_before; k < answers.size(); ++k)
    ct.last_byte.push_back(answers[k].last);
  ct.completion_start = completions;
  ct.reads = device.Reads();
  ct.handovers = handovers.ran;
  ct.Print("window_completion_");
  std::printf("  resident memory     %.1f MB idle, %.1f MB during the cycle, peak %.1f MB\n",
              idle_rss / 1024.0, cycle_rss / 1024.0, peak_rss / 1024.0);
  std::printf("RESULT cpu_idle %.3f %%\n", idle.Percent());
  std::printf("RESULT cpu_cycle %.3f %%\n", cycle.Percent());
  std::printf("RESULT cycle_queries %zu count\n", answered);
  std::printf("RESULT rss_idle %.1f MB\n", idle_rss / 1024.0);
  std::printf("RESULT rss_cycle %.1f MB\n", cycle_rss / 1024.0);
  std::printf("RESULT rss_peak %.1f MB\n", peak_rss / 1024.0);
  return 0;
}
