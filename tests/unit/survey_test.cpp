#include "detector/survey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <random>
#include <tuple>

#include "support/exchange_recorder.h"
#include "support/hex.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using testing::SimulatedForm;
using testing::WithCrc;

sim::Bytes Probe(std::uint8_t address) {
  return WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x01});
}
sim::Bytes Query(std::uint8_t address) {
  return WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x08});
}
sim::Bytes ProbeAnswer(std::uint8_t address, std::uint16_t identity = 0x0010) {
  return WithCrc({address, 0x03, 0x02, static_cast<std::uint8_t>(identity >> 8),
                  static_cast<std::uint8_t>(identity)});
}
bool IsProbe(const sim::Bytes& r) {
  return testing::IsProbe(r);
}
std::vector<std::uint8_t> Probed(const std::vector<sim::Bytes>& requests) {
  std::vector<std::uint8_t> out;
  for (const auto& r : requests)
    if (IsProbe(r)) out.push_back(r[0]);
  return out;
}
std::vector<std::uint8_t> Queried(const std::vector<sim::Bytes>& requests) {
  std::vector<std::uint8_t> out;
  for (const auto& r : requests)
    if (r.size() == 8 && r[1] == 3 && r[5] == 8) out.push_back(r[0]);
  return out;
}
std::vector<std::uint8_t> Addresses(int first, int last) {
  std::vector<std::uint8_t> out;
  for (int a = first; a <= last; ++a) out.push_back(static_cast<std::uint8_t>(a));
  return out;
}

constexpr std::uint8_t k1200 = 0;
constexpr std::uint8_t k2400 = 1;
constexpr std::uint8_t k9600 = 3;
constexpr std::uint8_t k19200 = 5;
constexpr std::uint8_t k57600 = 7;

// Runs t until pred() holds, serving what the event thread posts as the window's loop
// does (the simulated line serves it only while the port is open).
bool RunServed(SimulatedForm& t, const std::function<bool()>& pred,
               Millis limit = Millis(60 * 60'000)) {
  return t.RunUntil(
      [&] {
        t.dispatcher.RunPending();
        return pred();
      },
      limit);
}

// A survey of the line behind t, run to its end on the virtual clock; the devices as
// they were told.
struct Surveyed {
  // meanwhile: run once, as the survey's first request is on the line.
  Surveyed(SimulatedForm& t, SurveyPlan plan, const std::function<void()>& meanwhile = {})
      : form(t), survey(t.w(), std::move(plan)) {
    t.exchanges.Add(&survey);
    survey.OnDevice([this](const SurveyDevice& d) {
      told.push_back(d.address);
      told_late += d.late ? 1 : 0;
    });
    survey.Start();
    if (meanwhile) {
      RunServed(t, [&] { return survey.Done() || !t.Requests().empty(); });
      meanwhile();
    }
    done = RunServed(t, [&] { return survey.Done(); });
  }
  ~Surveyed() { form.exchanges.Remove(&survey); }
  const SurveyDevice* At(std::uint8_t address, std::uint8_t baud_index = k9600) const {
    for (const auto& d : survey.Devices())
      if (d.address == address && d.baud_index == baud_index) return &d;
    return nullptr;
  }
  SimulatedForm& form;
  BusSurvey survey;
  std::vector<std::uint8_t> told;
  int told_late = 0;  // devices told as having answered late
  bool done = false;
};

TEST(Survey, ItsWindowCoversTheRequestFortyMillisecondsAndTheFirstByteAtEachSpeed) {
  // Request and first answer byte are 9 characters of 10 bits; ms rounded up.
  struct Case {
    std::uint8_t baud_index;
    std::uint16_t window_ms;
    std::uint16_t silence_ms;  // 3.5 characters or the adapter's 16 ms, + 8 ms
    std::uint16_t settle_ms;   // 3.5 characters, at least the window's 5 ms
  } cases[] = {
      {0, 115, 38, 30},  // 1200: 75 ms + 40; 3.5 characters are 29.2 ms
      {1, 78, 24, 15},   // 2400: 37.5 ms + 40; 14.6 ms
      {2, 59, 24, 8},    // 4800: 18.75 ms + 40; 7.3 ms
      {3, 50, 24, 5},    // 9600: 9.375 ms + 40
      {4, 47, 24, 5},    // 14400: 6.25 ms + 40
      {5, 45, 24, 5},    // 19200: 4.69 ms + 40
      {6, 43, 24, 5},    // 38400: 2.34 ms + 40
      {7, 42, 24, 5},    // 57600: 1.56 ms + 40
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kBaudTable[c.baud_index].speed_text);
    const SurveyPace p = BusSurvey::PaceFor(c.baud_index);
    EXPECT_EQ(BusSurvey::SurveyWindowMs(c.baud_index), c.window_ms);
    EXPECT_EQ(p.window_ms, c.window_ms);
    EXPECT_EQ(p.silence_ms, c.silence_ms);
    EXPECT_EQ(p.settle_ms, c.settle_ms);
    // Longer than an FTDI adapter's 16 ms between bursts, at every speed.
    EXPECT_GT(p.silence_ms, 16);
    // --delay only lengthens it.
    EXPECT_EQ(BusSurvey::PaceFor(c.baud_index, 100).window_ms,
              std::max<std::uint16_t>(100, c.window_ms));
    // A network line's round trip lengthens the window and the wait for the rest of an
    // answer that has begun, and nothing else.
    const SurveyPace n = BusSurvey::PaceFor(c.baud_index, 100, 80);
    EXPECT_EQ(
        std::make_tuple(n.window_ms, n.silence_ms, n.settle_ms, n.extension_ms, n.allowance_ms),
        std::make_tuple(std::max<std::uint16_t>(100, c.window_ms) + 80, p.silence_ms, p.settle_ms,
                        p.extension_ms + 80, 80));
  }
}

