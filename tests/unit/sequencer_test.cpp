// The operation sequencer: the routing of answers, the cyclic query on the virtual
// clock, the deferral of user actions that meet an exchange in flight, the alarm
// reset, and a cycle ended by a failed send.

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "support/hex.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

const Bytes kQuery = FromHex("F7 03 00 00 00 08 50 9A");
const Bytes kAlarmReset = FromHex("F7 06 00 06 AA 55 C3 C2");
const Bytes kTacticT2Min = FromHex("F7 06 00 04 00 03 9C 9C");
const Bytes kAddress247 = FromHex("F7 06 00 01 00 F7 8D 1A");

// The last n lines of the log.
std::vector<std::string> Tail(const SimulatedForm& t, std::size_t n) {
  auto lines = t.LogLines();
  if (lines.size() < n) return lines;
  return {lines.end() - static_cast<long>(n), lines.end()};
}

TEST(Sequencer, TheDispatcherRoutesAnAnswerByItsFunctionCodeAndTheAwaitedOperation) {
  struct Case {
    const char* what;
    std::uint8_t pending_op;
    std::uint8_t reset_steps;
    const char* answer;
    std::string after, then;  // the lines after the answer's RX line ("": none)
  };
  const Case cases[] = {
      {"function 3 after a service read", 30, 0, "F7 03 04 00 01 00 02 BC 3D", kOkLine, ""},
      {"function 3 awaited by nothing", 0, 0, "F7 03 02 00 10 71 9D", kOkLine, ""},
      {"function 6 after a configuration write", 6, 0, "F7 06 00 04 00 03 9C 9C", kOkLine, ""},
      {"function 16, never sent, routed all the same", 6, 0, "F7 10 00 04 00 01 54 9E", kOkLine,
       ""},
      {"exception 0x83 while a query awaits", 3, 0, "F7 83 02 20 C3", kErrorLine, ""},
      {"exception 0x86 to a write", 6, 0, "F7 86 03 E2 53", kErrorLine, ""},
      {"exception 0x90", 0, 0, "F7 90 01 6D F2", kErrorLine, ""},
      {"a query answer with the wrong identity", 3, 0,
       "F7 03 0A 00 11 00 F7 00 04 00 00 00 00 DA DE", kWrongIdLine, ""},
      {"second reset step, both confirmed", 5, 1, "F7 06 00 02 00 04 3D 5F", kResetOkLine, kOkLine},
      {"second reset step, first not confirmed", 5, 0, "F7 06 00 02 00 04 3D 5F", kResetErrorLine,
       kOkLine},
      {"first reset step", 4, 0, "F7 06 00 01 00 F7 8D 1A", kOkLine, ""},
      {"another function code gets no line", 6, 0, "F7 2B 0E 5F 06", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes answer = FromHex(c.answer);
    SimulatedForm t;
    t.line.ScriptAnswer(answer);
    t.Do([&] {
      t.w().SendWriteRegister(4, 3, t.w().TeMemo1);
      t.state().PendingOp = c.pending_op;
      t.state().ResetStepCount = c.reset_steps;
      if (c.pending_op == 3) t.state().QueryPending = 1;
    });
    ASSERT_TRUE(t.RunToCompletion());
    std::vector<std::string> expected = {RxLine(answer)};
    for (const std::string& line : {c.after, c.then})
      if (!line.empty()) expected.push_back(line);
    EXPECT_EQ(Tail(t, expected.size()), expected);
    EXPECT_EQ(t.state().PendingOp, 0);  // cleared by the completion, whatever the route
  }
}

TEST(Sequencer, TheResetStepsCountTheirEchoesAndTheFirstShowsAddress247) {
  SimulatedForm t;
  t.line.ScriptAnswer(kAddress247);
  t.Do([&] {
    t.w().SendWriteRegisterTo(247, 1, 247, t.w().TeMemo1);
    t.state().PendingOp = 4;
    t.state().ResetStepCount = 0;
  });
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.state().ResetStepCount, 1);
  EXPECT_EQ(t.state().DeviceAddress, 247);
  EXPECT_EQ(t.w().TeLabel5.Caption(), "АДРЕС ПРИБОРА - 247");
}

