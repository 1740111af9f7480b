#include <gtest/gtest.h>

#include <cerrno>

#include "serial/comport.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using testing::SimulatedForm;
using testing::WithCrc;

const sim::Bytes kStep1 = {0xF7, 0x06, 0x00, 0x01, 0x00, 0xF7, 0x8D, 0x1A};
const sim::Bytes kStep2 = {0xF7, 0x06, 0x00, 0x02, 0x00, 0x04, 0x3D, 0x5F};
const std::string kCyrillic = "DEVICE : \u0410 = ";

enum class Outcome { kAck, kException, kTimeOut, kBadCrc };

// Makes the detector answer the next request as `outcome` says.
void Arrange(SimulatedForm& t, Outcome outcome, const sim::Bytes& request) {
  t.line.faults() = {};
  switch (outcome) {
    case Outcome::kAck:
      break;
    case Outcome::kException:
      t.line.ScriptAnswer(WithCrc({request[0], 0x86, 0x02}));
      break;
    case Outcome::kTimeOut:
      t.line.faults().silent = true;
      break;
    case Outcome::kBadCrc:
      t.line.faults().bad_crc_probability = 1.0;
      break;
  }
}

struct Row {
  const char* name;
  Outcome step1, step2;
  bool pc_at_19200;  // BaudIndex 5 before the reset (else 3)
  DialogAnswer answer;
  bool dialog;
  std::string reset_line;  // "" : none
  std::string last_line;
  TBaudRate port_after;
  std::uint8_t baud_index_after;
};

TEST(InterfaceReset, EveryOutcomeEndsWithTheRightLinesDialogAndPortSpeed) {
  const std::string ok = testing::kOkLine;
  const Row rows[] = {
      {"ack/ack at 9600", Outcome::kAck, Outcome::kAck, false, DialogAnswer::No, false,
       testing::kResetOkLine, ok, TBaudRate::br9600, 3},
      {"ack/ack from 19200, Yes", Outcome::kAck, Outcome::kAck, true, DialogAnswer::Yes, true,
       testing::kResetOkLine, ok, TBaudRate::br9600, 3},
      {"ack/ack from 19200, No", Outcome::kAck, Outcome::kAck, true, DialogAnswer::No, true,
       testing::kResetOkLine, ok, TBaudRate::br19200, 3},
      {"nak/ack at 9600", Outcome::kException, Outcome::kAck, false, DialogAnswer::No, false,
       testing::kResetErrorLine, ok, TBaudRate::br9600, 3},
      {"nak/ack from 19200, Yes", Outcome::kTimeOut, Outcome::kAck, true, DialogAnswer::Yes, true,
       testing::kResetErrorLine, ok, TBaudRate::br19200, 3},
      {"nak/ack from 19200, No", Outcome::kBadCrc, Outcome::kAck, true, DialogAnswer::No, true,
       testing::kResetErrorLine, ok, TBaudRate::br19200, 3},
      {"step 2 times out", Outcome::kAck, Outcome::kTimeOut, true, DialogAnswer::Yes, false, "",
       testing::kTimeOutLine, TBaudRate::br19200, 5},
      {"step 2 exception", Outcome::kAck, Outcome::kException, true, DialogAnswer::Yes, false, "",
       testing::kErrorLine, TBaudRate::br19200, 5},
      {"step 2 bad CRC stays at 9600", Outcome::kAck, Outcome::kBadCrc, true, DialogAnswer::Yes,
       false, "", testing::kCrcErrorLine, TBaudRate::br9600, 5},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SimulatedForm t;
    TForm1& w = t.w();
    if (r.pc_at_19200) t.Do([&] { w.BR_19200.Click(); });
    t.dialogs.answers = {r.answer};
    Arrange(t, r.step1, kStep1);
    t.Click(w.TeButton2);
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.state().ResetStepCount, r.step1 == Outcome::kAck ? 1 : 0);
    Arrange(t, r.step2, kStep2);
    ASSERT_TRUE(t.RunUntilIdle());
    ASSERT_EQ(t.Requests().size(), 2u);
    EXPECT_EQ(t.Requests()[0], kStep1);
    EXPECT_EQ(t.Requests()[1], kStep2);
    const auto log = t.LogLines();
    EXPECT_EQ(log.back(), r.last_line);
    if (!r.reset_line.empty()) {
      ASSERT_GE(log.size(), 2u);
      EXPECT_EQ(log[log.size() - 2], r.reset_line);
    } else {
      EXPECT_EQ(std::count(log.begin(), log.end(), testing::kResetOkLine), 0);
      EXPECT_EQ(std::count(log.begin(), log.end(), testing::kResetErrorLine), 0);
    }
    EXPECT_EQ(t.dialogs.questions.size(), r.dialog ? 1u : 0u);
    EXPECT_EQ(w.ComPort1().BaudRate(), r.port_after);
    EXPECT_EQ(t.state().BaudIndex, r.baud_index_after);
    EXPECT_EQ(t.state().SessionMode, 0);
    if (r.dialog && r.answer == DialogAnswer::Yes) {
      EXPECT_TRUE(w.BR_9600.Checked());
      EXPECT_EQ(w.StatusBar1.PanelText(1), "BaudRate = 9600");
    }
    if (r.dialog) {
      EXPECT_EQ(w.StatusBar1.PanelText(2), kCyrillic + "247; Baud = 9600");
    }
  }
}

