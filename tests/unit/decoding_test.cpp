// The detector's register map at work: the decoding of the parameter answer into the
// status grid, the tactic buttons and the two boxes; the eleven configuration
// handlers with their guards; the three service reads.

#include <gtest/gtest.h>

#include <functional>

#include "support/hex.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"
#include "support/window_actions.h"

namespace ornat::testing {
namespace {

// A detector at address 5 answering the parameter query: byte count 16; register 3 = 0
// (normal), 4 = 3 (T2MIN), 5 = 0 (latching on), 7 = 1 (test on).
const Bytes kExample = FromHex("05 03 10 00 10 00 05 00 04 00 00 00 03 00 00 00 00 00 01 EE 90");

// The nine tactic buttons with their names, in the order of the window.
std::vector<std::pair<const char*, TTeRadioButton*>> Tactics(TForm1& w) {
  return {{"T1MAX", &w.T1MAX_Button},         {"T2MAX", &w.T2MAX_Button},
          {"T2MIN", &w.T2MIN_Button},         {"T3_100MIN", &w.T3_100MIN_Button},
          {"T3_100MAX", &w.T3_100MAX_Button}, {"T3_500MIN", &w.T3_500MIN_Button},
          {"T3_500MAX", &w.T3_500MAX_Button}, {"IRMAX", &w.IRMAX_Button},
          {"IRMIN", &w.IRMIN_Button}};
}

// The name of the one checked tactic button, "" when none, "several" otherwise.
std::string CheckedTactic(TForm1& w) {
  std::string found;
  for (auto [name, b] : Tactics(w)) {
    if (!b->Checked()) continue;
    if (!found.empty()) return "several";
    found = name;
  }
  return found;
}

TEST(Decoding, AParameterAnswerIsShownOrRejectedByItsLengthAndIdentity) {
  struct Case {
    const char* what;
    const char* answer;  // without its CRC
    std::uint8_t result;
    std::string type_cell, state_cell, tactic;
    bool fix, tst;
    std::string log;  // the line DecodeParameters adds, "" none
  };
  // Before each answer: T1MAX checked, FIX unchecked, TST checked, both cells filled.
  const std::string kBefore = "before";
  const std::string kType = kTypeCell;
  const Case cases[] = {
      {"a detector at 5, normal, T2MIN, test on",
       "05 03 10 00 10 00 05 00 04 00 00 00 03 00 00 00 00 00 01", 0, kType, kNormalCell, "T2MIN",
       true, true, ""},
      {"identity 0x1000", "05 03 10 10 00 00 05 00 04 00 00 00 03 00 00 00 00 00 01", 255, "", "",
       "T1MAX", false, true, kWrongIdLine},
      {"byte count 14 (7 registers), identity correct",
       "05 03 0E 00 10 00 05 00 04 00 00 00 03 00 00 00 00", 255, "", "", "T1MAX", false, true,
       kWrongLengthLine},
      {"the length is tested before the identity",
       "05 03 0E 10 00 00 05 00 04 00 00 00 03 00 00 00 00", 255, "", "", "T1MAX", false, true,
       kWrongLengthLine},
      {"byte count 10: latching on whatever was there, test unchanged",
       "05 03 0A 00 10 00 05 00 04 00 00 00 07", 0, kType, kNormalCell, "T3_500MAX", true, true,
       ""},
      {"byte count 12, register 5 = 0x0100 (low byte 0)",
       "05 03 0C 00 10 00 05 00 04 00 01 00 08 01 00", 0, kType, kAlarmCell, "IRMAX", true, false,
       ""},
      {"byte count 16, latching off, test off",
       "05 03 10 00 10 00 05 00 04 00 00 00 09 00 01 00 00 00 00", 0, kType, kNormalCell, "IRMIN",
       false, false, ""},
      {"state 7", "05 03 0A 00 10 00 05 00 04 00 07 00 00", 0, kType, kUnknownCell, "T1MAX", true,
       true, ""},
      {"state 0x0102: only its low byte counts", "05 03 0A 00 10 00 05 00 04 01 02 00 02", 0, kType,
       kFaultCell, "T2MAX", true, true, ""},
      {"tactic 1 checks none of the nine", "05 03 0A 00 10 00 05 00 04 00 00 00 01", 0, kType,
       kNormalCell, "", true, true, ""},
      {"tactic 12 checks none of the nine", "05 03 0A 00 10 00 05 00 04 00 00 01 0C", 0, kType,
       kNormalCell, "", true, true, ""},
      {"tactic 0x0206: only its low byte counts", "05 03 0A 00 10 00 05 00 04 00 00 02 06", 0,
       kType, kNormalCell, "T3_500MIN", true, true, ""},
      // An answer shorter than its byte count says, with a CRC that fits: the bytes
      // beyond it were never received (here they hold those of the answer from 5).
      {"7 bytes claiming 16", "05 03 10 00 10", 255, "", "", "T1MAX", false, true,
       kWrongLengthLine},
      {"19 bytes claiming 16", "05 03 10 00 10 00 05 00 04 00 02 00 04 00 00 00 00", 255, "", "",
       "T1MAX", false, true, kWrongLengthLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes answer = WithCrc(FromHex(c.answer));
    SimulatedForm t;
    TForm1& w = t.w();
    // The configuration is shown while the query awaits its answer.
    t.state().QueryPending = 1;
    t.Do([&] {
      w.T1MAX_Button.SetChecked(true);
      w.FIX_Button.SetChecked(false);
      w.TST_Button.SetChecked(true);
      w.StatusGrid.SetCell(1, 0, kBefore);
      w.StatusGrid.SetCell(1, 1, kBefore);
    });
    // Stale bytes of an earlier answer, then this one from byte 0.
    std::copy(kExample.begin(), kExample.end(), t.state().FrameBuffer.begin());
    std::copy(answer.begin(), answer.end(), t.state().FrameBuffer.begin());
    t.state().ReceivedCount = static_cast<std::uint16_t>(answer.size());
    w.TeMemo1.Clear();
    std::uint8_t result = 99;
    t.Do([&] { result = w.DecodeParameters(); });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(w.StatusGrid.Cell(1, 0), c.type_cell);
    EXPECT_EQ(w.StatusGrid.Cell(1, 1), c.state_cell);
    EXPECT_EQ(CheckedTactic(w), c.tactic);
    EXPECT_EQ(w.FIX_Button.Checked(), c.fix);
    EXPECT_EQ(w.TST_Button.Checked(), c.tst);
    EXPECT_EQ(w.TeMemo1.Lines(),
              c.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.log});
    // Showing the configuration never writes it back.
    EXPECT_EQ(t.device.Count("Write"), 0);
  }
}

TEST(Decoding, AnAnswerWithATrailingZeroTheValidatorAcceptedStillDecodes) {
  SimulatedForm t;
  Bytes answer = kExample;
  answer.push_back(0x00);
  t.line.ScriptAnswer(answer);
  TypeAddress(t, 5);  // the example's address
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : 05 03 00 00 00 08 45 88 ",
                                      "RX : 05 03 10 00 10 00 05 00 04 00 00 00 03 00 00 00 00 ",
                                      "     00 01 EE 90 00 ", kOkLine}));
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), kTypeCell);
  EXPECT_EQ(CheckedTactic(t.w()), "T2MIN");
}

