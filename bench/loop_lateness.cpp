// The real-time loop's timers on this platform: how late a timer of 5 ms (the settling
// after a hand-over), 20 ms (a sequence's step) and 500 ms (the cyclic query's cycle)
// fires, each re-armed from its own firing as the window's timers are. The same source
// runs on Linux and, cross-built, on Windows or under Wine. Prints figures; asserts
// nothing.
//
// Usage: bench_loop_lateness [cycles of 500 ms (default 20)]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/handler_gate.h"
#include "runtime/realtime_loop.h"
#include "ui/toolkit/dialogs.h"

namespace {

using Clock = std::chrono::steady_clock;

class NoDialogs : public ornat::Dialogs {
 public:
  ornat::DialogAnswer AskYesNo(const std::string&) override { return ornat::DialogAnswer::No; }
  void ShowException(const std::string&) override {}
};

// Lateness in ms of `count` firings of a timer of `interval`.
std::vector<double> Measure(ornat::RealtimeLoop& loop, std::chrono::milliseconds interval,
                            int count) {
  std::vector<double> late;
  int left = count;
  Clock::time_point due;
  std::function<void()> fire;
  fire = [&] {
    const auto now = Clock::now();
    late.push_back(std::chrono::duration<double, std::milli>(now - due).count());
    if (--left > 0) {
      due = Clock::now() + interval;
      loop.ScheduleAfter(interval, fire);
    }
  };
  due = Clock::now() + interval;
  loop.ScheduleAfter(interval, fire);
  loop.RunUntil([&] { return left == 0; }, interval * (count + 10) + std::chrono::seconds(5));
  return late;
}

void Print(const char* key, const char* name, std::vector<double> v) {
  if (v.empty()) return;
  std::sort(v.begin(), v.end());
  const double median =
      v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  const std::size_t p95 = std::min(v.size() - 1, (v.size() * 95 + 99) / 100 - 1);
  std::printf("%-28s median %7.3f ms   p95 %7.3f ms   worst %7.3f ms   (n = %zu)\n", name, median,
              v[p95], v.back(), v.size());
  std::printf("RESULT %s_median %.3f ms\nRESULT %s_worst %.3f ms\n", key, median, key, v.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  NoDialogs dialogs;
  ornat::HandlerGate gate(dialogs);
  ornat::RealtimeLoop loop(gate);
  std::printf("real-time loop timers, sleeping on: %s\n", loop.WaiterKind());
  Print("loop_5ms_late", "5 ms settling, lateness",
        Measure(loop, std::chrono::milliseconds(5), 200));
  Print("loop_20ms_late", "20 ms step, lateness",
        Measure(loop, std::chrono::milliseconds(20), 100));
  Print("loop_500ms_late", "500 ms cycle, lateness",
        Measure(loop, std::chrono::milliseconds(500), cycles));
  return 0;
}