TEST(Survey, FindsEveryDeviceEachAtItsOwnAddressAtEveryTurnaroundPacingAndAdapter) {
  // Neighbours, both ends of the range and odd devices, at one line speed.
  struct Case {
    const char* name;
    std::uint8_t baud_index;
    long turnaround_ms;
    bool unpaced;
    long adapter_latency_ms;
  } cases[] = {
      {"9600, 0 ms", k9600, 0, false, 0},
      {"9600, 1 ms", k9600, 1, false, 0},
      {"9600, 5 ms", k9600, 5, false, 0},
      {"9600, 30 ms", k9600, 30, false, 0},
      {"9600, 40 ms", k9600, 40, false, 0},
      {"9600, unpaced, 0 ms", k9600, 0, true, 0},
      {"9600, unpaced, 40 ms", k9600, 40, true, 0},
      {"1200, 40 ms", k1200, 40, false, 0},
      {"57600, 40 ms", k57600, 40, false, 0},
      {"57600, unpaced, 1 ms", k57600, 1, true, 0},
      {"9600, adapter 16 ms, 5 ms", k9600, 5, false, 16},
      {"9600, adapter 16 ms, 20 ms", k9600, 20, false, 16},
      {"2400, adapter 16 ms, 20 ms", k2400, 20, true, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    t.line.SetTurnaround(Millis(c.turnaround_ms));
    sim::Faults f;
    f.unpaced = c.unpaced;
    f.adapter_latency = Millis(c.adapter_latency_ms);
    auto add = [&](std::uint8_t a, sim::Faults faults) {
      const std::size_t i = t.line.AddDetector(a, faults);
      t.line.detector(i).SetSpeedCode(c.baud_index + 1);
      return i;
    };
    for (std::uint8_t a : {1, 5, 6, 100, 247}) add(a, f);
    t.line.detector(add(9, f)).SetIdentity(0x0011);
    sim::Faults refusing = f;
    refusing.forced_exception = 2;
    add(12, refusing);
    t.line.detector(1).SetState(1);  // the one at 5 is in alarm

    Surveyed s(t, {{c.baud_index}, {{1, 247}}, 0});
    ASSERT_TRUE(s.done);
    EXPECT_FALSE(s.survey.PortFailed());
    EXPECT_FALSE(s.survey.Stopped());
    EXPECT_EQ(s.survey.LateAnswers(), 0);
    EXPECT_EQ(s.survey.Reprobes(), 0);
    EXPECT_TRUE(s.survey.Noise().empty());
    ASSERT_EQ(s.survey.Devices().size(), 7u);
    struct Expected {
      std::uint8_t address;
      SurveyDevice::Kind kind;
      const char* state;
    } expected[] = {
        {1, SurveyDevice::Kind::kDetector, "НОРМА"},
        {5, SurveyDevice::Kind::kDetector, "ТРЕВОГА"},
        {6, SurveyDevice::Kind::kDetector, "НОРМА"},
        {9, SurveyDevice::Kind::kOtherIdentity, ""},
        {12, SurveyDevice::Kind::kException, ""},
        {100, SurveyDevice::Kind::kDetector, "НОРМА"},
        {247, SurveyDevice::Kind::kDetector, "НОРМА"},
    };
    for (const Expected& e : expected) {
      SCOPED_TRACE(int(e.address));
      const SurveyDevice* d = s.At(e.address, c.baud_index);
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->kind, e.kind);
      EXPECT_EQ(d->probed, e.address);
      EXPECT_EQ(d->attempt, 1);
      EXPECT_FALSE(d->late);
      EXPECT_TRUE(d->before.empty());
      EXPECT_TRUE(d->after.empty());
      EXPECT_EQ(d->queried, e.kind == SurveyDevice::Kind::kDetector);
      if (d->queried) {
        EXPECT_EQ(d->query_outcome, ExchangeOutcome::kOk);
        EXPECT_EQ(d->shown.state, e.state);
      }
    }
    EXPECT_EQ(s.survey.Devices()[4].exception_code, 2);
    EXPECT_EQ(s.survey.Devices()[3].identity, 0x0011);
    // Every address probed once, in order, nothing past 247; each detector's query
    // right after its probe.
    const auto requests = t.Requests();
    EXPECT_EQ(Probed(requests), Addresses(1, 247));
    EXPECT_EQ(Queried(requests), (std::vector<std::uint8_t>{1, 5, 6, 100, 247}));
    for (std::uint8_t a : {1, 5, 6, 100, 247}) {
      auto probe = std::find(requests.begin(), requests.end(), Probe(a));
      ASSERT_NE(probe, requests.end());
      EXPECT_EQ(*(probe + 1), Query(a)) << int(a);
    }
    // Told as found: the others at once, each detector after its query.
    EXPECT_EQ(s.told, (std::vector<std::uint8_t>{1, 5, 6, 9, 12, 100, 247}));
    EXPECT_EQ(t.state().SessionMode, 0);
    EXPECT_FALSE(t.w().SurveyPaced());
  }
}