TEST(Decoding, AFiveRegisterAnswerLeavesTheTestBoxAsItWasWhateverStaleByte18Holds) {
  // Test mode on in the detector. An 8-register answer puts 01 into byte 18 and checks
  // the box; a 6-register answer clears the box and leaves byte 18 as it was; a
  // 5-register answer must not read it.
  SimulatedForm t;
  TForm1& w = t.w();
  t.line.detector().SetRegister(7, 1);
  struct Step {
    std::uint16_t registers;
    bool test_checked;
  } steps[] = {{8, true}, {6, false}, {5, false}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.registers);
    t.line.faults().query_registers = s.registers;
    t.Click(w.TeButton5);
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.LogLines().back(), kOkLine);
    EXPECT_EQ(t.state().FrameBuffer[18], 0x01) << "byte 18 is stale after a short answer";
    EXPECT_EQ(w.TST_Button.Checked(), s.test_checked);
    EXPECT_TRUE(w.FIX_Button.Checked());
  }
  EXPECT_EQ(t.device.Count("Write"), 3) << "the three queries, nothing written back";
}

TEST(Decoding, AQueryShowsTheSimulatedDetectorAndSendsNothingBack) {
  SimulatedForm t;
  auto& d = t.line.detector();
  d.SetState(1);        // alarm
  d.SetRegister(4, 5);  // T3_100MAX
  d.SetRegister(5, 1);  // latching off
  d.SetRegister(7, 1);  // test on
  t.Click(t.w().TeButton5);
  t.RunUntilIdle();
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), kTypeCell);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kAlarmCell);
  EXPECT_EQ(CheckedTactic(t.w()), "T3_100MAX");
  EXPECT_FALSE(t.w().FIX_Button.Checked());
  EXPECT_TRUE(t.w().TST_Button.Checked());
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_EQ(t.Requests().size(), 1u);
}

