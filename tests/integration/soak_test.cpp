// Long run of the cyclic query over a pseudo-terminal against ornat-sim, with the
// line's faults switched on and off through the simulator's console while the cycle
// runs: bad CRCs, silence, stray bytes, echoes, answers split by a pause, exception
// answers, short answers, late answers, a wrong identity. Every exchange must end
// within its response timeout (and some slack), leave exactly one well-formed
// exchange in the log with the outcome its fault gives (an answer whose read ends
// just as its time-out fires comes as a late answer of its own in place of the
// time-out line, and is checked as such), and the process must hold no more
// descriptors, threads or memory at the end than after warming up.
//
// ORNAT_SOAK_SECONDS sets the length (default 60 s); hours are fine by hand:
//   ORNAT_SOAK_SECONDS=7200 build/tests/ornat_integration_tests --gtest_filter='Soak*'

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_THREAD__)
constexpr bool kUnderTsan = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kUnderTsan = true;
#else
constexpr bool kUnderTsan = false;
#endif
#else
constexpr bool kUnderTsan = false;
#endif

const std::string kQueryTx = "TX : F7 03 00 00 00 08 50 9A ";
constexpr double kTimeoutMs = 500;  // the response timeout at 9600 bit/s
// Scheduling slack on a loaded machine; TSan runs everything several times slower.
constexpr double kSlackMs = kUnderTsan ? 700 : 250;

int SoakSeconds() {
  const char* v = std::getenv("ORNAT_SOAK_SECONDS");
  const int s = v != nullptr ? std::atoi(v) : 0;
  return s > 0 ? s : 60;
}

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

struct Resources {
  int fds;
  int threads;
  long rss_kb;
};

Resources Measure() {
  // The directory stream of each count is open while it counts: the same at both ends.
  return {CountEntries("/proc/self/fd"), CountEntries("/proc/self/task"), ResidentKb()};
}

// A fault of the line and the outcomes an exchange under it may end in.
struct Phase {
  const char* name;
  std::vector<std::string> commands;  // after "clear", "normal" and "id 0x0010"
  std::vector<std::string> outcomes;
};

const std::vector<Phase>& Phases() {
  static const std::vector<Phase> phases = {
      {"a sound line", {}, {kOkLine}},
      {"every CRC bad", {"crc 1"}, {kCrcErrorLine}},
      {"half the CRCs bad", {"crc 0.5"}, {kOkLine, kCrcErrorLine}},
      {"silence", {"silent on"}, {kTimeOutLine}},
      {"5 stray bytes before the answer", {"stray 5"}, {kOkLine}},
      {"40 stray bytes, more than one read takes", {"stray 40"}, {kCrcErrorLine}},
      {"an echoing adapter", {"echo on"}, {kOkLine}},
      {"an echo and 3 stray bytes", {"echo on", "stray 3"}, {kOkLine}},
      {"the answer split by 200 ms", {"pause 200"}, {kCrcErrorLine}},
      {"a 100 ms pause inside the answer", {"pause 100"}, {kOkLine}},
      {"exception answers", {"exception 4"}, {kErrorLine}},
      {"5 registers instead of 8", {"regs 5"}, {kOkLine}},
      {"3 registers instead of 8", {"regs 3"}, {kWrongLengthLine}},
      {"answers 250 ms late", {"delay 250"}, {kOkLine}},
      {"answers 400 ms late", {"delay 400"}, {kTimeOutLine}},
      // The read ends 150 ms after the last byte, close to the 500 ms time-out: either
      // outcome, and now and then a late answer.
      {"answers at the edge of the time-out", {"delay 323"}, {kOkLine, kTimeOutLine}},
      {"another identity", {"id 0x0011"}, {kWrongIdLine}},
      {"an alarm", {"alarm"}, {kOkLine}},
  };
  return phases;
}

// The outcome line of the log if it holds one well-formed exchange of the query:
// the TX line, then "RX :" or the answer's RX lines, then one outcome line from
// the catalogue; otherwise "" and `why` says what is wrong.
std::string OutcomeOf(const std::vector<std::string>& log, std::string& why) {
  static const std::regex first_rx("RX : ([0-9A-F]{2} ){1,17}");
  static const std::regex more_rx("     ([0-9A-F]{2} ){1,17}");
  static const std::vector<std::string> catalogue = {kOkLine,    kCrcErrorLine, kTimeOutLine,
                                                     kErrorLine, kWrongIdLine,  kWrongLengthLine};
  if (log.size() < 3 || log[0] != kQueryTx) {
    why = "no TX line of the query first";
    return "";
  }
  const std::string& outcome = log.back();
  if (std::find(catalogue.begin(), catalogue.end(), outcome) == catalogue.end()) {
    why = "last line not an outcome: " + outcome;
    return "";
  }
  if (log[1] == "RX :") {
    if (log.size() != 3) why = "lines after \"RX :\" besides the outcome";
    return log.size() == 3 ? outcome : "";
  }
  if (!std::regex_match(log[1], first_rx)) {
    why = "not an RX line: " + log[1];
    return "";
  }
  for (std::size_t i = 2; i + 1 < log.size(); ++i)
    if (!std::regex_match(log[i], more_rx)) {
      why = "not a continuation of the RX dump: " + log[i];
      return "";
    }
  return outcome;
}