TEST(Survey, GoesAtThePaceOfTheLine) {
  // A silent line: each probe its window and 5 ms; then the watch after the last one.
  struct Case {
    std::uint8_t baud_index;
    std::uint16_t delay_ms;
    long spacing_ms;
  } cases[] = {{k9600, 0, 55}, {k1200, 0, 120}, {k57600, 0, 47}, {k9600, 250, 255}};
  for (const Case& c : cases) {
    SCOPED_TRACE(kBaudTable[c.baud_index].speed_text);
    SimulatedForm t(false);
    const Micros started = t.Now();
    Surveyed s(t, {{c.baud_index}, {{1, 3}, {245, 247}}, c.delay_ms});
    ASSERT_TRUE(s.done);
    EXPECT_TRUE(s.survey.Devices().empty());
    const auto requests = t.Requests();
    const auto times = t.RequestTimesMs();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(Probed(requests), (std::vector<std::uint8_t>{1, 2, 3, 245, 246, 247}));
    for (std::size_t i : {0, 1, 3, 4}) EXPECT_EQ(times[i + 1] - times[i], c.spacing_ms) << i;
    EXPECT_EQ(s.survey.WindowMs(c.baud_index), c.spacing_ms - 5);
    EXPECT_DOUBLE_EQ(s.survey.NominalMs(),
                     6.0 * double(c.spacing_ms) + BusSurvey::kWatchAfterSweepMs);
    // Its last probe's window, then the watch.
    EXPECT_EQ(t.Now() - started,
              Millis(times.back() + c.spacing_ms - 5 + BusSurvey::kWatchAfterSweepMs));
    // The Delay menu is the window's own: the survey leaves it as it was.
    EXPECT_EQ(t.state().SearchDelayMs, 150);
    EXPECT_TRUE(t.w().CustomItem8.Checked());
  }
}

TEST(Survey, SweepsEachSpeedAndFindsADetectorOnlyAtItsOwn) {
  SimulatedForm t(false);
  t.line.AddDetector(5);                                   // 9600 bit/s
  t.line.detector(t.line.AddDetector(6)).SetSpeedCode(6);  // 19200 bit/s
  t.line.detector(t.line.AddDetector(7)).SetSpeedCode(1);  // 1200 bit/s
  t.line.detector(t.line.AddDetector(8)).SetSpeedCode(8);  // 57600 bit/s
  Surveyed s(t, {{k9600, k19200, k1200, k57600}, {{1, 10}}, 0});
  ASSERT_TRUE(s.done);
  ASSERT_EQ(s.survey.Devices().size(), 4u);
  for (const auto& [address, baud] : std::vector<std::pair<std::uint8_t, std::uint8_t>>{
           {5, k9600}, {6, k19200}, {7, k1200}, {8, k57600}}) {
    SCOPED_TRACE(int(address));
    ASSERT_NE(s.At(address, baud), nullptr);
    EXPECT_EQ(s.At(address, baud)->query_outcome, ExchangeOutcome::kOk);
  }
  // 10 probes and a query at each speed; the PC's speed follows the menu.
  EXPECT_EQ(t.Requests().size(), 44u);
  EXPECT_EQ(Queried(t.Requests()), (std::vector<std::uint8_t>{5, 6, 7, 8}));
  EXPECT_TRUE(t.w().BR_57600.Checked());
  EXPECT_EQ(t.state().BaudIndex, k57600);
}

