// SimulatedLine: the detectors as the port's device, on the virtual clock, as the
// exchange, sequencer and bus-search tests rely on it: pacing at the port's bit rate,
// speeds that do not match, the port's queue while closed, changes after the echo,
// scripted answers, a whole bus search in virtual time, and a hung-up line.

#include <gtest/gtest.h>

#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

// Microseconds of `bits` bit times at `rate`, rounded down as the line rounds.
long BitsUs(long bits, long rate) {
  return bits * 1'000'000 / rate;
}

TEST(SimulatedLine, AnswersArePacedAtTheBitRateOfThePortAfterTheTurnaround) {
  struct Case {
    TTeItem TForm1::*menu_item;
    std::uint16_t speed_code;
    long rate;
  };
  const Case cases[] = {{&TForm1::BR_1200, 1, 1200},
                        {&TForm1::BR_9600, 4, 9600},
                        {&TForm1::BR_19200, 6, 19200},
                        {&TForm1::BR_57600, 8, 57600}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    SimulatedForm t;
    t.line.detector().SetSpeedCode(c.speed_code);
    t.Click(t.w().*c.menu_item);
    t.AdvanceMs(10);
    t.Click(t.w().TeButton5);
    ASSERT_TRUE(t.RunToCompletion(Millis(5000)));
    EXPECT_EQ(t.LogLines().back(), kOkLine);
    EXPECT_EQ(t.line.ByteTime().count(), BitsUs(10, c.rate));
    const auto frames = t.WireFrames();
    ASSERT_EQ(frames.size(), 2u);
    // The request's 8 bytes, then 5 ms of turnaround, then the answer's 21 bytes,
    // each in 10 bit times after the one before.
    const long request_end = 10'000 + BitsUs(80, c.rate);
    EXPECT_EQ(frames[0].last.count(), request_end);
    EXPECT_EQ(frames[1].first.count(), request_end + 5000 + BitsUs(10, c.rate));
    EXPECT_EQ(frames[1].last.count(), request_end + 5000 + BitsUs(210, c.rate));
    EXPECT_TRUE(t.line.Errors().empty());
  }
}

TEST(SimulatedLine, ADetectorAtAnotherSpeedStaysSilent) {
  SimulatedForm t;
  t.Click(t.w().BR_19200);  // the detector runs at 9600 bit/s
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.LogLines().back(), kTimeOutLine);
  const auto frames = t.WireFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].direction, sim::WireDirection::kToDetector);
}

TEST(SimulatedLine, BytesThatArriveWhileThePortIsClosedAreLost) {
  SimulatedForm t;
  t.line.Inject({0x01, 0x02, 0x03});
  t.RunUntilIdle();
  EXPECT_EQ(t.line.LostBytes(), 3u);
  EXPECT_EQ(t.line.QueuedBytes(), 0u);
  EXPECT_TRUE(t.line.Reads().empty());
}

TEST(SimulatedLine, AnAddressChangeTakesEffectWhenItsEchoIsOut) {
  SimulatedForm t;
  t.Do([&] {
    t.state().QueryPending = 1;
    t.w().SendWriteRegister(1, 5, t.w().TeMemo1);
    t.state().PendingOp = 1;
  });
  sim::WireFrame echo;
  ASSERT_TRUE(t.RunUntil([&] {
    for (const auto& f : t.WireFrames())
      if (f.direction == sim::WireDirection::kFromDetector) echo = f;
    return !echo.bytes.empty();
  }));
  t.clock.Advance(echo.last - t.Now() - Micros(1));
  EXPECT_EQ(t.line.detector().address(), 247);
  t.clock.Advance(Micros(1));
  EXPECT_EQ(t.line.detector().address(), 5);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(echo.bytes, (Bytes{0xF7, 0x06, 0x00, 0x01, 0x00, 0x05, 0x0C, 0x9F}));
  EXPECT_EQ(t.state().DeviceAddress, 5);
  // The next query goes to 5 and gets its answer from there.
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.Requests().back(), (Bytes{0x05, 0x03, 0x00, 0x00, 0x00, 0x08, 0x45, 0x88}));
  EXPECT_EQ(t.LogLines().back(), kOkLine);
}

