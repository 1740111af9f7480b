// The engine's survey pace, on the virtual clock: a probe's window, the read that ends
// with the answer, the extension while an answer comes in, the timeouts, and the
// window's own search as the window's once the pace is off.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "detector/register_map.h"
#include "detector/survey.h"
#include "support/exchange_recorder.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using testing::ExchangeRecorder;
using testing::SimulatedForm;
using testing::WithCrc;

constexpr std::uint8_t k1200 = 0;
constexpr std::uint8_t k9600 = 3;
constexpr std::uint8_t k57600 = 7;

sim::Bytes ProbeAnswer(std::uint8_t address) {
  return WithCrc({address, 0x03, 0x02, 0x00, 0x10});
}
sim::Bytes Probe(std::uint8_t address) {
  return WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x01});
}

// The pace the engine is tested with at 9600 bit/s: round figures, so that the
// expectations below read as times.
SurveyPace Pace9600() {
  SurveyPace p;
  p.window_ms = 50;
  p.silence_ms = 24;
  p.settle_ms = 5;
  p.extension_ms = 61;
  return p;
}

// The survey's pace given to the engine for as long as this lives (or until End), and
// its probes sent as the survey sends them.
struct GivenPace {
  GivenPace(SimulatedForm& form, const SurveyPace& p, bool probing = true) : t(form), pace(p) {
    pace.probing = probing;
    t.Do([&] { t.w().BeginSurveyPace(&pace); });
  }
  ~GivenPace() { End(); }
  void End() {
    t.Do([&] { t.w().EndSurveyPace(); });
  }
  void Probe(std::uint8_t address) {
    t.Do([&] {
      t.w().SendReadRegistersTo(address, kRegIdentity, 1, t.w().TeMemo1);
      t.state().PendingOp = kOpNone;
    });
  }
  SimulatedForm& t;
  SurveyPace pace;
};

Micros At(long us) {
  return Micros(us);
}

// The answer frames from the detectors, in order.
std::vector<sim::WireFrame> Answers(const SimulatedForm& t) {
  std::vector<sim::WireFrame> out;
  for (const auto& f : t.WireFrames())
    if (f.direction == sim::WireDirection::kFromDetector) out.push_back(f);
  return out;
}

TEST(SurveyPace, AProbeWaitsItsWindowAndTheWindowsSearchIsTheWindowsOnceThePaceEnds) {
  SimulatedForm t(false);
  ExchangeRecorder rec(t.exchanges);
  BusSurvey survey(t.w(), {{k9600}, {{1, 4}}, 0});  // Pace9600's figures
  t.exchanges.Add(&survey);
  survey.Start();
  ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 4; }));
  const auto sent = t.line.RequestTimes();
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(t.Completions()[k] - sent[k], Millis(50)) << k;
    if (k + 1 < sent.size()) {
      EXPECT_EQ(sent[k + 1] - t.Completions()[k], Millis(5)) << k;
    }
  }
  // The probes read with the pace's timeouts: a read ends after the silence.
  const CommTimeouts paced = t.line.CurrentTimeouts();
  EXPECT_EQ(paced.ReadIntervalTimeout, 24u);
  EXPECT_EQ(paced.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(paced.ReadTotalTimeoutConstant, 24u);
  EXPECT_TRUE(t.w().SurveyPaced());
  // Off at the survey's end: the port gets the window's timeouts, and the window's
  // search probes with the Delay menu's 150 ms.
  ASSERT_TRUE(t.RunUntil([&] {
    t.dispatcher.RunPending();
    return survey.Done();
  }));
  t.exchanges.Remove(&survey);
  EXPECT_FALSE(t.w().SurveyPaced());
  const CommTimeouts window = t.line.CurrentTimeouts();
  EXPECT_EQ(window.ReadIntervalTimeout, 150u);
  EXPECT_EQ(window.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(window.ReadTotalTimeoutConstant, 0u);
  t.Click(t.w().CustomItem5);
  ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 7; }));
  const auto later = t.line.RequestTimes();
  for (std::size_t k = 4; k < 7; ++k) EXPECT_EQ(t.Completions()[k] - later[k], Millis(150)) << k;
  t.Click(t.w().CustomItem5);
  ASSERT_TRUE(t.RunUntilIdle());
  for (const auto& r : rec.records) EXPECT_TRUE(r.reads.empty());
}