TEST(SoakPty, TheCyclicQueryRunsThroughMixedFaultsWithEveryExchangeWellFormedAndNothingGrowing) {
  const int seconds = SoakSeconds();
  Watchdog dog(std::chrono::seconds(seconds + 120));
  SimProcess sim({"--seed", "11"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();
  // The moment each step of the cycle fires (and sends its query).
  std::vector<Clock::time_point> sends;
  w.Timer_Programm.SetOnTimer([&](TObject* sender) {
    if (t.state().SessionMode != 0) sends.push_back(Clock::now());
    w.Timer_ProgrammTimer(sender);
  });
  // The moment each query's completion begins. An answer whose read ends just as
  // its time-out fires is handed over after the time-out's completion and brings a
  // completion of its own, with no query of its own: a late answer. The log before
  // and after it is kept.
  std::vector<Clock::time_point> completions;
  struct LateAnswer {
    std::vector<std::string> before, after;
  };
  std::vector<LateAnswer> late_answers;
  w.Timer_Rx.SetOnTimer([&](TObject* sender) {
    const bool late = completions.size() >= sends.size();
    if (late) {
      late_answers.push_back({t.LogLines(), {}});
    } else {
      completions.push_back(Clock::now());
    }
    w.Timer_RxTimer(sender);
    if (late) late_answers.back().after = t.LogLines();
  });

  t.Click(w.TeCheckBox1);
  t.Click(w.TeButton5);  // the cycle runs
  ASSERT_EQ(w.TeButton5.Caption(), "СТОП");

  std::mt19937 rng(20240611);
  std::vector<std::size_t> order(Phases().size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::size_t next_phase = order.size();  // shuffled when used up
  const Phase* phase = &Phases()[0];
  int exchanges_left_in_phase = 3;
  const int per_phase = 2;

  std::map<std::string, int> outcomes;
  int exchanges = 0;
  int switches = 0;
  int bad = 0;
  double longest_ms = 0;
  std::optional<Resources> start;
  const auto begun = Clock::now();
  const auto end_at = begun + std::chrono::seconds(seconds);
  auto next_report = begun + 60s;

  // Sets the next fault on the simulator's console.
  auto next_fault = [&] {
    if (next_phase >= order.size()) {
      std::shuffle(order.begin(), order.end(), rng);
      next_phase = 0;
    }
    phase = &Phases()[order[next_phase++]];
    std::vector<std::string> commands = {"clear", "normal", "id 0x0010"};
    commands.insert(commands.end(), phase->commands.begin(), phase->commands.end());
    for (const std::string& c : commands)
      if (sim.Command(c).value_or("").rfind("OK", 0) != 0) {
        ADD_FAILURE() << "console: " << c;
        return false;
      }
    ++switches;
    exchanges_left_in_phase = per_phase;
    return true;
  };
  int midway = 0;              // switches made while a query was under way
  bool switch_midway = false;  // the next switch comes while a query is under way
  std::uniform_int_distribution<int> midway_ms(0, 400);

  while (Clock::now() < end_at && bad < 5) {
    const std::size_t done = completions.size();
    // The fault the exchange under way runs under; none when it changed midway.
    const Phase* under = phase;
    if (switch_midway) {
      // Any moment from the query's write to past its completion (the next query
      // goes out 500 ms after that).
      const std::size_t sent = sends.size();
      ASSERT_TRUE(t.RunUntil([&] { return sends.size() > sent; }, 3s));
      t.RunFor(std::chrono::milliseconds(midway_ms(rng)));
      if (completions.size() == done) under = nullptr;
      ASSERT_TRUE(next_fault());
      switch_midway = false;
      ++midway;
    }
    ASSERT_TRUE(t.RunUntil([&] { return completions.size() > done; }, 3s))
        << "no completion within 3 s after exchange " << exchanges;
    ++exchanges;
    const std::string fault = under != nullptr ? under->name : "a fault changed midway";
    // Right after a completion: the port is closed and the next query 500 ms away.
    const auto log = t.LogLines();
    std::string why;
    const std::string outcome = OutcomeOf(log, why);
    ASSERT_EQ(sends.size(), completions.size()) << "one completion for each query";
    const double took_ms =
        std::chrono::duration<double, std::milli>(completions.back() - sends.back()).count();
    longest_ms = std::max(longest_ms, took_ms);
    if (outcome.empty()) {
      ++bad;
      ADD_FAILURE() << "exchange " << exchanges << " under " << fault
                    << ": not one well-formed exchange (" << why << ")";
    } else {
      ++outcomes[outcome];
      // An exchange whose fault changed midway may end in any outcome of the catalogue.
      if (under != nullptr && std::find(under->outcomes.begin(), under->outcomes.end(), outcome) ==
                                  under->outcomes.end()) {
        ++bad;
        ADD_FAILURE() << "exchange " << exchanges << " under " << fault << " ended in " << outcome;
      }
    }
    if (took_ms > kTimeoutMs + kSlackMs) {
      ++bad;
      ADD_FAILURE() << "exchange " << exchanges << " under " << fault << " took " << took_ms
                    << " ms";
    }
    if (outcome == kTimeOutLine && took_ms < kTimeoutMs - 1) {
      ++bad;
      ADD_FAILURE() << "a time-out after only " << took_ms << " ms";
    }
    if (exchanges == 3) start = Measure();  // warmed up
    if (Clock::now() >= next_report) {
      const Resources now = Measure();
      std::printf("  %5.0f s: %d exchanges, fds %d, threads %d, VmRSS %ld kB\n",
                  std::chrono::duration<double>(Clock::now() - begun).count(), exchanges, now.fds,
                  now.threads, now.rss_kb);
      std::fflush(stdout);
      next_report += 60s;
    }

    if (--exchanges_left_in_phase <= 0) {
      // Every other switch comes between two exchanges, so that the next one runs
      // wholly under the new fault; the others while a query is under way.
      if (switches % 2 == 0)
        ASSERT_TRUE(next_fault());
      else
        switch_midway = true;
    }
  }

  // "СТОП": the query in flight completes, nothing more is sent.
  t.Click(w.TeButton5);
  t.RunFor(1500ms);
  EXPECT_EQ(sends.size(), completions.size()) << "every query completed";
  // A late answer comes only after a time-out. Its answer lines replace the log's
  // last line, the time-out line, as an answer in time replaces "RX :".
  const std::vector<std::string> timed_out = {kQueryTx, "RX :", kTimeOutLine};
  for (const LateAnswer& late : late_answers) {
    EXPECT_EQ(late.before, timed_out) << "a completion without a query of its own";
    std::vector<std::string> own = late.after;
    std::string why;
    if (own.size() > 2 && own[1] == "RX :") own.erase(own.begin() + 1);
    EXPECT_FALSE(OutcomeOf(own, why).empty())
        << "not a late answer in place of the time-out (" << why
        << "): " << ::testing::PrintToString(late.after);
  }
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_FALSE(w.ComPort1().Connected());
  EXPECT_TRUE(t.dialogs.exceptions.empty());
  const Resources end = Measure();
  ASSERT_TRUE(start.has_value());
  const double ran_s = std::chrono::duration<double>(Clock::now() - begun).count();

  std::printf(
      "soak: %.0f s, %d exchanges, %d fault switches (%d while a query was under way), longest "
      "exchange %.1f ms, %zu late answers\n",
      ran_s, exchanges, switches, midway, longest_ms, late_answers.size());
  for (const auto& [line, n] : outcomes) std::printf("  %5d  \"%s\"\n", n, line.c_str());
  std::printf("  fds %d -> %d, threads %d -> %d, VmRSS %ld -> %ld kB\n", start->fds, end.fds,
              start->threads, end.threads, start->rss_kb, end.rss_kb);

  EXPECT_GT(exchanges, seconds / 2) << "the cycle kept going";
  // The line's lock, one descriptor held while the cyclic query ran, has gone with it.
  EXPECT_EQ(end.fds, start->fds - 1);
  EXPECT_EQ(end.threads, start->threads);
  // The log is cleared by every exchange and nothing else is kept per exchange but
  // a few time stamps; TSan's own bookkeeping grows with the run.
  const long slack_kb = kUnderTsan ? 65536 + 64L * exchanges : 8192;
  EXPECT_LE(end.rss_kb - start->rss_kb, slack_kb);
}

}  // namespace
}  // namespace ornat::testing
