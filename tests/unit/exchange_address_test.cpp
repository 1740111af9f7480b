// Answers whose address byte is not the request's, on the virtual clock: a detector at
// 3 that answers as 4 (a faulty unit, another device in its place) for every operation
// of the window, exception answers from another address, the allowance for an address
// change's echo, the interface reset's restore, the cyclic query, and the search and the
// survey, which take the address from the answer.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "detector/shown_parameters.h"
#include "detector/survey.h"
#include "modbus/exchange_outcome.h"
#include "serial/comport.h"
#include "support/exchange_recorder.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"
#include "support/window_actions.h"

namespace ornat::testing {
namespace {

const std::string kFrom004 = kWrongAddressPrefix + "004";

// Everything an answer could change in the window.
struct Shown {
  int address, baud_index, spin;
  std::string label, panel1, panel2, type_cell, state_cell, tactic;
  bool fix, tst;
  TBaudRate port;
};

Shown Look(SimulatedForm& t) {
  TForm1& w = t.w();
  const ShownParameters p = ReadShownParameters(w);
  return {t.state().DeviceAddress, t.state().BaudIndex,       w.TeSpinEdit1.Value(),
          w.TeLabel5.Caption(),    w.StatusBar1.PanelText(1), w.StatusBar1.PanelText(2),
          w.StatusGrid.Cell(1, 0), w.StatusGrid.Cell(1, 1),   p.tactic_name,
          w.FIX_Button.Checked(),  w.TST_Button.Checked(),    w.ComPort1().BaudRate()};
}

void ExpectSame(const Shown& a, const Shown& b) {
  EXPECT_EQ(a.address, b.address);
  EXPECT_EQ(a.baud_index, b.baud_index);
  EXPECT_EQ(a.spin, b.spin);
  EXPECT_EQ(a.label, b.label);
  EXPECT_EQ(a.panel1, b.panel1);
  EXPECT_EQ(a.panel2, b.panel2);
  EXPECT_EQ(a.type_cell, b.type_cell);
  EXPECT_EQ(a.state_cell, b.state_cell);
  EXPECT_EQ(a.tactic, b.tactic);
  EXPECT_EQ(a.fix, b.fix);
  EXPECT_EQ(a.tst, b.tst);
  EXPECT_EQ(a.port, b.port);
}

// A line with one detector at 3 in alarm, tactic IRMAX, test on, latching off, that
// answers everything with 4 in its address byte; the window addresses 3.
struct AnsweringAs4 {
  AnsweringAs4() : t(false) {
    sim::Faults faults;
    faults.answer_from = 4;
    t.line.AddDetector(3, faults);
    t.line.detector().SetState(1);
    t.line.detector().SetRegister(4, 8);
    t.line.detector().SetRegister(5, 1);
    t.line.detector().SetRegister(7, 1);
    TypeAddress(t, 3);
  }
  SimulatedForm t;
};

TEST(ExchangeAddress, AnAnswerFromAnotherAddressIsNotDecodedNorAcknowledgedForAnyOperation) {
  struct Case {
    const char* name;
    std::function<void(SimulatedForm&)> act;
    Bytes request;
  } cases[] = {
      {"parameter query", [](SimulatedForm& t) { t.Click(t.w().TeButton5); },
       WithCrc({0x03, 0x03, 0x00, 0x00, 0x00, 0x08})},
      {"service read F0", [](SimulatedForm& t) { t.Click(t.w().Button1); },
       WithCrc({0x03, 0x03, 0xF0, 0x00, 0x00, 0x0A})},
      {"service read F2", [](SimulatedForm& t) { t.Click(t.w().Button2); },
       WithCrc({0x03, 0x03, 0xF2, 0x00, 0x00, 0x03})},
      {"service read F3", [](SimulatedForm& t) { t.Click(t.w().Button3); },
       WithCrc({0x03, 0x03, 0xF3, 0x00, 0x00, 0x02})},
      {"tactic", [](SimulatedForm& t) { t.Click(t.w().T2MIN_Button); },
       WithCrc({0x03, 0x06, 0x00, 0x04, 0x00, 0x03})},
      {"test mode", [](SimulatedForm& t) { t.Click(t.w().TST_Button); },
       WithCrc({0x03, 0x06, 0x00, 0x07, 0x00, 0x01})},
      {"latching (its handler; the box is disabled)",
       [](SimulatedForm& t) { t.Do([&] { t.w().FIX_ButtonClick(&t.w().FIX_Button); }); },
       WithCrc({0x03, 0x06, 0x00, 0x05, 0x00, 0x00})},
      {"alarm reset", [](SimulatedForm& t) { t.Click(t.w().TeButton3); },
       WithCrc({0x03, 0x06, 0x00, 0x06, 0xAA, 0x55})},
      {"address change to 9",
       [](SimulatedForm& t) {
         t.Do([&] { t.w().TeSpinEdit2.SetText("9"); });
         t.Click(t.w().TeButton1);
       },
       WithCrc({0x03, 0x06, 0x00, 0x01, 0x00, 0x09})},
      {"line-speed change to 19200",
       [](SimulatedForm& t) { t.Do([&] { t.w().TeSComboBox1.Select(5); }); },
       WithCrc({0x03, 0x06, 0x00, 0x02, 0x00, 0x06})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnsweringAs4 line;
    SimulatedForm& t = line.t;
    ExchangeRecorder rec(t.exchanges);
    c.act(t);
    // What the window shows once the engineer has clicked (a radio button, a box).
    const Shown before = Look(t);
    ASSERT_TRUE(t.RunUntilIdle());
    ASSERT_EQ(t.Requests(), std::vector<Bytes>{c.request});
    const auto wire = t.WireFrames();
    ASSERT_EQ(wire.size(), 2u);
    ASSERT_EQ(wire[1].bytes[0], 0x04);  // the answer as it came, CRC fitting
    const auto log = t.LogLines();
    ASSERT_GE(log.size(), 3u);
    // The answer is shown as it came, then the one line; nothing else of the catalogue.
    EXPECT_EQ(log[1], RxLine(Bytes(wire[1].bytes.begin(),
                                   wire[1].bytes.begin() + static_cast<long>(std::min<std::size_t>(
                                                               17, wire[1].bytes.size())))));
    EXPECT_EQ(log.back(), kFrom004);
    EXPECT_EQ(std::count(log.begin(), log.end(), kOkLine), 0);
    ASSERT_EQ(rec.records.size(), 1u);
    EXPECT_EQ(rec.records[0].outcome, ExchangeOutcome::kWrongAddress);
    EXPECT_STREQ(OutcomeName(rec.records[0].outcome), "wrong-address");
    // No acknowledgement: the window shows what it showed, asks nothing, and the
    // answer's alarm, tactic and test mode are nowhere.
    ExpectSame(Look(t), before);
    EXPECT_TRUE(t.dialogs.questions.empty());
    // The flags are back as after any completion.
    EXPECT_EQ(t.state().PendingOp, 0);
    EXPECT_EQ(t.state().QueryPending, 0);
  }
}

TEST(ExchangeAddress, AnExceptionFromAnotherAddressIsNotTheAddressedDetectorsException) {
  struct Case {
    const char* name;
    Bytes answer;
    std::string last_line;
  } cases[] = {
      {"0x83 from 4", WithCrc({0x04, 0x83, 0x02}), kFrom004},
      {"0x86 from 4", WithCrc({0x04, 0x86, 0x03}), kFrom004},
      {"0x90 from 0", WithCrc({0x00, 0x90, 0x01}), kWrongAddressPrefix + "000"},
      {"0x83 from 3, the addressed detector", WithCrc({0x03, 0x83, 0x02}), kErrorLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    TypeAddress(t, 3);
    t.line.ScriptAnswer(c.answer);
    t.Click(t.w().TeButton5);
    ASSERT_TRUE(t.RunUntilIdle());
    const auto log = t.LogLines();
    const Bytes query = WithCrc({0x03, 0x03, 0x00, 0x00, 0x00, 0x08});
    EXPECT_EQ(log, (std::vector<std::string>{TxLine(query), RxLine(c.answer), c.last_line}));
  }
}

TEST(ExchangeAddress, TheEchoOfAnAddressChangeMayComeFromTheOldOrTheNewAddress) {
  // 3 -> 9: detectors differ in whose address the echo carries.
  struct Case {
    const char* name;
    Bytes answer;
    int address_after;
    std::string last_line;
  } cases[] = {
      {"echo from the old address", WithCrc({0x03, 0x06, 0x00, 0x01, 0x00, 0x09}), 9, kOkLine},
      {"echo from the new address", WithCrc({0x09, 0x06, 0x00, 0x01, 0x00, 0x09}), 9, kOkLine},
      {"echo from a third address", WithCrc({0x04, 0x06, 0x00, 0x01, 0x00, 0x09}), 3, kFrom004},
      {"an exception from the new address is not its echo", WithCrc({0x09, 0x86, 0x03}), 3,
       kWrongAddressPrefix + "009"},
      {"a read's answer from the new address", WithCrc({0x09, 0x03, 0x02, 0x00, 0x10}), 3,
       kWrongAddressPrefix + "009"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    TypeAddress(t, 3);
    t.Do([&] { t.w().TeSpinEdit2.SetText("9"); });
    t.line.ScriptAnswer(c.answer);
    t.Click(t.w().TeButton1);
    ASSERT_TRUE(t.RunUntilIdle());
    EXPECT_EQ(t.Requests(), std::vector<Bytes>{WithCrc({0x03, 0x06, 0x00, 0x01, 0x00, 0x09})});
    EXPECT_EQ(t.LogLines().back(), c.last_line);
    EXPECT_EQ(t.state().DeviceAddress, c.address_after);
    EXPECT_EQ(t.w().TeSpinEdit1.Value(), c.address_after);
  }
  // Only an address change has the allowance: a tactic's echo from 9 is another's.
  SimulatedForm t(false);
  TypeAddress(t, 3);
  t.line.ScriptAnswer(WithCrc({0x09, 0x06, 0x00, 0x04, 0x00, 0x03}));
  t.Click(t.w().T2MIN_Button);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.LogLines().back(), kWrongAddressPrefix + "009");
}

TEST(ExchangeAddress, AnUnacknowledgedResetStepFromAnotherAddressRestoresThePortAsATimeOutDoes) {
  // PC at 19200 bit/s; a unit at 247 answering as 5. Its first step's echo (allowed
  // from 247, the address written and the one written to) and its second are both
  // another's: no reset line, no dialog, the port back to 19200 as after a time-out.
  struct Case {
    const char* name;
    std::optional<std::uint8_t> answer_from;
    bool silent;
    TBaudRate port_after;
    std::string last_line;
  } cases[] = {
      {"answers as 5", 5, false, TBaudRate::br19200, kWrongAddressPrefix + "005"},
      {"silent, for comparison", std::nullopt, true, TBaudRate::br19200, kTimeOutLine},
      {"answers as itself, for comparison", std::nullopt, false, TBaudRate::br19200, kOkLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    sim::Faults faults;
    faults.answer_from = c.answer_from;
    faults.silent = c.silent;
    t.line.AddDetector(247, faults);
    t.Do([&] { t.w().BR_19200.Click(); });
    t.dialogs.answers = {DialogAnswer::No};
    t.Click(t.w().TeButton2);
    const long pressed = t.NowMs();
    ASSERT_TRUE(t.RunToCompletion());
    const long first_done = t.NowMs();
    EXPECT_EQ(t.state().ResetStepCount, c.answer_from || c.silent ? 0 : 1);
    ASSERT_TRUE(t.RunUntilIdle());
    // The timing is the sequence's own: step 1 20 ms after the press, step 2 20 ms
    // after step 1's completion.
    ASSERT_EQ(t.RequestTimesMs().size(), 2u);
    EXPECT_EQ(t.RequestTimesMs()[0], pressed + 20);
    EXPECT_EQ(t.RequestTimesMs()[1], first_done + 20);
    const auto log = t.LogLines();
    EXPECT_EQ(log.back(), c.last_line);
    if (c.answer_from || c.silent) {
      EXPECT_EQ(std::count(log.begin(), log.end(), kResetOkLine), 0);
      EXPECT_EQ(std::count(log.begin(), log.end(), kResetErrorLine), 0);
      EXPECT_TRUE(t.dialogs.questions.empty());
      EXPECT_EQ(t.state().BaudIndex, 5);
    }
    EXPECT_EQ(t.w().ComPort1().BaudRate(), c.port_after);
  }
}

TEST(ExchangeAddress, ACyclicQueryAnsweredFromAnotherAddressShowsNothingAndWritesNothing) {
  AnsweringAs4 line;
  SimulatedForm& t = line.t;
  TForm1& w = t.w();
  const Shown before = Look(t);
  t.Click(w.TeCheckBox1);
  t.Click(w.TeButton5);
  const Micros pressed = t.Now();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(t.RunToCompletion());
  t.Click(w.TeButton5);  // "СТОП"
  ASSERT_TRUE(t.RunUntilIdle());
  const Bytes query = WithCrc({0x03, 0x03, 0x00, 0x00, 0x00, 0x08});
  ASSERT_EQ(t.Requests(), (std::vector<Bytes>{query, query, query}));
  // First query 20 ms after the press, each next 500 ms after the previous completion,
  // as after any outcome; each completion 5 ms after its read handed the answer over.
  const auto sent = t.line.RequestTimes();
  const auto& done = t.Completions();
  ASSERT_EQ(done.size(), 3u);
  EXPECT_EQ(sent[0], pressed + Millis(20));
  for (std::size_t i = 1; i < 3; ++i) EXPECT_EQ(sent[i], done[i - 1] + Millis(500)) << i;
  const auto reads = t.line.Reads();
  ASSERT_EQ(reads.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(done[i], reads[i].end + Millis(5)) << i;
  EXPECT_EQ(t.LogLines().back(), kFrom004);
  ExpectSame(Look(t), before);
  // Nothing but the queries: no tactic or test box handler wrote anything back.
  EXPECT_EQ(t.device.Count("Write"), 3);
}

TEST(ExchangeAddress, TheSearchTakesTheAddressFromTheAnswer) {
  AnsweringAs4 line;
  SimulatedForm& t = line.t;
  t.SelectSearchDelay(250);
  t.Click(t.w().CustomItem5);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests().size(), 3u);  // probes to 1, 2 and 3
  const auto log = t.LogLines();
  EXPECT_EQ(log, (std::vector<std::string>{"TX : 03 03 00 00 00 01 85 E8 ",
                                           RxLine(WithCrc({0x04, 0x03, 0x02, 0x00, 0x10})),
                                           kFoundPrefix + "004", kOkLine}));
  EXPECT_EQ(t.state().DeviceAddress, 4);
}

TEST(ExchangeAddress, TheSurveysQueryAfterItsSweepIsCheckedLikeAnyQuery) {
  // The sweep finds the detector at 3; by its parameter query another unit answers in
  // its place.
  SimulatedForm t(false);
  t.line.AddDetector(3);
  struct AfterTheProbe : ExchangeObserver {
    explicit AfterTheProbe(SimulatedForm& form) : t(form) {}
    void ExchangeEnded(const ExchangeRecord& r) override {
      if (OperationName(r) == "probe") t.line.faults().answer_from = 4;
    }
    SimulatedForm& t;
  } after_the_probe(t);
  BusSurvey survey(t.w(), {{3}, {{3, 3}}, 0});
  t.exchanges.Add(&after_the_probe);  // told first, before the survey goes on
  t.exchanges.Add(&survey);
  survey.Start();
  ASSERT_TRUE(t.RunUntil([&] { return survey.Done(); }, Millis(60'000)));
  t.exchanges.Remove(&survey);
  t.exchanges.Remove(&after_the_probe);
  ASSERT_EQ(survey.Devices().size(), 1u);
  const SurveyDevice& d = survey.Devices()[0];
  EXPECT_EQ(d.address, 3);
  EXPECT_TRUE(d.queried);
  EXPECT_EQ(d.query_outcome, ExchangeOutcome::kWrongAddress);
  EXPECT_EQ(d.query_log.back(), kFrom004);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), "");
}

TEST(ExchangeAddress, BytesThatFailTheirCrcCheckAreNoAnswerOfAnyAddress) {
  // What the validator leaves of a failed check says nothing about who sent it.
  SimulatedForm t(false);
  TypeAddress(t, 3);
  Bytes garbled = WithCrc({0x04, 0x83, 0x02});
  garbled.back() ^= 0xFF;
  t.line.ScriptAnswer(garbled);
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunUntilIdle());
  const auto log = t.LogLines();
  EXPECT_EQ(log.back(), kCrcErrorLine);
  EXPECT_EQ(
      std::count_if(log.begin(), log.end(),
                    [](const std::string& l) { return l.rfind(kWrongAddressPrefix, 0) == 0; }),
      0);
}

}  // namespace
}  // namespace ornat::testing
