// What the look for other holders of a port costs as the machine grows: N extra
// processes of this user, each holding M descriptors (files, pipes, /dev/null), and
// the cost of PosixCommDevice Open + Close on ornat-sim's pty beside them: the first
// open of a device object (its full look), then later opens of the same object (median
// and worst); the wall time of `ornat-cli query` on that port (a new process: its
// first open); and the period of the window's cyclic query (its engine opens the port
// for every exchange). Prints figures; asserts nothing.
//
// Usage: bench_holder_look [--cli PATH] [--opens K] [--queries Q] [--cycles C] [NxM ...]
//   default: 0x0 400x40 500x40, K = 200 later opens, Q = 5 queries and C = 15 cycles
//   per configuration. The CLI defaults to ../src/cli/ornat-cli beside this program's
//   folder.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_form.h"
#include "serial/platform/posix_comm_device.h"
#include "support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using ornat::bench::Ms;

struct Load {
  int processes = 0;
  int descriptors = 0;
};

// N children that each open M descriptors and sleep until killed.
class ExtraProcesses {
 public:
  ExtraProcesses(const Load& load, const std::string& file) {
    for (int i = 0; i < load.processes; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        alarm(600);  // never outlives the benchmark by long
        for (int d = 0; d < load.descriptors;) {
          if (d % 4 == 3 && d + 2 <= load.descriptors) {
            int p[2];
            if (pipe(p) == 0) d += 2;
            continue;
          }
          if (open(d % 2 == 0 ? file.c_str() : "/dev/null", O_RDONLY) < 0) break;
          ++d;
        }
        for (;;) pause();
      }
      if (pid > 0) pids_.push_back(pid);
    }
    // Each child has its descriptors open before the figures are taken.
    if (load.processes > 0) usleep(200000 + 2000 * load.processes);
  }
  ~ExtraProcesses() {
    for (pid_t p : pids_) kill(p, SIGKILL);
    for (pid_t p : pids_) waitpid(p, nullptr, 0);
  }
  ExtraProcesses(const ExtraProcesses&) = delete;
  ExtraProcesses& operator=(const ExtraProcesses&) = delete;

 private:
  std::vector<pid_t> pids_;
};

int CountProcesses() {
  int n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename();
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) ++n;
  }
  return n;
}

int CountDescriptors() {
  int n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    std::error_code ec2;
    for (auto it = std::filesystem::directory_iterator(e.path() / "fd", ec2);
         !ec2 && it != std::filesystem::directory_iterator(); it.increment(ec2))
      ++n;
  }
  return n;
}