TEST(SurveyPace, AReadEndsWithTheAnswerWhateverItsTurnaroundPacingAndAdapter) {
  struct Case {
    const char* name;
    std::uint8_t baud_index;
    long turnaround_ms;
    bool unpaced;
    long adapter_latency_ms;
  } cases[] = {
      {"0 ms", k9600, 0, false, 0},
      {"1 ms", k9600, 1, false, 0},
      {"5 ms", k9600, 5, false, 0},
      {"30 ms", k9600, 30, false, 0},
      {"40 ms", k9600, 40, false, 0},
      {"unpaced, 0 ms", k9600, 0, true, 0},
      {"unpaced, 40 ms", k9600, 40, true, 0},
      {"1200 bit/s, 40 ms", k1200, 40, false, 0},
      {"57600 bit/s, 40 ms", k57600, 40, false, 0},
      {"57600, unpaced, 1 ms", k57600, 1, true, 0},
      {"adapter 16 ms, 5 ms", k9600, 5, false, 16},
      {"adapter 16 ms, 20 ms", k9600, 20, false, 16},
      {"1200, adapter 16 ms, 20 ms", k1200, 20, false, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    ExchangeRecorder rec(t.exchanges);
    sim::Faults f;
    f.unpaced = c.unpaced;
    f.adapter_latency = Millis(c.adapter_latency_ms);
    t.line.detector(t.line.AddDetector(5, f)).SetSpeedCode(c.baud_index + 1);
    t.line.SetTurnaround(Millis(c.turnaround_ms));
    t.Click(t.w().BaudItem(c.baud_index));
    GivenPace given(t, BusSurvey::PaceFor(c.baud_index));
    const SurveyPace& pace = given.pace;
    given.Probe(5);
    ASSERT_TRUE(t.RunUntil([&] { return !rec.records.empty(); }));
    ASSERT_EQ(t.Requests().size(), 1u);
    EXPECT_EQ(t.Requests()[0], Probe(5));
    // One hand-over, the answer alone, its read ending with its last byte as the port
    // got it (the read asks the device for 5 bytes, then for one at a time).
    ASSERT_EQ(rec.records.size(), 1u);
    EXPECT_EQ(rec.records[0].reads, std::vector<sim::Bytes>{ProbeAnswer(5)});
    const auto reads = t.line.Reads();
    ASSERT_FALSE(reads.empty());
    const auto answers = Answers(t);
    ASSERT_EQ(answers.size(), 1u);
    Micros last = answers[0].last;
    if (c.adapter_latency_ms > 0) {
      const long period = c.adapter_latency_ms * 1000;
      last = At((last.count() + period - 1) / period * period);
    }
    EXPECT_EQ(reads.back().end, last);
    EXPECT_LE(reads.front().begin, t.line.RequestTimes()[0] + Millis(pace.window_ms));
    // The completion follows the pace's settle, at the window's end at the earliest (a
    // second device at the address answers within it); the answer is taken, and the
    // window's address is left alone.
    EXPECT_EQ(rec.records[0].ended, std::max(reads.back().end + Millis(pace.settle_ms),
                                             t.line.RequestTimes()[0] + Millis(pace.window_ms)));
    EXPECT_EQ(t.LogLines(),
              (std::vector<std::string>{"TX : 05 03 00 00 00 01 85 8E ",
                                        testing::RxLine(ProbeAnswer(5)), testing::kOkLine}));
    EXPECT_EQ(rec.records[0].outcome, ExchangeOutcome::kOk);
    EXPECT_EQ(t.state().DeviceAddress, 247);
    EXPECT_EQ(t.state().SessionMode, 0);
  }
}

TEST(SurveyPace, WithThePaceOffTheSameAnswerIsReadTheWindowsWay) {
  SimulatedForm t(false);
  t.line.AddDetector(5);
  t.Do([&] {
    t.w().CustomItem10.Click();  // "250ms"
    t.w().CustomItem5.Click();
    t.state().DeviceAddress = 4;
  });
  ASSERT_TRUE(t.RunToCompletion());
  const auto reads = t.line.Reads();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].bytes, ProbeAnswer(5));
  EXPECT_EQ(reads[0].end, Answers(t)[0].last + Millis(150));
  EXPECT_EQ(t.Completions()[0], reads[0].end + Millis(5));
  EXPECT_EQ(t.line.CurrentTimeouts().ReadIntervalTimeout, 150u);
  EXPECT_EQ(t.line.CurrentTimeouts().ReadTotalTimeoutConstant, 0u);
}