TEST(Sequencer, ACrcFailureWhoseBytesCarry0x83GetsTheErrorLineBeforeCrcError) {
  SimulatedForm t;
  // One attempt on 5 bytes drops the first; byte 1 of what is left is 0x83.
  t.line.ScriptAnswer({0x11, 0x22, 0x83, 0x44, 0x55});
  t.Do([&] {
    t.w().SendWriteRegister(4, 3, t.w().TeMemo1);
    t.state().PendingOp = 6;
  });
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(Tail(t, 3), (std::vector<std::string>{"RX : 22 83 44 55 ", kErrorLine, kCrcErrorLine}));
}

TEST(Sequencer, TheCyclicQueryReadsFirstAfter20MsThen500MsAfterEachCompletion) {
  enum class Outcome { kAnswer, kTimeOut, kCrcError };
  for (Outcome outcome : {Outcome::kAnswer, Outcome::kTimeOut, Outcome::kCrcError}) {
    SCOPED_TRACE(static_cast<int>(outcome));
    SimulatedForm t;
    if (outcome == Outcome::kTimeOut) t.line.faults().silent = true;
    if (outcome == Outcome::kCrcError) t.line.faults().bad_crc_probability = 1.0;
    t.AdvanceMs(100);
    t.Click(t.w().TeCheckBox1);
    EXPECT_FALSE(t.w().TeButton2.Enabled());  // no interface reset while it is checked
    t.Click(t.w().TeButton5);
    EXPECT_EQ(t.w().TeButton5.Caption(), "СТОП");
    EXPECT_FALSE(t.w().TeCheckBox1.Enabled());
    EXPECT_EQ(t.state().SessionMode, 255);
    t.AdvanceMs(19);
    EXPECT_TRUE(t.Requests().empty());
    ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 4; }));
    const auto sent = t.line.RequestTimes();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[0], Millis(120));
    for (std::size_t k = 1; k < 4; ++k) EXPECT_EQ(sent[k], t.Completions()[k - 1] + Millis(500));
    for (const Bytes& r : t.Requests()) EXPECT_EQ(r, kQuery);
  }
}

TEST(Sequencer, StopWhileTheNextQueryIsPendingSendsNoMore) {
  SimulatedForm t;
  t.Click(t.w().TeCheckBox1);
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  t.AdvanceMs(100);
  t.Click(t.w().TeButton5);  // "СТОП"
  EXPECT_EQ(t.w().TeButton5.Caption(), "ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_TRUE(t.w().TeCheckBox1.Enabled());
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(t.w().Timer_Programm.Interval(), 20);
  EXPECT_TRUE(t.w().Timer_Programm.Enabled());  // not disabled: it fires and does nothing
  EXPECT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests().size(), 1u);
  EXPECT_FALSE(t.w().Timer_Programm.Enabled());
}

TEST(Sequencer, StopWhileAQueryIsInFlightStillShowsItsAnswer) {
  SimulatedForm t;
  t.line.detector().SetState(2);
  t.Click(t.w().TeCheckBox1);
  t.Click(t.w().TeButton5);
  t.AdvanceMs(30);  // the query went out at 20 ms
  ASSERT_EQ(t.Requests().size(), 1u);
  t.Click(t.w().TeButton5);
  EXPECT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kFaultCell);
  EXPECT_EQ(t.Requests().size(), 1u);
}