// Wall time of one `ornat-cli query --port PATH`, or a negative value when it failed.
double QueryMs(const std::string& cli, const std::string& port) {
  std::vector<std::string> args = {cli, "query", "--port", port};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto t0 = Clock::now();
  pid_t pid = -1;
  const int e = posix_spawn(&pid, cli.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (e != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double ms = Ms(Clock::now() - t0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string cli =
      (std::filesystem::path(argv[0]).parent_path() / ".." / "src" / "cli" / "ornat-cli").string();
  int opens = 200;
  int queries = 5;
  int cycles = 15;
  std::vector<Load> loads;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--cli" && i + 1 < argc) {
      cli = argv[++i];
    } else if (a == "--opens" && i + 1 < argc) {
      opens = std::atoi(argv[++i]);
    } else if (a == "--queries" && i + 1 < argc) {
      queries = std::atoi(argv[++i]);
    } else if (a == "--cycles" && i + 1 < argc) {
      cycles = std::atoi(argv[++i]);
    } else if (Load l; std::sscanf(a.c_str(), "%dx%d", &l.processes, &l.descriptors) == 2) {
      loads.push_back(l);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--cli PATH] [--opens K] [--queries Q] [--cycles C] [NxM ...]\n",
                   argv[0]);
      return 2;
    }
  }
  if (loads.empty()) loads = {{0, 0}, {400, 40}, {500, 40}};
  const bool have_cli = access(cli.c_str(), X_OK) == 0;

  ornat::testing::SimProcess sim;
  if (!sim.Started()) {
    std::fprintf(stderr, "ornat-sim did not start\n");
    return 1;
  }
  char tmpl[] = "/tmp/ornat-holder-bench-XXXXXX";
  const int file_fd = mkstemp(tmpl);
  if (file_fd < 0) return 1;
  close(file_fd);
  const std::string file = tmpl;

  std::printf(
      "holder_look: Open+Close of ornat-sim's pty %s, %d later opens; ornat-cli query x%d\n",
      sim.pty_path().c_str(), opens, queries);
  int failures = 0;
  for (const Load& load : loads) {
    ExtraProcesses extra(load, file);
    const std::string key = std::to_string(load.processes) + "x" + std::to_string(load.descriptors);
    const int processes = CountProcesses(), descriptors = CountDescriptors();

    ornat::PosixCommDevice device;
    auto open_close = [&]() -> double {
      const auto t0 = Clock::now();
      const int e = device.Open(sim.pty_path());
      device.Close();
      const double ms = Ms(Clock::now() - t0);
      if (e != 0) {
        std::fprintf(stderr, "open failed: errno %d\n", e);
        ++failures;
      }
      return ms;
    };
    const double first = open_close();
    std::vector<double> later;
    for (int i = 0; i < opens; ++i) later.push_back(open_close());
    const double later_median = Median(later);
    const double later_worst = later.empty() ? 0 : *std::max_element(later.begin(), later.end());

    std::vector<double> q;
    for (int i = 0; have_cli && i < queries; ++i) {
      const double ms = QueryMs(cli, sim.pty_path());
      if (ms < 0) {
        ++failures;
        continue;
      }
      q.push_back(ms);
    }
    std::printf(
        "  %3d extra processes x %2d descriptors (%d processes, %d descriptors on the machine):\n"
        "    first open+close %.3f ms; later opens+closes median %.3f ms, worst %.3f ms\n",
        load.processes, load.descriptors, processes, descriptors, first, later_median, later_worst);
    std::printf("RESULT holder_open_first_%s %.3f ms\n", key.c_str(), first);
    std::printf("RESULT holder_open_later_median_%s %.3f ms\n", key.c_str(), later_median);
    std::printf("RESULT holder_open_later_worst_%s %.3f ms\n", key.c_str(), later_worst);
    if (!q.empty()) {
      std::printf("    ornat-cli query: median %.1f ms of %zu\n", Median(q), q.size());
      std::printf("RESULT holder_cli_query_%s %.1f ms\n", key.c_str(), Median(q));
    }
    if (cycles > 0) {
      // The window's cyclic query: one open (and look, if any) per exchange.
      ornat::bench::BenchForm b(sim.pty_path());
      b.gate.Enter([&] { b.form->TeCheckBox1.Click(); });
      b.gate.Enter([&] { b.form->TeButton5.Click(); });
      b.loop.RunUntil([&] { return b.device.Writes().size() > static_cast<std::size_t>(cycles); },
                      std::chrono::seconds(cycles + 10));
      b.gate.Enter([&] { b.form->TeButton5.Click(); });
      b.loop.RunFor(std::chrono::milliseconds(700));
      const auto writes = b.device.Writes();
      std::vector<double> periods;
      for (std::size_t k = 1; k < writes.size(); ++k)
        periods.push_back(Ms(writes[k] - writes[k - 1]));
      if (periods.empty()) {
        ++failures;
      } else {
        std::printf("    cyclic query period: median %.3f ms, worst %.3f ms of %zu\n",
                    Median(periods), *std::max_element(periods.begin(), periods.end()),
                    periods.size());
        std::printf("RESULT holder_cycle_period_%s %.3f ms\n", key.c_str(), Median(periods));
      }
    }
  }
  unlink(file.c_str());
  if (!have_cli) std::printf("  (no ornat-cli at %s: its row is left out)\n", cli.c_str());
  return failures == 0 ? 0 : 1;
}