TEST(Survey, FindsAnswersAmidNoiseAndTellsTheTrailingByte) {
  struct Case {
    const char* name;
    sim::Faults faults;
    sim::Bytes before;
    sim::Bytes after;
  };
  const Case cases[] = {
      {"stray bytes in front", {.stray_bytes = 3}, {0xFF, 0xFF, 0xFF}, {}},
      {"a trailing 00", {.trailing_bytes = 1}, {}, {0x00}},
      {"a trailing 00 in the answer's own burst",
       {.unpaced = true, .trailing_bytes = 1},
       {},
       {0x00}},
      {"a trailing FF (no CRC of the window takes it)",
       {.trailing_bytes = 1, .trailing_value = 0xFF},
       {},
       {0xFF}},
      {"garbage behind it", {.trailing_bytes = 6, .trailing_value = 0x3C}, {}, sim::Bytes(6, 0x3C)},
      {"an echoing adapter", {.echo_request = true}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    t.line.AddDetector(5, c.faults);
    t.line.AddDetector(6, c.faults);
    Surveyed s(t, {{k9600}, {{4, 7}}, 0});
    ASSERT_TRUE(s.done);
    EXPECT_TRUE(s.survey.Noise().empty());
    EXPECT_EQ(s.survey.Reprobes(), 0);
    EXPECT_EQ(Probed(t.Requests()), Addresses(4, 7));
    for (std::uint8_t a : {5, 6}) {
      SCOPED_TRACE(int(a));
      const SurveyDevice* d = s.At(a);
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->answer, ProbeAnswer(a));
      EXPECT_EQ(d->before, c.before);
      EXPECT_EQ(d->after, c.after);
      EXPECT_EQ(d->TrailingByte(), c.after.size() == 1);
      EXPECT_EQ(d->probed, a);
      EXPECT_FALSE(d->late);
    }
  }
}