TEST(SurveyPace, ReadsOfOddAnswersEndAtTheAnswerOrAfterTheSilence) {
  struct Case {
    const char* name;
    sim::Faults faults;
    long turnaround_ms;
    // What the exchange's reads hold, and when the last of them ends, after the last
    // byte the detector sent: 0 when it ends with it, else the pace's silence.
    std::vector<sim::Bytes> reads;
    bool silence_after_last;
    bool answer;  // a whole answer came
  };
  sim::Faults exception;
  exception.forced_exception = 2;
  sim::Faults stray;
  stray.stray_bytes = 3;
  sim::Faults trailing;
  trailing.trailing_bytes = 1;
  sim::Faults bad_crc;
  bad_crc.bad_crc_probability = 1.0;
  sim::Faults echo;
  echo.echo_request = true;
  const sim::Bytes answer = ProbeAnswer(5);
  sim::Bytes bad = answer;
  bad.back() = static_cast<std::uint8_t>(~bad.back());
  sim::Bytes strayed = {0xFF, 0xFF, 0xFF};
  strayed.insert(strayed.end(), answer.begin(), answer.end());
  sim::Bytes echoed = Probe(5);
  echoed.insert(echoed.end(), answer.begin(), answer.end());
  const Case cases[] = {
      {"exception, 5 bytes", exception, 5, {WithCrc({0x05, 0x83, 0x02})}, false, true},
      {"stray bytes in front", stray, 5, {strayed}, false, true},
      {"a trailing byte", trailing, 5, {answer, {0x00}}, true, true},
      {"a CRC that fails", bad_crc, 5, {bad}, true, false},
      {"an echo, then the answer 5 ms later", echo, 5, {echoed}, false, true},
      // The echo's read ends in the silence before the answer, within the window;
      // the exchange waits for the answer all the same.
      {"an echo, then the answer 30 ms later", echo, 30, {Probe(5), answer}, false, true},
  };
  const SurveyPace pace = Pace9600();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    ExchangeRecorder rec(t.exchanges);
    t.line.AddDetector(5, c.faults);
    t.line.SetTurnaround(Millis(c.turnaround_ms));
    GivenPace given(t, pace);
    given.Probe(5);
    ASSERT_TRUE(t.RunUntil([&] { return !rec.records.empty(); }));
    ASSERT_TRUE(t.RunUntilIdle());
    ASSERT_FALSE(rec.records.empty());
    EXPECT_EQ(rec.records[0].request, Probe(5));
    EXPECT_EQ(rec.records[0].reads, c.reads);
    const auto answers = Answers(t);
    ASSERT_FALSE(answers.empty());
    const auto reads = t.line.Reads();
    ASSERT_FALSE(reads.empty());
    const Micros last_byte = answers.back().last;
    EXPECT_EQ(reads.back().end, last_byte + Millis(c.silence_after_last ? pace.silence_ms : 0));
    // Once an answer is in, the settle after the last hand-over; the window's end at the
    // earliest.
    const Micros window_end = t.line.RequestTimes()[0] + Millis(pace.window_ms);
    EXPECT_EQ(
        rec.records[0].ended,
        c.answer ? std::max(reads.back().end + Millis(pace.settle_ms), window_end) : window_end);
  }
}

TEST(SurveyPace, OnANetworkLineAReadEndsByTheAnswersLengthNotBySilenceAlone) {
  // The answer split by 60 ms after its third byte, as a TCP segment may end inside it:
  // 100 ms of allowance outlast 5 of the pace's 24 ms silences; a local port's do not.
  const sim::Bytes answer = ProbeAnswer(5);
  sim::Bytes bad = answer;
  bad.back() = static_cast<std::uint8_t>(~bad.back());
  const struct Case {
    std::uint16_t allowance_ms;
    bool bad_crc;
    std::vector<sim::Bytes> reads;
    long end_after_last_byte_ms;
  } cases[] = {
      {0, false, {{answer.begin(), answer.begin() + 3}, {answer.begin() + 3, answer.end()}}, 24},
      {100, false, {answer}, 0},
      {100, true, {bad}, 6 * 24},  // no answer ever whole: six silences
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.allowance_ms + (c.bad_crc ? 1 : 0));
    SimulatedForm t(false);
    ExchangeRecorder rec(t.exchanges);
    sim::Faults split;
    split.pause = Millis(60);
    split.pause_after = 3;
    split.bad_crc_probability = c.bad_crc ? 1.0 : 0.0;
    t.line.AddDetector(5, split);
    SurveyPace pace = Pace9600();
    pace.window_ms = 200;
    pace.allowance_ms = c.allowance_ms;
    GivenPace given(t, pace);
    given.Probe(5);
    ASSERT_TRUE(t.RunUntil([&] { return !rec.records.empty(); }));
    EXPECT_EQ(rec.records[0].reads, c.reads);
    EXPECT_EQ(t.line.Reads().back().end, Answers(t).back().last + Millis(c.end_after_last_byte_ms));
  }
}