// Showing the detector's configuration runs the handlers of the boxes and buttons it
// changes; those write to the detector unless the query is still marked pending.
// Both ways a query is sent mark it so, and the answer is handed over in one read of
// any length (here the 198 bytes a fuzz run found: byte count 16, identity 0x0010,
// state and tactic 0x31, latching off, test on, and a CRC over all 198 bytes).
TEST(Decoding, AQueryAnswerThatChangesTheControlsIsShownWholeAndNothingIsWrittenBack) {
  const Bytes kFound = FromHex(
      "05 03 10 00 10 00 05 FF FF 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 "
      "31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 "
      "31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 "
      "31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 FF FF FF FF FF FF FF FF "
      "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 03 00 00 00 00 00 00 00 01 "
      "00 00 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF "
      "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 00 04 00 00 00 "
      "03 00 00 00 00 00 01 EE 90 ");
  // 21 bytes: state 1 (alarm), tactic 8 (IRMAX), latching off, test on.
  const Bytes kIrMax = FromHex("F7 03 10 00 10 00 F7 00 04 00 01 00 08 00 01 00 00 00 01 29 1E");
  ASSERT_EQ(kFound.size(), 198u);
  ASSERT_EQ(WithCrc(Bytes(kFound.begin(), kFound.end() - 2)), kFound);
  ASSERT_EQ(WithCrc(Bytes(kIrMax.begin(), kIrMax.end() - 2)), kIrMax);
  struct Case {
    const char* what;
    bool cyclic;
    Bytes answer;
    std::string state_cell, tactic;
  };
  const Case cases[] = {
      {"single query, the fuzz finding", false, kFound, kUnknownCell, ""},
      {"cyclic query, the fuzz finding", true, kFound, kUnknownCell, ""},
      {"single query, IRMAX", false, kIrMax, kAlarmCell, "IRMAX"},
      {"cyclic query, IRMAX", true, kIrMax, kAlarmCell, "IRMAX"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedForm t;
    TForm1& w = t.w();
    t.line.faults().silent = true;
    // The query goes to the address the answer comes from.
    TypeAddress(t, c.answer[0]);
    const Bytes kQuery = WithCrc({c.answer[0], 0x03, 0x00, 0x00, 0x00, 0x08});
    // As the window starts: latching on, test off; the answer turns both round.
    ASSERT_TRUE(w.FIX_Button.Checked());
    ASSERT_FALSE(w.TST_Button.Checked());
    if (c.cyclic) {
      t.Click(w.TeCheckBox1);
      t.Click(w.TeButton5);
      t.AdvanceMs(20);
    } else {
      t.Click(w.TeButton5);
    }
    ASSERT_EQ(t.Requests(), std::vector<Bytes>{kQuery});
    // One read hands the whole answer over, 100 ms after the request.
    t.AdvanceMs(100);
    const long handed_over = t.NowMs();
    t.Do([&] {
      std::copy(c.answer.begin(), c.answer.end(), t.state().FrameBuffer.begin());
      t.state().ReceivedCount = static_cast<std::uint16_t>(c.answer.size());
      w.Timer_Rx.SetInterval(5);
      w.Timer_Rx.SetEnabled(true);
    });
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.NowMs(), handed_over + 5);
    std::vector<std::string> expected = {TxLine(kQuery)};
    for (const std::string& l : AnswerLines(c.answer)) expected.push_back(l);
    expected.push_back(kOkLine);
    EXPECT_EQ(t.LogLines(), expected);
    EXPECT_EQ(w.StatusGrid.Cell(1, 0), kTypeCell);
    EXPECT_EQ(w.StatusGrid.Cell(1, 1), c.state_cell);
    EXPECT_EQ(CheckedTactic(w), c.tactic);
    EXPECT_FALSE(w.FIX_Button.Checked());
    EXPECT_TRUE(w.TST_Button.Checked());
    // Only the query went out.
    EXPECT_EQ(t.device.Count("Write"), 1);
    EXPECT_EQ(t.Requests(), std::vector<Bytes>{kQuery});
  }
}