TEST(Survey, ProbesAnAddressAgainAfterNoiseOrAFailedCrcUpToTwice) {
  struct Case {
    const char* name;
    int garbled;  // how many answers of the detector at 4 are garbled, from the first
    int probes_of_4;
    SurveyDevice::Kind kind;
  } cases[] = {
      {"once", 1, 2, SurveyDevice::Kind::kDetector},
      {"twice", 2, 3, SurveyDevice::Kind::kDetector},
      // Every answer garbled, between quiet neighbours: something answers at 4.
      {"always", 9, 3, SurveyDevice::Kind::kGarbled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    const std::size_t i = t.line.AddDetector(4);
    t.line.faults(i).bad_crc_probability = 1.0;
    BusSurvey survey(t.w(), {{k9600}, {{1, 6}}, 0});
    t.exchanges.Add(&survey);
    survey.Start();
    // The detector's answers go bad for the first `garbled` probes of 4.
    ASSERT_TRUE(RunServed(t, [&] {
      int garbled = 0;
      for (const auto& f : t.WireFrames()) garbled += f.note == "bad-crc";
      if (garbled >= c.garbled) t.line.faults(i).bad_crc_probability = 0.0;
      return survey.Done();
    }));
    t.exchanges.Remove(&survey);
    std::vector<std::uint8_t> expected = {1, 2, 3};
    for (int k = 0; k < c.probes_of_4; ++k) expected.push_back(4);
    expected.insert(expected.end(), {5, 6});
    EXPECT_EQ(Probed(t.Requests()), expected);
    EXPECT_EQ(survey.Reprobes(), c.probes_of_4 - 1);
    const auto noise = survey.Noise();
    ASSERT_EQ(noise.size(), static_cast<std::size_t>(std::min(c.garbled, 3)));
    for (std::size_t k = 0; k < noise.size(); ++k) {
      EXPECT_EQ(noise[k].probed, 4);
      EXPECT_EQ(noise[k].attempt, static_cast<int>(k) + 1);
      EXPECT_EQ(noise[k].bytes.size(), 7u);
      EXPECT_FALSE(noise[k].whole_answer);
    }
    ASSERT_EQ(survey.Devices().size(), 1u);
    const SurveyDevice& d = survey.Devices()[0];
    EXPECT_EQ(d.address, 4);
    EXPECT_EQ(d.kind, c.kind);
    if (c.kind == SurveyDevice::Kind::kDetector) {
      EXPECT_EQ(d.attempt, c.garbled + 1);
      EXPECT_EQ(d.query_outcome, ExchangeOutcome::kOk);
    } else {
      // Whole in length, a CRC that fails each time: one unit's answers, not a collision.
      EXPECT_FALSE(d.several_devices);
    }
  }
}

TEST(Survey, HeavyNoiseIsNoDeviceAndEveryAddressIsProbedThreeTimes) {
  SimulatedForm t(false);
  t.line.AddDetector(30);  // outside the run: the noise must not invent one
  testing::ExchangeRecorder rec(t.exchanges);
  std::mt19937 rng(7);
  sim::Bytes noise(12'000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  t.line.Inject(noise, Millis(1));  // 12.5 s of bytes, one every character
  {
    Surveyed s(t, {{k9600}, {{1, 20}}, 0});
    ASSERT_TRUE(s.done);
    EXPECT_LT(t.Now(), Millis(12'000));  // while the noise goes on: it holds nothing up
    EXPECT_TRUE(s.survey.Devices().empty());
    std::vector<std::uint8_t> expected;
    for (int a = 1; a <= 20; ++a) expected.insert(expected.end(), 3, static_cast<std::uint8_t>(a));
    EXPECT_EQ(Probed(t.Requests()), expected);
    EXPECT_EQ(s.survey.Reprobes(), 40);
    // Every probe's window held noise.
    for (int a = 1; a <= 20; ++a) {
      const auto& n = s.survey.Noise();
      EXPECT_GE(
          std::count_if(n.begin(), n.end(), [&](const SurveyNoise& e) { return e.probed == a; }), 3)
          << a;
    }
  }
  // Each probe ended by its deadline: the window and the extension (within the timer's
  // millisecond).
  const SurveyPace p = BusSurvey::PaceFor(k9600);
  for (const auto& r : rec.records) {
    if (r.request.empty()) continue;
    EXPECT_LE(r.ended - r.started, Millis(p.window_ms + p.extension_ms + 1));
  }
}

TEST(Survey, AnAnswerNoProbeAsksForIsReportedWholeNotAsADevice) {
  // A 21-byte answer to a parameter query of another master, in the window of the
  // probe to 3.
  SimulatedForm t(false);
  const sim::Bytes query_answer =
      testing::FromHex("F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 4E");
  ASSERT_EQ(query_answer.size(), 21u);
  BusSurvey survey(t.w(), {{k9600}, {{1, 5}}, 0});
  t.exchanges.Add(&survey);
  survey.Start();
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 3; }));
  t.line.Inject(query_answer, Millis(10));
  ASSERT_TRUE(RunServed(t, [&] { return survey.Done(); }));
  t.exchanges.Remove(&survey);
  EXPECT_TRUE(survey.Devices().empty());
  ASSERT_GE(survey.Noise().size(), 1u);
  const SurveyNoise& n = survey.Noise()[0];
  EXPECT_EQ(n.probed, 3);
  EXPECT_TRUE(n.whole_answer);
  EXPECT_EQ(n.bytes, query_answer);
  EXPECT_EQ(n.answer_at, 0u);
  EXPECT_EQ(n.answer_length, 21u);
}

TEST(Survey, ALateAnswerKeepsItsAddressAndTheProbesItMayHaveHiddenAreMadeAgain) {
  // A detector at 5 that answers late, in the window of a later probe: a detector does
  // not hear a request while another one answers, so the probes since 5 are made
  // again; 5 itself is not (it would answer late once more).
  struct Case {
    long extra_delay_ms;
    std::uint8_t window_it_came_in;
    std::vector<std::uint8_t> probed;
  } cases[] = {
      {40, 6, {1, 2, 3, 4, 5, 6, 6, 7, 8, 9, 10}},
      {100, 7, {1, 2, 3, 4, 5, 6, 7, 6, 7, 8, 9, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra_delay_ms);
    SimulatedForm t(false);
    sim::Faults slow;
    slow.extra_delay = Millis(c.extra_delay_ms);
    t.line.AddDetector(5, slow);
    t.line.AddDetector(8);
    Surveyed s(t, {{k9600}, {{1, 10}}, 0});
    ASSERT_TRUE(s.done);
    ASSERT_EQ(s.survey.Devices().size(), 2u);
    const SurveyDevice* five = s.At(5);
    ASSERT_NE(five, nullptr);
    EXPECT_TRUE(five->late);
    EXPECT_EQ(five->probed, c.window_it_came_in);
    EXPECT_EQ(five->query_outcome, ExchangeOutcome::kOk);
    const SurveyDevice* eight = s.At(8);
    ASSERT_NE(eight, nullptr);
    EXPECT_FALSE(eight->late);
    EXPECT_EQ(s.survey.LateAnswers(), 1);
    EXPECT_EQ(Probed(t.Requests()), c.probed);
    EXPECT_EQ(Queried(t.Requests()), (std::vector<std::uint8_t>{5, 8}));
  }
}

TEST(Survey, AnswersAfterTheLastProbeAreWaitedFor) {
  // The detector at the end of the run answers 100 ms late: after its probe's window,
  // within the watch that follows the sweep.
  SimulatedForm t(false);
  t.line.AddDetector(10, {.extra_delay = Millis(100)});
  Surveyed s(t, {{k9600}, {{8, 10}}, 0});
  ASSERT_TRUE(s.done);
  ASSERT_EQ(s.survey.Devices().size(), 1u);
  EXPECT_EQ(s.survey.Devices()[0].address, 10);
  EXPECT_TRUE(s.survey.Devices()[0].late);
  EXPECT_EQ(s.survey.Devices()[0].query_outcome, ExchangeOutcome::kOk);
  EXPECT_EQ(Probed(t.Requests()), Addresses(8, 10));
}

TEST(Survey, SlowNeighboursAreEachQueriedWellAtTheDefaultPace) {
  // Detectors from 10 up, each answering that much after the turnaround. A query waits
  // out the answers still owed to earlier probes: none lands in it.
  const std::vector<long> cases[] = {
      {0, 30, 45, 60, 100, 140}, {0, 60}, {110, 0}};  // 10's answer in the middle of 11's query
  for (const auto& delays : cases) {
    SCOPED_TRACE(delays.size());
    SimulatedForm t(false);
    for (std::size_t i = 0; i < delays.size(); ++i)
      t.line.AddDetector(static_cast<std::uint8_t>(10 + i), {.extra_delay = Millis(delays[i])});
    Surveyed s(t, {{k9600}, {{8, 18}}, 0});
    ASSERT_TRUE(s.done);
    ASSERT_EQ(s.survey.Devices().size(), delays.size());
    for (const SurveyDevice& d : s.survey.Devices()) {
      EXPECT_EQ(d.query_outcome, ExchangeOutcome::kOk) << int(d.address);
      EXPECT_EQ(d.query_attempts, 1) << int(d.address);
      EXPECT_NE(d.probed, 0);  // the last probe before it, also when it came between two
    }
    EXPECT_EQ(Queried(t.Requests()).size(), delays.size());
    EXPECT_EQ(s.survey.LateAnswers(), s.told_late);  // the summary counts what was told
  }
}

TEST(Survey, AQueryWhoseWindowHeldNoAnswerIsMadeAgainUpToTwiceAndSaysWhy) {
  // The detector at 5 answers its probe; its queries get what the case scripts.
  auto query_answer = [](std::uint8_t a) {  // 247's registers, at address a
    return WithCrc(
        {a, 0x03, 0x10, 0x00, 0x10, 0x00, 0xF7, 0x00, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  };
  sim::Bytes garbled5 = query_answer(5);
  garbled5[8] = 0x00;  // as ANDed with another unit's answer
  const sim::Bytes noise = {0x13, 0x37, 0x42, 0x99, 0x01};
  const std::string kNoise = "bytes that form no answer";
  const std::string kGarbled = "an answer that failed its CRC check";
  struct Case {
    std::vector<sim::Bytes> scripted;  // the answers to the first queries
    ExchangeOutcome outcome;
    std::vector<std::string> troubles;  // one a failed query
  } cases[] = {
      {{noise}, ExchangeOutcome::kOk, {kNoise}},
      {{noise, noise, noise}, ExchangeOutcome::kCrcError, {kNoise, kNoise, kNoise}},
      {{query_answer(14), query_answer(14)},
       ExchangeOutcome::kOk,
       {"the answer of address 14", "the answer of address 14"}},
      {{garbled5, garbled5, garbled5},
       ExchangeOutcome::kSeveralDevices,  // two units at 5
       {kGarbled, kGarbled, kGarbled}},
      {{{}}, ExchangeOutcome::kOk, {"no answer"}},  // a query or its answer lost once
      {{{}, {}, {}}, ExchangeOutcome::kTimeOut, {"no answer", "no answer", "no answer"}},
      {{WithCrc({0x05, 0x83, 0x02})}, ExchangeOutcome::kException, {"exception"}},  // no more
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.troubles.back());
    SimulatedForm t(false);
    t.line.AddDetector(5);
    BusSurvey survey(t.w(), {{k9600}, {{1, 7}}, 0});
    t.exchanges.Add(&survey);
    survey.Start();
    ASSERT_TRUE(t.RunUntil([&] {  // the probe to 5 answered: its queries come next
      const auto f = t.WireFrames();
      return std::any_of(f.begin(), f.end(),
                         [](const auto& w) { return w.bytes == ProbeAnswer(5); });
    }));
    for (const auto& b : c.scripted) t.line.ScriptAnswer(b);
    ASSERT_TRUE(RunServed(t, [&] { return survey.Done(); }));
    t.exchanges.Remove(&survey);
    ASSERT_EQ(survey.Devices().size(), 1u);
    const SurveyDevice& d = survey.Devices()[0];
    const int queries = static_cast<int>(c.troubles.size()) + (c.outcome == ExchangeOutcome::kOk);
    EXPECT_EQ(d.query_attempts, queries);
    EXPECT_EQ(d.query_outcome, c.outcome);
    EXPECT_EQ(d.query_troubles, c.troubles);
    EXPECT_EQ(d.several_devices, c.outcome == ExchangeOutcome::kSeveralDevices);
    EXPECT_EQ(Queried(t.Requests()), std::vector<std::uint8_t>(queries, 5));
    EXPECT_EQ(Probed(t.Requests()), Addresses(1, 7));
  }
}

TEST(Survey, TwoUnitsAtOneAddressAreToldAsSuch) {
  // Two at 15, the second answering 20 ms later (both answers whole in the probe's
  // window, no query made) or at once with another tactic (the probe's answers alike,
  // the queries' ANDed); one at 17.
  for (const bool anded : {false, true}) {
    SCOPED_TRACE(anded);
    SimulatedForm t(false);
    t.line.AddDetector(15);
    const std::size_t i = t.line.AddDetector(15, {.extra_delay = Millis(anded ? 0 : 20)});
    t.line.detector(i).SetRegister(sim::kRegTactic, anded ? 3 : 0);
    t.line.AddDetector(17);
    Surveyed s(t, {{k9600}, {{13, 18}}, 0});
    ASSERT_TRUE(s.done);
    ASSERT_NE(s.At(15), nullptr);
    EXPECT_TRUE(s.At(15)->several_devices);
    EXPECT_EQ(Queried(t.Requests()), anded ? (std::vector<std::uint8_t>{15, 15, 15, 17})
                                           : (std::vector<std::uint8_t>{17}));
    ASSERT_NE(s.At(17), nullptr);
    EXPECT_FALSE(s.At(17)->several_devices);
    EXPECT_EQ(s.At(17)->query_outcome, ExchangeOutcome::kOk);
  }
}

TEST(Survey, StopEndsItAfterTheProbeInFlightAndTellsWhatItFound) {
  SimulatedForm t(false);
  t.line.AddDetector(5);
  BusSurvey survey(t.w(), {{k9600}, {{1, 247}}, 0});
  std::vector<std::uint8_t> told;
  survey.OnDevice([&](const SurveyDevice& d) { told.push_back(d.address); });
  t.exchanges.Add(&survey);
  survey.Start();
  ASSERT_TRUE(t.RunUntil([&] { return Probed(t.Requests()).size() == 40; }));
  EXPECT_TRUE(t.w().SurveyPaced());
  survey.Stop();
  ASSERT_TRUE(RunServed(t, [&] { return survey.Done(); }));
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(Probed(t.Requests()), Addresses(1, 40));
  EXPECT_TRUE(survey.Stopped());
  EXPECT_EQ(told, (std::vector<std::uint8_t>{5}));
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(t.w().CustomItem5.Caption(), "Start");
  EXPECT_FALSE(t.w().SurveyPaced());
  t.exchanges.Remove(&survey);
}

TEST(Survey, NothingFoundIsNotAStop) {
  SimulatedForm t(false);
  Surveyed s(t, {{k9600}, {{1, 10}}, 0});
  ASSERT_TRUE(s.done);
  EXPECT_TRUE(s.survey.Devices().empty());
  EXPECT_TRUE(s.survey.Noise().empty());
  EXPECT_FALSE(s.survey.Stopped());
  EXPECT_FALSE(s.survey.PortFailed());
  EXPECT_EQ(Probed(t.Requests()), Addresses(1, 10));
}

TEST(Survey, APortThatCannotBeOpenedEndsItAtOnceWithThePaceOff) {
  SimulatedForm t(false);
  t.device.FailNext("Open", ENOENT);
  Surveyed s(t, {{k9600}, {{1, 247}}, 0});
  ASSERT_TRUE(s.done);
  EXPECT_TRUE(s.survey.PortFailed());
  EXPECT_EQ(t.Requests().size(), 0u);
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_FALSE(t.w().SurveyPaced());
}

TEST(Survey, APortThatFailsForADetectorsQueryEndsItWithThatQuerysPortError) {
  SimulatedForm t(false);
  t.line.AddDetector(5);
  BusSurvey survey(t.w(), {{k9600}, {{1, 247}}, 0});
  std::vector<ExchangeOutcome> told;
  survey.OnDevice([&](const SurveyDevice& d) { told.push_back(d.query_outcome); });
  t.exchanges.Add(&survey);
  survey.Start();
  // The port stays open after the hit at 5; the query's write is the next one.
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 5; }));
  t.device.FailNext("Write", EIO);
  ASSERT_TRUE(RunServed(t, [&] { return survey.Done(); }));
  t.exchanges.Remove(&survey);
  EXPECT_TRUE(survey.PortFailed());
  EXPECT_EQ(told, (std::vector<ExchangeOutcome>{ExchangeOutcome::kPortError}));
  EXPECT_EQ(Probed(t.Requests()), Addresses(1, 5));
  EXPECT_FALSE(t.w().SurveyPaced());
}

