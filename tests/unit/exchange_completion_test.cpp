// The exchange engine's completion (Timer_RxTimer): validation, the RX lines, the
// CRC error and time-out lines, the port's close, the restore after an interface
// reset, the flags, and what it re-arms; the bus-search rules included.

#include <gtest/gtest.h>

#include "serial/comport.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

TEST(ExchangeCompletion, AnAnswerWhoseCrcFailsShowsTheBytesLeftAndCrcError) {
  SimulatedForm t;
  t.line.faults().bad_crc_probability = 1.0;  // the high CRC byte inverted: 4E -> B1
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  // 13 attempts drop 13 of the 21 bytes; the 8 left are shown, then the error.
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ",
                                      "RX : 00 00 00 00 00 00 51 B1 ", kCrcErrorLine}));
  EXPECT_EQ(t.w().TeMemo1.FontColor(), 16711680u);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), "");
  EXPECT_FALSE(t.w().ComPort1().Connected());
  EXPECT_EQ(t.state().PendingOp, 0);
  EXPECT_EQ(t.state().QueryPending, 0);
}

TEST(ExchangeCompletion, ItClosesThePortBeforeTheAnswerIsDispatched) {
  // The speed-change dialog runs inside the dispatcher: the port is closed by then.
  SimulatedForm t;
  bool connected_in_dialog = true;
  t.dialogs.while_open = [&] { connected_in_dialog = t.w().ComPort1().Connected(); };
  t.Do([&] {
    t.state().QueryPending = 1;
    t.w().SendWriteRegister(2, 6, t.w().TeMemo1);  // 19200 bit/s
    t.state().PendingOp = 2;
  });
  ASSERT_TRUE(t.RunToCompletion());
  ASSERT_EQ(t.dialogs.questions.size(), 1u);
  EXPECT_FALSE(connected_in_dialog);
  EXPECT_EQ(t.LogLines().back(), kOkLine);
}

TEST(ExchangeCompletion, ItRearmsADeferredActionOrTheSequencer) {
  struct Case {
    std::uint8_t session_mode;
    std::uint8_t action_deferred;
    bool wait_enabled;
    bool programm_enabled;
  };
  const Case cases[] = {
      {0, 0, false, false},   // idle: nothing
      {0, 1, true, false},    // a deferred action alone
      {255, 0, false, true},  // the cyclic query goes on
      {3, 0, false, true},    // the interface reset goes on
      {255, 1, true, false},  // the deferred action first; the sequence waits for it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.session_mode) << "/" << int(c.action_deferred));
    SimulatedForm t;
    t.Do([&] { t.w().SendWriteRegister(4, 3, t.w().TeMemo1); });
    t.state().SessionMode = c.session_mode;
    t.state().ActionDeferred = c.action_deferred;
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.w().Timer_Wait.Enabled(), c.wait_enabled);
    EXPECT_EQ(t.w().Timer_Programm.Enabled(), c.programm_enabled);
    EXPECT_EQ(t.state().ActionDeferred, 0);
    t.state().SessionMode = 0;
  }
}