struct Handler {
  const char* what;
  std::function<void(SimulatedForm&)> act;  // the user's change of the control
  Bytes frame;
  std::uint16_t reg, value;
};

std::vector<Handler> ConfigurationHandlers() {
  auto radio = [](TTeRadioButton TForm1::*b) {
    return [b](SimulatedForm& t) { t.Click(t.w().*b); };
  };
  return {
      {"T1MAX", radio(&TForm1::T1MAX_Button), FromHex("F7 06 00 04 00 00 DC 9D"), 4, 0},
      {"T2MAX", radio(&TForm1::T2MAX_Button), FromHex("F7 06 00 04 00 02 5D 5C"), 4, 2},
      {"T2MIN", radio(&TForm1::T2MIN_Button), FromHex("F7 06 00 04 00 03 9C 9C"), 4, 3},
      {"T3_100MIN", radio(&TForm1::T3_100MIN_Button), FromHex("F7 06 00 04 00 04 DD 5E"), 4, 4},
      {"T3_100MAX", radio(&TForm1::T3_100MAX_Button), FromHex("F7 06 00 04 00 05 1C 9E"), 4, 5},
      {"T3_500MIN", radio(&TForm1::T3_500MIN_Button), FromHex("F7 06 00 04 00 06 5C 9F"), 4, 6},
      {"T3_500MAX", radio(&TForm1::T3_500MAX_Button), FromHex("F7 06 00 04 00 07 9D 5F"), 4, 7},
      {"IRMAX", radio(&TForm1::IRMAX_Button), FromHex("F7 06 00 04 00 08 DD 5B"), 4, 8},
      {"IRMIN", radio(&TForm1::IRMIN_Button), FromHex("F7 06 00 04 00 09 1C 9B"), 4, 9},
      {"TST checked", [](SimulatedForm& t) { t.Click(t.w().TST_Button); },
       FromHex("F7 06 00 07 00 01 ED 5D"), 7, 1},
      // FIX_Button is disabled in the window; set from code it still runs its handler.
      {"FIX unchecked", [](SimulatedForm& t) { t.Do([&] { t.w().FIX_Button.SetChecked(false); }); },
       FromHex("F7 06 00 05 00 01 4C 9D"), 5, 1},
  };
}

TEST(Decoding, EachConfigurationHandlerWritesItsRegisterWhenIdle) {
  for (const Handler& h : ConfigurationHandlers()) {
    SCOPED_TRACE(h.what);
    SimulatedForm t;
    t.line.detector().SetRegister(h.reg, 0x00FF);  // a value none of them writes
    h.act(t);
    EXPECT_EQ(t.state().PendingOp, 6);
    ASSERT_EQ(t.Requests().size(), 1u);
    EXPECT_EQ(t.Requests()[0], h.frame);
    ASSERT_TRUE(t.RunToCompletion());
    // The echo gets no follow-up of its own: only "ОК.".
    EXPECT_EQ(t.LogLines(), (std::vector<std::string>{TxLine(h.frame), RxLine(h.frame), kOkLine}));
    EXPECT_EQ(t.line.detector().Register(h.reg), h.value);
  }
}