TEST(Sequencer, TheQueryButtonDoesNothingDuringABusSearch) {
  for (bool cyclic : {false, true}) {
    SCOPED_TRACE(cyclic);
    SimulatedForm t;
    if (cyclic) t.Click(t.w().TeCheckBox1);
    t.state().SessionMode = 254;
    t.Click(t.w().TeButton5);
    EXPECT_EQ(t.w().TeButton5.Caption(), "&ЗАПРОС ПАРАМЕТРОВ");
    EXPECT_EQ(t.state().SessionMode, 254);
    EXPECT_FALSE(t.w().Timer_Programm.Enabled());
    EXPECT_EQ(t.device.Count("Open"), 0);
  }
}

TEST(Sequencer, TheCycleBoxDisablesTheInterfaceResetWhileChecked) {
  SimulatedForm t;
  EXPECT_TRUE(t.w().TeButton2.Enabled());
  t.Click(t.w().TeCheckBox1);
  EXPECT_FALSE(t.w().TeButton2.Enabled());
  t.Click(t.w().TeCheckBox1);
  EXPECT_TRUE(t.w().TeButton2.Enabled());
}

// Starts the cyclic query and runs until its first query is in flight.
void StartCycleUntilInFlight(SimulatedForm& t) {
  t.Click(t.w().TeCheckBox1);
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
  t.AdvanceMs(10);
  ASSERT_TRUE(t.w().Timer_Rx.Enabled());
}

TEST(Sequencer, ATacticClickDuringACyclicQueryExchangeSendsNothingAndTheAnswerSetsItBack) {
  SimulatedForm t;
  StartCycleUntilInFlight(t);
  t.Click(t.w().T2MIN_Button);
  EXPECT_EQ(t.state().ActionDeferred, 0);  // refused by QueryPending, not deferred
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_TRUE(t.w().T1MAX_Button.Checked());
  EXPECT_FALSE(t.w().T2MIN_Button.Checked());
  t.AdvanceMs(600);
  for (const Bytes& r : t.Requests()) EXPECT_EQ(r, kQuery);
}

TEST(Sequencer, ATacticClickBetweenTwoQueriesIsSentAtOnceAndTheCycleResumes500MsLater) {
  SimulatedForm t;
  StartCycleUntilInFlight(t);
  ASSERT_TRUE(t.RunToCompletion());
  t.AdvanceMs(100);
  const Micros clicked = t.Now();
  t.Click(t.w().T2MIN_Button);
  ASSERT_EQ(t.Requests().size(), 2u);
  EXPECT_EQ(t.Requests()[1], kTacticT2Min);
  EXPECT_EQ(t.line.RequestTimes()[1], clicked);
  ASSERT_TRUE(t.RunToCompletion());
  const Micros write_done = t.Completions().back();
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 3; }));
  EXPECT_EQ(t.Requests()[2], kQuery);
  EXPECT_EQ(t.line.RequestTimes()[2], write_done + Millis(500));
  EXPECT_EQ(t.line.detector().Register(4), 3);
}

TEST(Sequencer, AnAlarmResetDuringACyclicQueryExchangeIsSent20MsAfterItsCompletion) {
  SimulatedForm t;
  t.line.detector().SetState(1);
  StartCycleUntilInFlight(t);
  t.Click(t.w().TeButton3);
  EXPECT_EQ(t.state().ActionDeferred, 1);
  EXPECT_FALSE(t.w().Timer_Wait.Enabled());
  EXPECT_FALSE(t.w().Timer_Programm.Enabled());
  ASSERT_TRUE(t.RunToCompletion());
  const Micros query_done = t.Completions().back();
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kAlarmCell);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 2; }));
  EXPECT_EQ(t.Requests()[1], kAlarmReset);
  EXPECT_EQ(t.line.RequestTimes()[1], query_done + Millis(20));
  ASSERT_TRUE(t.RunToCompletion());
  const Micros reset_done = t.Completions().back();
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  ASSERT_TRUE(t.RunToCompletion());  // the next query
  EXPECT_EQ(t.line.RequestTimes()[2], reset_done + Millis(500));
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kNormalCell);  // the alarm is reset
}