TEST(ExchangeCompletion, TheSecondResetStepRestoresTheSavedSpeedUnlessBothStepsWereConfirmed) {
  enum class Outcome { kEcho, kSilence, kBadCrc, kException };
  struct Case {
    const char* what;
    Outcome outcome;
    std::uint8_t steps_before;
    TBaudRate port_after;
    std::string reset_line;  // the line before the last, when the echo came
    std::string last_line;
  };
  const Case cases[] = {
      {"both steps confirmed", Outcome::kEcho, 1, TBaudRate::br9600, kResetOkLine, kOkLine},
      {"first step not confirmed", Outcome::kEcho, 0, TBaudRate::br19200, kResetErrorLine, kOkLine},
      {"no answer to the second", Outcome::kSilence, 1, TBaudRate::br19200, "RX :", kTimeOutLine},
      {"an exception answer", Outcome::kException, 1, TBaudRate::br19200, "", kErrorLine},
      // The completion set PendingOp 255 before its restore test.
      {"a bad CRC", Outcome::kBadCrc, 1, TBaudRate::br9600, "", kCrcErrorLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedForm t;
    switch (c.outcome) {
      case Outcome::kEcho:
        break;
      case Outcome::kSilence:
        t.line.faults().silent = true;
        break;
      case Outcome::kBadCrc:
        t.line.faults().bad_crc_probability = 1.0;
        break;
      case Outcome::kException:
        t.line.faults().forced_exception = 3;
        break;
    }
    t.state().SavedBaudRate = TBaudRate::br19200;
    t.Do([&] {
      t.w().SendWriteRegisterTo(247, 2, 4, t.w().TeMemo1);
      t.state().PendingOp = 5;
      t.state().ResetStepCount = c.steps_before;
    });
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.w().ComPort1().BaudRate(), c.port_after);
    const auto lines = t.LogLines();
    EXPECT_EQ(lines.back(), c.last_line);
    if (!c.reset_line.empty()) {
      EXPECT_EQ(lines[lines.size() - 2], c.reset_line);
    }
  }
}

TEST(ExchangeCompletion, DuringABusSearchFailedProbesAreSilentAndTheProbeTo248EndsIt) {
  struct Case {
    const char* what;
    std::uint8_t address;
    bool bad_crc;  // else no answer at all
    bool ends;
  };
  const Case cases[] = {
      {"no answer from 10", 10, false, false},
      {"a bad CRC from 10", 10, true, false},
      {"no answer from 247 does not end it", 247, false, false},
      {"no answer from 248", 248, false, true},
      {"a bad CRC in the window of 248", 248, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedForm t(false);  // nobody on the line
    if (c.bad_crc) t.line.ScriptAnswer({0x0A, 0x03, 0x02, 0x00, 0x10, 0x71, 0x9E});
    t.state().SessionMode = 254;
    t.state().SearchDelayMs = 350;  // an answer is handed over inside the window
    t.state().DeviceAddress = c.address;
    t.Do([&] {
      t.w().SendReadRegisters(0, 1, t.w().TeMemo1);
      t.state().PendingOp = 254;
    });
    ASSERT_TRUE(t.RunToCompletion());
    const auto lines = t.LogLines();
    if (c.ends) {
      ASSERT_EQ(lines.size(), 3u);
      EXPECT_EQ(lines[1], "RX :");
      EXPECT_EQ(lines[2], kNotFoundLine);
      EXPECT_EQ(t.state().SessionMode, 0);
      EXPECT_EQ(t.state().DeviceAddress, 247);
      EXPECT_FALSE(t.w().ComPort1().Connected());  // closed at step 6
      EXPECT_FALSE(t.w().Timer_Programm.Enabled());
    } else {
      // The probe's request line and "RX :" only; the port stays open.
      EXPECT_EQ(lines.size(), 2u);
      EXPECT_EQ(lines.back(), "RX :");
      EXPECT_EQ(t.state().SessionMode, 254);
      EXPECT_TRUE(t.w().ComPort1().Connected());
      EXPECT_TRUE(t.w().Timer_Programm.Enabled());
      t.state().SessionMode = 0;
    }
  }
}

TEST(ExchangeCompletion, AHitDuringABusSearchClosesThePortThatStayedOpen) {
  SimulatedForm t(false);
  t.line.AddDetector(5);
  t.state().SessionMode = 254;
  t.state().SearchDelayMs = 350;
  t.state().DeviceAddress = 5;
  t.Do([&] {
    t.w().SendReadRegisters(0, 1, t.w().TeMemo1);
    t.state().PendingOp = 254;
  });
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(t.state().DeviceAddress, 5);
  EXPECT_FALSE(t.w().ComPort1().Connected());
  EXPECT_FALSE(t.w().Timer_Programm.Enabled());
}

}  // namespace
}  // namespace ornat::testing
