// ornat_startup_bench [RUNS]: starts the window RUNS times (default 5) as a fresh
// process each, and prints for each run the time from the fork of the process to
// the end of the window's first paint, and the resident memory at that moment; then
// the median and the fastest run. Each child also measures how late 5 ms single-shot
// tasks of the Qt scheduler fire. Run it on a display (Xvfb: xvfb-run).

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/theme.h"
#include "serial/platform/posix_comm_device.h"

namespace {

long long MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

// Notes the end of the first paint of the window.
class FirstPaint : public QObject {
 public:
  FirstPaint(QWidget* window, std::function<void()> done)
      : window_(window), done_(std::move(done)) {}
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* w = qobject_cast<QWidget*>(watched);
    if (!seen_ && e->type() == QEvent::Paint && w != nullptr && w->window() == window_) {
      seen_ = true;
      // The rest of the frame is painted in the same pass; note the time after it.
      QTimer::singleShot(0, this, [this] { done_(); });
    }
    return QObject::eventFilter(watched, e);
  }

 private:
  QWidget* window_;
  std::function<void()> done_;
  bool seen_ = false;
};

int Child(long long t0) {
  int argc = 1;
  char name[] = "ornat";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  ornat::ApplyTheme(app);
  ornat::PosixCommDevice device;
  ornat::Program program(device);
  double startup_ms = 0;
  long rss_kb = 0;
  FirstPaint first(&program.view(), [&] {
    startup_ms = static_cast<double>(MonotonicNs() - t0) / 1e6;
    rss_kb = ResidentKb();
    // Then the scheduler's lateness: 40 single-shot 5 ms tasks one after another.
    auto* late = new std::vector<long long>;
    auto step = std::make_shared<std::function<void()>>();
    *step = [&, late, step] {
      if (late->size() == 40) {
        std::sort(late->begin(), late->end());
        long long sum = 0;
        for (long long v : *late) sum += v;
        std::printf("%.1f %ld %lld %lld\n", startup_ms, rss_kb,
                    sum / static_cast<long long>(late->size()), late->back());
        delete late;
        QApplication::quit();
        return;
      }
      auto due = program.form().Environment().scheduler->Now() + std::chrono::milliseconds(5);
      program.form().Environment().scheduler->ScheduleAfter(
          std::chrono::milliseconds(5), [&, late, step, due] {
            late->push_back((program.form().Environment().scheduler->Now() - due).count());
            (*step)();
          });
    };
    (*step)();
  });
  // The window's own area is covered by its children: watch every widget's paint.
  app.installEventFilter(&first);
  program.Start();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--child") return Child(std::atoll(argv[2]));
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<double> times;
  std::vector<long> rss;
  std::printf("run  start-to-first-paint  RSS after start  5 ms timer lateness (mean / max)\n");
  for (int i = 0; i < runs; ++i) {
    int out[2];
    if (pipe(out) != 0) return 1;
    const long long t0 = MonotonicNs();
    pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      const std::string t = std::to_string(t0);
      execl("/proc/self/exe", argv[0], "--child", t.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
      text.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    double ms = 0;
    long kb = 0;
    long long mean_us = 0, max_us = 0;
    if (std::sscanf(text.c_str(), "%lf %ld %lld %lld", &ms, &kb, &mean_us, &max_us) != 4) {
      std::printf("%3d  failed (exit status %d)\n", i + 1, status);
      continue;
    }
    times.push_back(ms);
    rss.push_back(kb);
    std::printf("%3d  %9.1f ms          %6.1f MB        %lld us / %lld us\n", i + 1, ms,
                static_cast<double>(kb) / 1024.0, mean_us, max_us);
  }
  if (times.empty()) return 1;
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  std::vector<long> rss_sorted = rss;
  std::sort(rss_sorted.begin(), rss_sorted.end());
  std::printf("median: %.1f ms to the first paint, %.1f MB resident; fastest %.1f ms\n",
              sorted[sorted.size() / 2],
              static_cast<double>(rss_sorted[rss_sorted.size() / 2]) / 1024.0, sorted.front());
  std::printf("RESULT first_paint_median %.1f ms\n", sorted[sorted.size() / 2]);
  std::printf("RESULT first_paint_worst %.1f ms\n", sorted.back());
  std::printf("RESULT rss_start_median %.1f MB\n",
              static_cast<double>(rss_sorted[rss_sorted.size() / 2]) / 1024.0);
  return 0;
}