TEST(Sequencer, OfTwoActionsDeferredInOneExchangeOnlyTheSecondRuns) {
  SimulatedForm t;
  StartCycleUntilInFlight(t);
  t.Click(t.w().TeButton3);  // alarm reset: deferred
  t.Click(t.w().TeButton1);  // address change: replaces it
  ASSERT_TRUE(t.RunToCompletion());
  ASSERT_TRUE(t.RunToCompletion());
  ASSERT_GE(t.Requests().size(), 2u);
  EXPECT_EQ(t.Requests()[1], kAddress247);
  EXPECT_EQ(t.line.RequestTimes()[1], t.Completions()[0] + Millis(20));
  ASSERT_TRUE(t.RunToCompletion());
  for (const Bytes& r : t.Requests()) EXPECT_NE(r, kAlarmReset);
}

TEST(Sequencer, ADeferredActionThatMeetsAnEarlierGuardKeepsTimerWaitFiringEvery20Ms) {
  SimulatedForm t;
  StartCycleUntilInFlight(t);
  t.Click(t.w().TeButton3);  // deferred
  ASSERT_TRUE(t.RunToCompletion());
  const Micros done = t.Completions().back();
  std::vector<Micros> fired;
  TNotifyEvent deferred = t.w().Timer_Wait.OnTimer();
  t.w().Timer_Wait.SetOnTimer([&](TObject* s) {
    fired.push_back(t.Now());
    deferred(s);
  });
  // A bus search starts before the deferred alarm reset runs: each run returns at its
  // first guard and leaves Timer_Wait firing.
  t.AdvanceMs(1);
  t.state().SessionMode = 254;
  t.AdvanceMs(70);
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_EQ(fired[0], done + Millis(20));
  EXPECT_EQ(fired[1], done + Millis(40));
  EXPECT_EQ(fired[2], done + Millis(60));
  EXPECT_TRUE(t.w().Timer_Wait.Enabled());
  // Once the search is over the next run gets through and sends the reset.
  t.state().SessionMode = 0;
  t.AdvanceMs(20);
  EXPECT_EQ(fired.size(), 4u);
  EXPECT_FALSE(t.w().Timer_Wait.Enabled());
  EXPECT_EQ(t.Requests().back(), kAlarmReset);
}

TEST(Sequencer, InIdleAnAlarmResetIsSentAtOnceEvenWhileAnExchangeIsInFlight) {
  SimulatedForm t;
  t.line.detector().SetState(1);
  t.Click(t.w().TeButton5);  // single query
  // The answer has been handed over; the completion is due within 5 ms.
  ASSERT_TRUE(t.RunUntil([&] { return t.state().ReceivedCount != 0; }));
  t.AdvanceMs(2);
  const Micros pressed = t.Now();
  t.Click(t.w().TeButton3);
  ASSERT_EQ(t.Requests().size(), 2u);
  EXPECT_EQ(t.Requests()[1], kAlarmReset);
  EXPECT_EQ(t.line.RequestTimes()[1], pressed);
  EXPECT_EQ(t.state().PendingOp, 6);
  ASSERT_TRUE(t.RunToCompletion());
  // The completion routes the echo it validated by PendingOp 6: no decoding.
  EXPECT_EQ(Tail(t, 2), (std::vector<std::string>{RxLine(kAlarmReset), kOkLine}));
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), "");
  EXPECT_EQ(t.line.detector().state(), 0);
  EXPECT_EQ(t.Completions().size(), 1u);
}

