// The exchange engine for real: TForm1 with the real ComPort1, its event thread and
// the POSIX device, in real time, over a pseudo-terminal against ornat-sim. Windows
// of time are generous: these tests check behaviour, not speed.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/runtime_dir.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

TEST(ExchangePty, AReadOfEightRegistersCompletesWithTheAnswerInTheLog) {
  Watchdog dog(30s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), kQueryLog);
  EXPECT_EQ(t.w().TeMemo1.FontColor(), 16711680u);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), kTypeCell);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kNormalCell);
  EXPECT_FALSE(t.w().ComPort1().Connected());
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

TEST(ExchangePty, TheRegisteredPortNameOpensTheSimulatorsPty) {
  Watchdog dog(30s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ScopedRuntimeDir runtime(sim.runtime_dir());
  LiveForm t(sim.port_name());
  EXPECT_EQ(t.w().ComPort1().Port(), "ornat-sim");
  t.Click(t.w().TeButton5);
  EXPECT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), kQueryLog);
}

TEST(ExchangePty, TheCompletionComes155MsAfterTheAnswersLastByteOnTheWire) {
  Watchdog dog(60s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  for (int i = 0; i < 5; ++i) {
    t.Click(t.w().TeButton5);
    ASSERT_TRUE(t.RunToCompletion(3s));
    EXPECT_EQ(t.LogLines().back(), kOkLine);
  }
  const auto answers = sim.WireAnswers();
  ASSERT_EQ(answers.size(), 5u);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const double delay = Ms(t.Completions()[i] - answers[i].last);
    // 150 ms of silence end the read, 5 ms of settling follow; never earlier.
    EXPECT_GE(delay, 154.0) << i;
    EXPECT_LE(delay, 300.0) << i;
  }
}

TEST(ExchangePty, ASilentDetectorGivesTimeOutAfter500Ms) {
  Watchdog dog(30s);
  SimProcess sim({"--silent"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  const auto sent = Clock::now();
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  const double waited = Ms(t.Completions()[0] - sent);
  EXPECT_GE(waited, 499.0);
  EXPECT_LE(waited, 800.0);
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ", "RX :", kTimeOutLine}));
}

TEST(ExchangePty, ABadCrcGivesTheBytesLeftAndCrcError) {
  Watchdog dog(30s);
  SimProcess sim({"--bad-crc", "1"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ",
                                      "RX : 00 00 00 00 00 00 51 B1 ", kCrcErrorLine}));
}

TEST(ExchangePty, AnEchoingAdapterStillGivesTheAnswer) {
  Watchdog dog(30s);
  SimProcess sim({"--echo"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), kQueryLog);
}

TEST(ExchangePty, TheSimulatorKilledMidExchangeNeitherHangsNorCrashesTheEngine) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::chrono::milliseconds kill_after;
  };
  const Case cases[] = {
      {"before the answer", {"--delay", "200"}, 50ms},
      {"inside the answer", {"--pause", "400@10"}, 60ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Watchdog dog(30s);
    SimProcess sim(c.args);
    ASSERT_TRUE(sim.Started());
    // By its registered name, which dies with the simulator: its pty's number, once free,
    // is soon another program's, and the next send must not open that.
    ScopedRuntimeDir runtime(sim.runtime_dir());
    LiveForm t(sim.port_name());
    t.Click(t.w().TeButton5);
    t.RunFor(c.kill_after);
    sim.Kill();
    ASSERT_TRUE(t.RunToCompletion(3s));
    const std::string last = t.LogLines().back();
    EXPECT_TRUE(last == kTimeOutLine || last == kCrcErrorLine) << last;
    EXPECT_FALSE(t.w().ComPort1().Connected());
    // The next send finds no port and says so; nothing hangs.
    t.Click(t.w().TeButton5);
    t.RunFor(700ms);
    EXPECT_EQ(t.LogLines().back(),
              kPortErrorCom1.substr(0, kPortErrorCom1.size() - 4) + "ornat-sim");
    EXPECT_TRUE(t.dialogs.exceptions.empty());
  }
}

TEST(ExchangePty, TwoHundredExchangesLeakNoFileDescriptor) {
  Watchdog dog(180s);
  SimProcess sim({"--turnaround", "1"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  // A first exchange, so that whatever is opened once (the loop's own) is open.
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  const int before = OpenFileDescriptors();
  int ok = 0;
  for (int i = 0; i < 200; ++i) {
    t.Click(t.w().TeButton5);
    ASSERT_TRUE(t.RunToCompletion(3s)) << i;
    ok += t.LogLines().back() == kOkLine;
  }
  EXPECT_EQ(ok, 200);
  EXPECT_EQ(OpenFileDescriptors(), before);
}

}  // namespace
}  // namespace ornat::testing