TEST(InterfaceReset, TwoResetsInARowEachCountOnlyTheirOwnSteps) {
  // PC at 19200 bit/s, the detector at 247 and 9600. First reset: step 1 acknowledged,
  // step 2 timed out. Second: step 1 timed out, step 2 acknowledged, the dialog
  // answered Yes. Each ends with one step confirmed, so each puts the port back to
  // 19200; a count carried over from the first would make the second look confirmed.
  SimulatedForm t;
  TForm1& w = t.w();
  t.Do([&] { w.BR_19200.Click(); });
  struct Reset {
    bool step1_answered, step2_answered;
    std::string last_lines;
  } resets[] = {{true, false, testing::kTimeOutLine}, {false, true, testing::kOkLine}};
  t.dialogs.answers.push_back(DialogAnswer::Yes);
  for (const Reset& r : resets) {
    t.line.faults().silent = !r.step1_answered;
    t.Click(w.TeButton2);
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br9600);
    t.line.faults().silent = !r.step2_answered;
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.LogLines().back(), r.last_lines);
    EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br19200) << "back to the speed before";
  }
  EXPECT_EQ(t.dialogs.questions.size(), 1u);
  const auto log = t.LogLines();
  EXPECT_EQ(log[log.size() - 2], testing::kResetErrorLine);
  EXPECT_EQ(t.Requests(), (std::vector<sim::Bytes>{kStep1, kStep2, kStep1, kStep2}));
}

TEST(InterfaceReset, BothStepsGoOutAt9600WithTheTimeoutOfTheMenuSpeed) {
  SimulatedForm t(false);  // nothing on the line
  TForm1& w = t.w();
  t.Do([&] { w.BR_1200.Click(); });
  t.Click(w.TeButton2);
  const Micros pressed = t.Now();
  ASSERT_TRUE(t.RunUntilIdle());
  ASSERT_EQ(t.Requests().size(), 2u);
  const auto sent = t.line.RequestTimes();
  ASSERT_EQ(t.Completions().size(), 2u);
  EXPECT_EQ(sent[0] - pressed, Millis(20));
  EXPECT_EQ(t.Completions()[0] - sent[0], Millis(3000));
  EXPECT_EQ(sent[1] - t.Completions()[0], Millis(20));
  EXPECT_EQ(t.Completions()[1] - sent[1], Millis(3000));
  EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br1200) << "back to the speed before";
  EXPECT_EQ(t.LogLines().back(), testing::kTimeOutLine);
}

TEST(InterfaceReset, IsIgnoredWhileAnySequenceRuns) {
  for (std::uint8_t mode : {254, 255, 2, 3}) {
    SimulatedForm t;
    t.state().SessionMode = mode;
    t.Click(t.w().TeButton2);
    EXPECT_EQ(t.state().SessionMode, mode);
    EXPECT_FALSE(t.w().Timer_Programm.Enabled());
  }
}

TEST(InterfaceReset, AnAlarmResetPressedDuringStepOneGoesBetweenTheSteps) {
  SimulatedForm t;
  TForm1& w = t.w();
  t.Click(w.TeButton2);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
  t.Click(w.TeButton3);
  EXPECT_EQ(t.Requests().size(), 1u) << "deferred while step 1 is in flight";
  ASSERT_TRUE(t.RunToCompletion());
  const Micros step1_done = t.Completions().back();
  ASSERT_TRUE(t.RunToCompletion());
  ASSERT_EQ(t.Requests().size(), 2u);
  EXPECT_EQ(t.Requests()[1], WithCrc({0xF7, 0x06, 0x00, 0x06, 0xAA, 0x55}));
  EXPECT_EQ(t.line.RequestTimes()[1] - step1_done, Millis(20));
  const Micros alarm_done = t.Completions().back();
  ASSERT_TRUE(t.RunUntilIdle());
  ASSERT_EQ(t.Requests().size(), 3u);
  EXPECT_EQ(t.Requests()[2], kStep2);
  EXPECT_EQ(t.line.RequestTimes()[2] - alarm_done, Millis(500));
}

TEST(InterfaceReset, AFailedSendEndsItWithNoLaterStepAndThePortAsBefore) {
  // The PC at 19200 bit/s. The send that fails: step 1's, step 2's, or an alarm reset
  // pressed before step 1 went out (the port not yet switched).
  const sim::Bytes query = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
  for (int failing : {1, 2, 0}) {
    SCOPED_TRACE(failing);
    SimulatedForm t;
    TForm1& w = t.w();
    t.Do([&] { w.BR_19200.Click(); });
    if (failing != 2) t.device.FailNext("Open", ENOENT);
    t.Click(w.TeButton2);
    if (failing == 0) t.Click(w.TeButton3);
    if (failing == 2) {
      ASSERT_TRUE(t.RunToCompletion());  // step 1 acknowledged
      t.device.FailNext("Open", ENOENT);
    }
    t.AdvanceMs(100);
    EXPECT_EQ(t.LogLines().back(), testing::kPortErrorCom1);
    EXPECT_EQ(t.state().SessionMode, 0);
    EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br19200);
    EXPECT_FALSE(w.Working());
    // A query minutes later completes (a time-out at 19200): no step follows it.
    t.AdvanceMs(120'000);
    t.Click(w.TeButton5);
    ASSERT_TRUE(t.RunUntilIdle());
    const std::vector<sim::Bytes> sent = {kStep1, query};
    EXPECT_EQ(t.Requests(), (failing == 2 ? sent : std::vector<sim::Bytes>{query}));
  }
}

}  // namespace
}  // namespace ornat