TEST(Sequencer, AFailedSendInsideTheCycleEndsItAsStopDoesAndEmptiesTheGrid) {
  // The cycle's own query, or an alarm reset pressed between two queries, meets a
  // port that cannot be opened.
  for (bool own_query : {true, false}) {
    SCOPED_TRACE(own_query);
    SimulatedForm t;
    TForm1& w = t.w();
    t.Click(w.TeCheckBox1);
    t.Click(w.TeButton5);
    ASSERT_TRUE(t.RunToCompletion());
    t.device.FailNext("Open", ENOENT);
    if (!own_query) t.Click(w.TeButton3);
    t.AdvanceMs(5000);
    EXPECT_EQ(t.LogLines().back(), kPortErrorCom1);
    EXPECT_EQ(w.TeButton5.Caption(), "ЗАПРОС ПАРАМЕТРОВ");
    EXPECT_TRUE(w.TeCheckBox1.Enabled());
    EXPECT_EQ(t.state().SessionMode, 0);
    EXPECT_EQ(w.Timer_Programm.Interval(), 20);
    EXPECT_EQ(w.StatusGrid.Cell(1, 0) + w.StatusGrid.Cell(1, 1), "");
    // The configuration writes are refused while the failed query's flag stands; the
    // alarm reset is not, and its completion re-arms nothing of the cycle.
    t.Click(w.T2MIN_Button);
    t.Click(w.TeButton3);
    ASSERT_TRUE(t.RunToCompletion());
    t.AdvanceMs(5000);
    EXPECT_EQ(t.Requests().size(), own_query ? 2u : 3u);
    EXPECT_EQ(t.Requests().back(), kAlarmReset);
  }
}

TEST(Sequencer, ACompletionThatCannotCloseThePortEndsTheCycleAndItsDeferredAction) {
  // The adapter is pulled as a query's answer comes: the completion's close fails. The
  // failure is reported, and neither the alarm reset waiting for that completion nor
  // the cycle's next query goes out with some later exchange.
  SimulatedForm t;
  TForm1& w = t.w();
  StartCycleUntilInFlight(t);
  t.Click(w.TeButton3);
  ASSERT_EQ(t.state().ActionDeferred, 1);
  t.device.FailNext("Purge", EIO);
  t.AdvanceMs(1000);
  EXPECT_EQ(t.ExceptionsShown().size(), 1u);
  EXPECT_EQ(w.TeButton5.Caption(), "ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(t.state().ActionDeferred, 0);
  EXPECT_EQ(t.state().QueryPending, 0);
  EXPECT_EQ(w.StatusGrid.Cell(1, 1), "");
  t.Click(w.Button1);  // a service read, which completes
  t.AdvanceMs(5000);
  ASSERT_EQ(t.Requests().size(), 2u);
  EXPECT_NE(t.Requests().back(), kAlarmReset);
}

// Records, for every request written, whether an exchange was in flight (Timer_Rx
// enabled) at that moment.
struct InFlightWrites {
  explicit InFlightWrites(SimulatedForm& t) {
    t.line.SetWriteHook([this, &t](const std::vector<std::uint8_t>&) {
      if (t.w().Timer_Rx.Enabled()) ++count;
    });
  }
  int count = 0;
};

TEST(Sequencer, AStepDueWhileAnExchangeIsInFlightWaitsForThatExchangesCompletion) {
  struct Case {
    const char* name;
    std::function<void(SimulatedForm&)> start_first;   // puts an exchange in flight
    std::function<void(SimulatedForm&)> start_second;  // its first step falls due then
    Bytes second_request;
    Millis after_completion;
  };
  const Case cases[] = {
      {"the cyclic query started 20 ms after the interface reset's first step",
       [](SimulatedForm& t) {
         t.Click(t.w().TeButton2);
         ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
         t.AdvanceMs(20);
       },
       [](SimulatedForm& t) {
         t.Click(t.w().TeCheckBox1);
         t.Click(t.w().TeButton5);
       },
       kQuery, Millis(20)},
      {"a bus search started while a cyclic query is in flight",
       [](SimulatedForm& t) { StartCycleUntilInFlight(t); },
       [](SimulatedForm& t) { t.Click(t.w().CustomItem5); }, FromHex("01 03 00 00 00 01 84 0A"),
       Millis(5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t;
    InFlightWrites in_flight(t);
    c.start_first(t);
    c.start_second(t);
    ASSERT_TRUE(t.w().Timer_Rx.Enabled());
    // The step falls due and sends nothing; the answer in flight is read whole.
    ASSERT_TRUE(t.RunToCompletion());
    const Micros first_done = t.Completions().back();
    EXPECT_EQ(t.Requests().size(), 1u);
    EXPECT_EQ(t.LogLines().back(), kOkLine);
    ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 2; }));
    EXPECT_EQ(t.Requests()[1], c.second_request);
    EXPECT_EQ(t.line.RequestTimes()[1], first_done + c.after_completion);
    // Stop whatever runs now.
    if (t.state().SessionMode == 255) t.Click(t.w().TeButton5);
    if (t.state().SessionMode == 254) t.Click(t.w().CustomItem5);
    t.RunUntilIdle();
    EXPECT_EQ(in_flight.count, 0);
  }
}