TEST(Decoding, ConfigurationHandlersSendNothingDuringASearchOrWhileAQueryAwaitsItsAnswer) {
  struct Guard {
    const char* what;
    std::uint8_t session_mode;
    std::uint8_t query_pending;
  };
  const Guard guards[] = {{"bus search", 254, 0}, {"query pending", 0, 1}, {"both", 254, 1}};
  for (const Guard& g : guards) {
    for (const Handler& h : ConfigurationHandlers()) {
      SCOPED_TRACE(::testing::Message() << g.what << ", " << h.what);
      SimulatedForm t;
      t.state().SessionMode = g.session_mode;
      t.state().QueryPending = g.query_pending;
      h.act(t);
      EXPECT_EQ(t.device.Count("Write"), 0);
      EXPECT_EQ(t.device.Count("Open"), 0);
      EXPECT_EQ(t.state().PendingOp, 0);
      EXPECT_FALSE(t.w().Timer_Wait.Enabled());
    }
  }
}

TEST(Decoding, TheTestBoxWritesOneWhenCheckedAndZeroWhenUnchecked) {
  SimulatedForm t;
  t.Click(t.w().TST_Button);
  t.RunUntilIdle();
  t.Click(t.w().TST_Button);
  t.RunUntilIdle();
  ASSERT_EQ(t.Requests().size(), 2u);
  EXPECT_EQ(t.Requests()[0], FromHex("F7 06 00 07 00 01 ED 5D"));
  EXPECT_EQ(t.Requests()[1], FromHex("F7 06 00 07 00 00 2C 9D"));
  EXPECT_EQ(t.line.detector().Register(7), 0);
}

TEST(Decoding, ATacticClickedWhileAQueryIsOutstandingStaysUntilTheAnswerSetsTheGroup) {
  SimulatedForm t;
  t.Click(t.w().TeButton5);  // the detector's tactic is 0 (T1MAX)
  t.Click(t.w().IRMIN_Button);
  EXPECT_TRUE(t.w().IRMIN_Button.Checked());
  EXPECT_EQ(t.Requests().size(), 1u);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(CheckedTactic(t.w()), "T1MAX");
  EXPECT_EQ(t.Requests().size(), 1u);
  EXPECT_EQ(t.line.detector().Register(4), 0);
}

TEST(Decoding, TheServiceReadsHaveNoGuardsAndShowTheBlockAsBytes) {
  struct Case {
    const char* what;
    TButton TForm1::*button;
    Bytes frame;
    std::string first_rx_line;
  };
  const Case cases[] = {
      {"F0", &TForm1::Button1, FromHex("F7 03 F0 00 00 0A E2 5B"),
       "RX : F7 03 14 01 49 02 07 01 22 88 65 07 E3 0A 11 00 00 "},
      {"F2", &TForm1::Button2, FromHex("F7 03 F2 00 00 03 23 E5"), ""},
      {"F3", &TForm1::Button3, FromHex("F7 03 F3 00 00 02 E3 D9"), ""},
  };
  struct Guard {
    std::uint8_t session_mode, query_pending;
  };
  for (const Case& c : cases) {
    for (Guard g : {Guard{0, 0}, Guard{0, 1}, Guard{254, 0}}) {
      SCOPED_TRACE(::testing::Message() << c.what << " mode " << int(g.session_mode) << " pending "
                                        << int(g.query_pending));
      SimulatedForm t;
      t.state().SessionMode = g.session_mode;
      t.state().QueryPending = g.query_pending;
      t.Click(t.w().*c.button);
      EXPECT_EQ(t.state().PendingOp, 30);
      ASSERT_EQ(t.Requests().size(), 1u);
      EXPECT_EQ(t.Requests()[0], c.frame);
      if (g.session_mode == 254) {
        t.state().SessionMode = 0;
        continue;  // the search keeps the port open; this test looks at the send
      }
      ASSERT_TRUE(t.RunToCompletion());
      const auto lines = t.LogLines();
      EXPECT_EQ(lines.back(), kOkLine);
      if (!c.first_rx_line.empty()) {
        EXPECT_EQ(lines[1], c.first_rx_line);
      }
    }
  }
}

}  // namespace
}  // namespace ornat::testing
