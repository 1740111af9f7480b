// Does `ornat-cli watch` hold more memory the longer it runs? Starts ornat-sim on a
// pseudo-terminal and `ornat-cli watch` against it, twice at once (plain, and with
// --json --journal), and reads each watch's resident memory from /proc after the first
// and after the last sample time: VmRSS, and its two parts, RssAnon (the heap and the
// stacks: what a leak grows) and RssFile (the program's and its libraries' pages as
// they are touched, at most their size); prints the growth per minute between them.
// Prints figures; asserts nothing.
//
// Usage: bench_watch_memory [--cli PATH] [--first S] [--last S]
//   default: the ornat-cli beside this program's folder (../src/cli/ornat-cli), the
//   first sample after 60 s and the last after 600 s (10 minutes).

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Memory {
  long rss_kb = -1;
  long anon_kb = -1;
  long file_kb = -1;
};

Memory MemoryOf(pid_t pid) {
  Memory m;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    std::istringstream words(line);
    std::string key;
    long value = 0;
    if (!(words >> key >> value)) continue;
    if (key == "VmRSS:") m.rss_kb = value;
    if (key == "RssAnon:") m.anon_kb = value;
    if (key == "RssFile:") m.file_kb = value;
  }
  return m;
}

long LinesIn(const std::string& path) {
  std::ifstream in(path);
  long n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

// One watch against its own simulator; stdout into a file, stderr beside it.
struct Watch {
  Watch(const std::string& cli, std::string what, std::vector<std::string> extra)
      : name(std::move(what)) {
    if (!sim.Started()) return;
    out = sim.runtime_dir() + "/watch.out";
    const std::string err = sim.runtime_dir() + "/watch.err";
    std::vector<std::string> args = {"watch", "--port", sim.pty_path()};
    for (auto& e : extra) {
      if (e == "JOURNAL") e = sim.runtime_dir() + "/journal.jsonl";
      args.push_back(e);
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid = ornat::testing::SpawnWithRuntimeDir(cli.c_str(), args, sim.runtime_dir(), &fa);
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Watch() { Stop(); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Ctrl-C, as an engineer ends it; the exit status, or -1.
  int Stop() {
    if (pid <= 0) return -1;
    kill(pid, SIGINT);
    int status = 0;
    for (int i = 0; i < 50 && waitpid(pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string name;
  ornat::testing::SimProcess sim;
  std::string out;
  pid_t pid = -1;
  Memory first;
  Memory last;
  long first_lines = 0;
  long last_lines = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string cli =
      (std::filesystem::path(argv[0]).parent_path() / ".." / "src" / "cli" / "ornat-cli").string();
  int first_s = 60;
  int last_s = 600;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--cli" && i + 1 < argc) {
      cli = argv[++i];
    } else if (a == "--first" && i + 1 < argc) {
      first_s = std::atoi(argv[++i]);
    } else if (a == "--last" && i + 1 < argc) {
      last_s = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--cli PATH] [--first S] [--last S]\n", argv[0]);
      return 2;
    }
  }
  if (first_s <= 0 || last_s <= first_s) {
    std::fprintf(stderr, "--first must be above 0 and --last above --first\n");
    return 2;
  }
  std::vector<std::unique_ptr<Watch>> watches;
  watches.push_back(std::make_unique<Watch>(cli, "watch", std::vector<std::string>{}));
  watches.push_back(std::make_unique<Watch>(
      cli, "watch_json_journal", std::vector<std::string>{"--json", "--journal", "JOURNAL"}));
  for (const auto& w : watches) {
    if (w->pid <= 0) {
      std::fprintf(stderr, "%s: ornat-sim or %s did not start\n", w->name.c_str(), cli.c_str());
      return 1;
    }
  }
  std::printf("watch_memory: %s watch against ornat-sim, RSS after %d s and after %d s\n",
              cli.c_str(), first_s, last_s);
  std::fflush(stdout);
  const auto started = Clock::now();
  std::this_thread::sleep_until(started + std::chrono::seconds(first_s));
  for (const auto& w : watches) {
    w->first = MemoryOf(w->pid);
    w->first_lines = LinesIn(w->out);
  }
  std::this_thread::sleep_until(started + std::chrono::seconds(last_s));
  for (const auto& w : watches) {
    w->last = MemoryOf(w->pid);
    w->last_lines = LinesIn(w->out);
  }
  int failures = 0;
  for (const auto& w : watches) {
    const int status = w->Stop();
    if (w->first.rss_kb < 0 || w->last.rss_kb < 0 || w->last_lines <= w->first_lines) ++failures;
    const double minutes = (last_s - first_s) / 60.0;
    const double kb_per_min = static_cast<double>(w->last.rss_kb - w->first.rss_kb) / minutes;
    const long exchanges = w->last_lines - w->first_lines;
    const double bytes_per_exchange =
        exchanges > 0 ? 1024.0 * static_cast<double>(w->last.anon_kb - w->first.anon_kb) /
                            static_cast<double>(exchanges)
                      : 0;
    std::printf(
        "  %-19s RSS %ld KB after %d s, %ld KB after %d s (%+.1f KB/min); of which RssAnon "
        "%ld -> %ld KB (%+.1f bytes per exchange over %ld exchanges), RssFile %ld -> %ld KB; "
        "exit status %d\n",
        w->name.c_str(), w->first.rss_kb, first_s, w->last.rss_kb, last_s, kb_per_min,
        w->first.anon_kb, w->last.anon_kb, bytes_per_exchange, exchanges, w->first.file_kb,
        w->last.file_kb, status);
    std::printf("RESULT %s_rss_first %ld KB\n", w->name.c_str(), w->first.rss_kb);
    std::printf("RESULT %s_rss_last %ld KB\n", w->name.c_str(), w->last.rss_kb);
    std::printf("RESULT %s_rss_growth %.1f KB/min\n", w->name.c_str(), kb_per_min);
    std::printf("RESULT %s_anon_first %ld KB\n", w->name.c_str(), w->first.anon_kb);
    std::printf("RESULT %s_anon_last %ld KB\n", w->name.c_str(), w->last.anon_kb);
  }
  return failures == 0 ? 0 : 1;
}