TEST(Sequencer, AnActionDeferredAfterAStepWasHeldBackStillRunsFirstAndTheStepFollows500MsLater) {
  // Reset step 1 in flight; the cyclic query is started and its first step falls due
  // (held back); then the alarm reset is pressed and waits. The completion of step 1
  // enables Timer_Wait only: the alarm reset goes 20 ms later, the query 500 ms after
  // the alarm reset's completion.
  SimulatedForm t;
  InFlightWrites in_flight(t);
  t.Click(t.w().TeButton2);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
  t.Click(t.w().TeCheckBox1);
  t.Click(t.w().TeButton5);
  t.AdvanceMs(25);
  EXPECT_FALSE(t.w().Timer_Programm.Enabled()) << "the step fired and was held back";
  EXPECT_EQ(t.Requests().size(), 1u);
  t.Click(t.w().TeButton3);
  EXPECT_EQ(t.state().ActionDeferred, 1);
  ASSERT_TRUE(t.RunToCompletion());
  const Micros step1_done = t.Completions().back();
  EXPECT_TRUE(t.w().Timer_Wait.Enabled());
  EXPECT_FALSE(t.w().Timer_Programm.Enabled());
  ASSERT_TRUE(t.RunToCompletion());
  ASSERT_EQ(t.Requests().size(), 2u);
  EXPECT_EQ(t.Requests()[1], kAlarmReset);
  EXPECT_EQ(t.line.RequestTimes()[1], step1_done + Millis(20));
  const Micros alarm_done = t.Completions().back();
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 3; }));
  EXPECT_EQ(t.Requests()[2], kQuery);
  EXPECT_EQ(t.line.RequestTimes()[2], alarm_done + Millis(500));
  t.Click(t.w().TeButton5);
  t.RunUntilIdle();
  EXPECT_EQ(in_flight.count, 0);
}

TEST(Sequencer, ASingleQueryDuringTheInterfaceResetWaitsForTheStepInFlight) {
  // Deferral is not only the cycle's: during the reset's first step (SessionMode 3)
  // the query waits, then runs 20 ms after that step's completion; the second step
  // follows 500 ms after the query's completion.
  SimulatedForm t;
  t.Click(t.w().TeButton2);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
  t.AdvanceMs(5);
  t.Click(t.w().TeButton5);
  EXPECT_EQ(t.state().ActionDeferred, 1);
  ASSERT_TRUE(t.RunToCompletion());
  const Micros step1_done = t.Completions().back();
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.Requests()[1], kQuery);
  EXPECT_EQ(t.line.RequestTimes()[1], step1_done + Millis(20));
  const Micros query_done = t.Completions().back();
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.Requests()[2], FromHex("F7 06 00 02 00 04 3D 5F"));
  EXPECT_EQ(t.line.RequestTimes()[2], query_done + Millis(500));
}

}  // namespace
}  // namespace ornat::testing
