// ornat_cpu_bench [SECONDS]: the CPU time that the running window takes, idle and
// during the cyclic query, and its resident memory. It starts ornat-sim (the detector
// at 247, 9600 bit/s, registered as the port "ornat-sim" in a private runtime folder),
// then the program as main() composes it, on the current display (Xvfb: xvfb-run).
// After the start has settled it measures the process's CPU time (user + system, all
// threads: getrusage) over SECONDS (default 10) with the window idle, then ticks
// "В ЦИКЛЕ", presses the query button and measures SECONDS of the cyclic query.
// Prints the figures, and one "RESULT name value unit" line for each; asserts nothing.

#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/program.h"
#include "app/theme.h"
#include "serial/platform/posix_comm_device.h"
#include "support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

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

void Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;
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
  ornat::PosixCommDevice device;
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

  const Phase idle = Measure(seconds);
  const long idle_rss = StatusKb("VmRSS");

  cycle_box->click();
  query->click();
  Wait(1000);  // the cycle under way
  const std::size_t before = sim.WireAnswers().size();
  const Phase cycle = Measure(seconds);
  const std::size_t answered = sim.WireAnswers().size() - before;
  const long cycle_rss = StatusKb("VmRSS");
  const long peak_rss = StatusKb("VmHWM");
  query->click();  // "СТОП"
  Wait(800);

  std::printf("window CPU against ornat-sim (9600 bit/s, pty), %.0f s each phase\n", seconds);
  std::printf("  idle window         %6.3f %% of one core (%.3f s CPU in %.1f s)\n", idle.Percent(),
              idle.cpu_s, idle.wall_s);
  std::printf(
      "  cyclic query        %6.3f %% of one core (%.3f s CPU in %.1f s, %zu queries "
      "answered)\n",
      cycle.Percent(), cycle.cpu_s, cycle.wall_s, answered);
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