TEST(SimulatedLine, ScriptedAnswersReplaceTheDetectorsForOneRequestEach) {
  SimulatedForm t;
  t.line.ScriptAnswer({0xF7, 0x83, 0x02, 0x20, 0xC3});
  t.line.ScriptAnswer({0x11});
  for (int i = 0; i < 3; ++i) {
    t.Do([&] { t.w().SendWriteRegister(4, 3, t.w().TeMemo1); });
    ASSERT_TRUE(t.RunToCompletion());
  }
  const auto frames = t.WireFrames();
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[1].bytes, (Bytes{0xF7, 0x83, 0x02, 0x20, 0xC3}));
  EXPECT_EQ(frames[1].note, "scripted");
  EXPECT_EQ(frames[3].bytes, (Bytes{0x11}));
  EXPECT_EQ(frames[5].bytes, (Bytes{0xF7, 0x06, 0x00, 0x04, 0x00, 0x03, 0x9C, 0x9C}));
  // The detector heard only the last request.
  EXPECT_EQ(t.line.detector().Register(4), 3);
}

TEST(SimulatedLine, AWholeBusSearchOfAnEmptyLineRunsInVirtualTime) {
  SimulatedForm t(false);
  t.Click(t.w().CustomItem5);  // "Start"
  ASSERT_TRUE(t.RunUntil([&] { return t.state().SessionMode == 0; }, Millis(60'000)));
  const auto requests = t.Requests();
  ASSERT_EQ(requests.size(), 248u);
  EXPECT_EQ(requests.front(), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
  EXPECT_EQ(requests.back(), (Bytes{0xF8, 0x03, 0x00, 0x00, 0x00, 0x01, 0x90, 0x63}));
  // Each probe waits its 150 ms window; the next one follows 5 ms after it.
  const auto sent = t.line.RequestTimes();
  for (std::size_t i = 0; i < sent.size(); ++i)
    EXPECT_EQ(t.Completions()[i], sent[i] + Millis(150));
  for (std::size_t i = 1; i < sent.size(); ++i)
    EXPECT_EQ(sent[i], t.Completions()[i - 1] + Millis(5));
  EXPECT_EQ(t.LogLines().back(), kNotFoundLine);
  EXPECT_EQ(t.device.Count("Open"), 1);  // the port stayed open from the first probe
  EXPECT_FALSE(t.w().ComPort1().Connected());
  EXPECT_TRUE(t.line.Errors().empty());
}

TEST(SimulatedLine, ABusSearchFindsTheDetectorFromTheAnswerHandedOverInTheNextWindow) {
  SimulatedForm t(false);
  t.line.AddDetector(5);
  t.Click(t.w().CustomItem5);
  ASSERT_TRUE(t.RunUntil([&] { return t.state().SessionMode == 0; }, Millis(60'000)));
  // With 150 ms windows the answer of 5 is handed over in the window of the probe to 6.
  ASSERT_EQ(t.Requests().size(), 6u);
  EXPECT_EQ(t.state().DeviceAddress, 5);
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_FALSE(t.w().ComPort1().Connected());
}

TEST(SimulatedLine, AHungUpLineEndsTheEventThreadAndTheExchangeTimesOut) {
  SimulatedForm t;
  t.line.faults().extra_delay = Millis(100);
  t.Click(t.w().TeButton5);
  t.AdvanceMs(20);
  t.line.HangUp();
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.LogLines().back(), kTimeOutLine);
  EXPECT_TRUE(t.line.Errors().empty());
  EXPECT_GT(t.line.LostBytes(), 0u);  // the answer came to a closed port
}

}  // namespace
}  // namespace ornat::testing