TEST(Survey, TheWindowsSearchAfterASurveyIsTheWindowsExactly) {
  SimulatedForm t(false);
  t.line.AddDetector(5);
  {
    Surveyed s(t, {{k9600}, {{1, 5}}, 0});
    ASSERT_TRUE(s.done);
  }
  const std::size_t before = t.Requests().size();
  const std::size_t completions = t.Completions().size();
  t.Click(t.w().CustomItem5);  // the window's search, 150 ms
  ASSERT_TRUE(t.RunUntilIdle());
  const auto sent = t.line.RequestTimes();
  ASSERT_EQ(sent.size(), before + 6);  // the answer of 5 comes in the window of 6
  for (std::size_t k = 0; k < 5; ++k)
    EXPECT_EQ(t.Completions()[completions + k] - sent[before + k], Millis(150)) << k;
  EXPECT_EQ(t.state().DeviceAddress, 5);
  EXPECT_EQ(t.line.CurrentTimeouts().ReadIntervalTimeout, 150u);
  EXPECT_EQ(t.line.CurrentTimeouts().ReadTotalTimeoutConstant, 0u);
}

TEST(Survey, RunsOnlyWhenNoSequenceOfTheWindowRunsAndNoneStartsWhileItRuns) {
  const std::function<void(SimulatedForm&)> sequences[] = {
      [](SimulatedForm& t) { t.Click(t.w().CustomItem5); },  // the search
      [](SimulatedForm& t) {                                 // the cyclic query
        t.Click(t.w().TeCheckBox1);
        t.Click(t.w().TeButton5);
      },
      [](SimulatedForm& t) { t.Click(t.w().TeButton2); },  // an interface reset
  };
  for (const auto& start : sequences) {
    SCOPED_TRACE(&start - sequences);
    for (const bool survey_first : {false, true}) {
      SimulatedForm t(false);
      if (!survey_first) start(t);
      const std::uint8_t mode = t.state().SessionMode;
      Surveyed s(t, {{k9600}, {{1, 3}}, 0}, [&] {
        if (survey_first) start(t);  // once its first probe is out
      });
      ASSERT_TRUE(s.done);
      EXPECT_EQ(s.survey.Stopped(), !survey_first);
      EXPECT_EQ(t.state().SessionMode, mode);
      // Nothing on the line when the sequence was first: the survey ended as it began.
      const std::vector<sim::Bytes> sent = {Probe(1), Probe(2), Probe(3)};
      EXPECT_EQ(t.Requests(), survey_first ? sent : std::vector<sim::Bytes>{});
      EXPECT_FALSE(t.w().SurveyPaced());
      if (survey_first) {
        EXPECT_EQ(t.w().CustomItem5.Caption(), "Start");
      }
    }
  }
}

}  // namespace
}  // namespace ornat