TEST(SurveyPace, AnAnswerThatBeganInTheWindowIsWaitedForAndNoiseOnlyUntilTheDeadline) {
  struct Case {
    const char* name;
    long first_byte_ms;  // after the write
    int bytes;           // on the line from then on, one every character
    // The completion, after the write (-1: the read's end + the settle).
    long completion_ms;
    bool noise;
  } cases[] = {
      // 49 ms: in the window; its 7 bytes end 6 characters later, the read then waits
      // the silence, the completion the settle.
      {"first byte at 49 ms", 49, 7, -1, false},
      // 51 ms: after the window, which had nothing: the probe ends at 50 ms.
      {"first byte at 51 ms", 51, 7, 50, false},
      // Noise that goes on: the completion comes at the deadline, window + extension.
      {"noise without end", 10, 400, 50 + 61, true},
  };
  const SurveyPace pace = Pace9600();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    ExchangeRecorder rec(t.exchanges);
    GivenPace given(t, pace);
    given.Probe(5);
    ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
    const Micros written = t.line.RequestTimes()[0];
    // Bytes that are no answer, one every character from first_byte_ms on.
    t.line.Inject(sim::Bytes(static_cast<std::size_t>(c.bytes), 0x5A),
                  written + Millis(c.first_byte_ms) - t.Now() - t.line.ByteTime());
    ASSERT_TRUE(t.RunUntil([&] { return !rec.records.empty(); }));
    const Micros completion = rec.records[0].ended - written;
    if (c.noise) {
      // At the deadline, or the settle after a hand-over that came just before it (the
      // timer counts whole milliseconds from there).
      EXPECT_GE(completion, Millis(c.completion_ms));
      EXPECT_LE(completion, Millis(c.completion_ms + pace.settle_ms + 1));
    } else if (c.completion_ms >= 0) {
      EXPECT_EQ(completion, Millis(c.completion_ms));
    } else {
      const auto reads = t.line.Reads();
      ASSERT_FALSE(reads.empty());
      EXPECT_EQ(Answers(t)[0].first, written + Millis(c.first_byte_ms));
      EXPECT_EQ(reads.back().end, Answers(t)[0].last + Millis(pace.silence_ms));
      EXPECT_EQ(rec.records[0].ended, reads.back().end + Millis(pace.settle_ms));
      EXPECT_EQ(rec.records[0].reads, std::vector<sim::Bytes>{sim::Bytes(7, 0x5A)});
    }
    t.RunUntilIdle();
  }
}

TEST(SurveyPace, ABytePastTheAnswerInItsBurstIsReadIntoTheSameExchange) {
  // The answer and a trailing 00 in the port's queue at one instant: one arrival.
  SimulatedForm t(false);
  ExchangeRecorder rec(t.exchanges);
  GivenPace given(t, Pace9600());
  given.Probe(5);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
  t.AdvanceMs(20);
  sim::Bytes burst = ProbeAnswer(5);
  burst.push_back(0x00);
  t.line.ArriveNow(burst);
  ASSERT_TRUE(t.RunUntil([&] { return !rec.records.empty(); }));
  EXPECT_EQ(rec.records[0].reads, (std::vector<sim::Bytes>{ProbeAnswer(5), {0x00}}));
  // The answer is the one judged, the byte behind it in the record only.
  EXPECT_EQ(t.LogLines()[1], testing::RxLine(ProbeAnswer(5)));
  EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
  EXPECT_EQ(t.line.QueuedBytes(), 0u);
}

TEST(SurveyPace, AQueryIsPacedTooAndJudgesItsAnswerWhateverCameAfterIt) {
  // The window's single query while the pace is on: its read ends with the 21-byte
  // answer and the completion follows the settle; noise right behind the answer is in
  // the record, the answer is judged; the port stays open until the pace ends.
  for (const bool noise : {false, true}) {
    SCOPED_TRACE(noise);
    SimulatedForm t;  // a detector at 247
    ExchangeRecorder rec(t.exchanges);
    GivenPace given(t, Pace9600(), false);
    t.Click(t.w().TeButton5);
    if (noise) t.line.Inject({0x13, 0x37, 0x42}, Millis(36));  // the answer ends at 35.2 ms
    ASSERT_TRUE(t.RunUntil([&] { return !rec.records.empty(); }));
    EXPECT_EQ(t.line.CurrentTimeouts().ReadIntervalTimeout, 24u);
    sim::Bytes expected = WithCrc({0xF7, 0x03, 0x10, 0x00, 0x10, 0x00, 0xF7, 0x00, 0x04, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    if (noise) expected.insert(expected.end(), {0x13, 0x37, 0x42});
    EXPECT_EQ(rec.records[0].AllBytes(), expected);
    if (!noise) {
      EXPECT_EQ(t.Completions()[0], Answers(t)[0].last + Millis(5));
    }
    EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
    EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), testing::kNormalCell);
    EXPECT_TRUE(t.w().ComPort1().Connected());
    given.End();
    EXPECT_FALSE(t.w().ComPort1().Connected());
  }
}

}  // namespace
}  // namespace ornat
