#include "detector/survey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

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
bool IsProbe(const sim::Bytes& r) {
  return r.size() == 8 && r[1] == 0x03 && r[2] == 0 && r[3] == 0 && r[4] == 0 && r[5] == 1;
}

constexpr std::uint8_t k9600 = 3;
constexpr std::uint8_t k19200 = 5;

// A survey of the line behind t, run to its end on the virtual clock.
struct Surveyed {
  Surveyed(SimulatedForm& t, SurveyPlan plan) : form(t), survey(t.w(), std::move(plan)) {
    t.exchanges.Add(&survey);
    survey.Start();
    done = t.RunUntil([&] { return survey.Done(); }, Millis(30 * 60'000));
  }
  ~Surveyed() { form.exchanges.Remove(&survey); }
  const SurveyDevice* At(std::uint8_t address, std::uint8_t baud_index) const {
    for (const auto& d : survey.Devices())
      if (d.address == address && d.baud_index == baud_index) return &d;
    return nullptr;
  }
  SimulatedForm& form;
  BusSurvey survey;
  bool done = false;
};

TEST(Survey, WindowIsTheSmallestDelayItemThatCoversTheAnswersHandOver) {
  const std::uint16_t expected[8] = {350, 300, 250, 250, 250, 250, 250, 250};
  for (std::uint8_t b = 0; b < 8; ++b) {
    SCOPED_TRACE(kBaudTable[b].speed_text);
    const std::uint16_t window = BusSurvey::SafeWindowMs(b);
    EXPECT_EQ(window, expected[b]);
    // 20 ms to spare at least, and the next shorter item would not have them.
    EXPECT_GE(window, BusSurvey::HandOverMs(b) + 20);
    EXPECT_LT(window - 50, BusSurvey::HandOverMs(b) + 20);
  }
  // 1200 bit/s: 150 bits of probe and answer (125 ms), 40 ms turnaround, 150 ms read.
  EXPECT_DOUBLE_EQ(BusSurvey::HandOverMs(0), 315.0);
  EXPECT_EQ(BusSurvey::UnsafeDelay({0, 3, 5}, 250), (std::vector<std::uint8_t>{0}));
  EXPECT_EQ(BusSurvey::UnsafeDelay({0, 3, 5}, 350), (std::vector<std::uint8_t>{}));
  EXPECT_EQ(BusSurvey::UnsafeDelay({3}, 200), (std::vector<std::uint8_t>{3}));
}

TEST(Survey, FindsEveryDeviceOnALineOfNeighboursEndsAndOddAnswers) {
  SimulatedForm t(false);
  for (std::uint8_t a : {1, 5, 6, 247}) t.line.AddDetector(a);
  t.line.detector(t.line.AddDetector(9)).SetIdentity(0x0011);
  sim::Faults refusing;
  refusing.forced_exception = 2;
  t.line.AddDetector(12, refusing);
  t.line.detector(t.line.AddDetector(30)).SetSpeedCode(6);  // 19200 bit/s: not heard
  t.line.detector(1).SetState(1);                           // the one at 5 is in alarm

  Surveyed s(t, {{k9600}, {{1, 247}}, 0});
  ASSERT_TRUE(s.done);
  EXPECT_FALSE(s.survey.PortFailed());
  EXPECT_EQ(s.survey.LateAnswers(), 0);
  EXPECT_TRUE(s.survey.Noise().empty());
  ASSERT_EQ(s.survey.Devices().size(), 6u);

  struct Case {
    std::uint8_t address;
    SurveyDevice::Kind kind;
    std::uint16_t identity;
    std::uint8_t exception;
    const char* state;
  } cases[] = {
      {1, SurveyDevice::Kind::kDetector, 0x0010, 0, "НОРМА"},
      {5, SurveyDevice::Kind::kDetector, 0x0010, 0, "ТРЕВОГА"},
      {6, SurveyDevice::Kind::kDetector, 0x0010, 0, "НОРМА"},
      {9, SurveyDevice::Kind::kOtherIdentity, 0x0011, 0, ""},
      {12, SurveyDevice::Kind::kException, 0, 2, ""},
      {247, SurveyDevice::Kind::kDetector, 0x0010, 0, "НОРМА"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.address));
    const SurveyDevice* d = s.At(c.address, k9600);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->kind, c.kind);
    EXPECT_EQ(d->probed, c.address);
    EXPECT_EQ(d->identity, c.identity);
    EXPECT_EQ(d->exception_code, c.exception);
    EXPECT_EQ(d->queried, c.kind == SurveyDevice::Kind::kDetector);
    if (d->queried) {
      EXPECT_EQ(d->query_outcome, ExchangeOutcome::kOk);
      EXPECT_EQ(d->shown.type, "VA329(/330) \"ОРНАТ(-2)-Zev\"");
      EXPECT_EQ(d->shown.state, c.state);
      EXPECT_EQ(d->shown.tactic_name, "T1MAX");
      EXPECT_EQ(d->shown.tactic_label, "- УФ-1 - MAX");
      EXPECT_TRUE(d->shown.latching);
      EXPECT_FALSE(d->shown.test);
    }
  }

  // Every address probed once, in order, nothing past 247; then one query per detector.
  const auto requests = t.Requests();
  ASSERT_EQ(requests.size(), 247u + 4u);
  for (std::size_t i = 0; i < 247; ++i) EXPECT_EQ(requests[i], Probe(std::uint8_t(i + 1))) << i;
  EXPECT_EQ(requests[247], Query(1));
  EXPECT_EQ(requests[248], Query(5));
  EXPECT_EQ(requests[249], Query(6));
  EXPECT_EQ(requests[250], Query(247));
  EXPECT_EQ(t.state().SessionMode, 0);
}

TEST(Survey, NeverSendsAProbeBeforeThePreviousAnswerIsHandedOver) {
  // Neighbours at every speed: an answer that were still being read when the next
  // probe goes out would merge with the neighbour's in one read.
  for (std::uint8_t b = 0; b < 8; ++b) {
    SCOPED_TRACE(kBaudTable[b].speed_text);
    SimulatedForm t(false);
    for (std::uint8_t a : {5, 6, 7}) t.line.detector(t.line.AddDetector(a)).SetSpeedCode(b + 1);
    Surveyed s(t, {{b}, {{4, 8}}, 0});
    ASSERT_TRUE(s.done);
    ASSERT_EQ(s.survey.Devices().size(), 3u);
    EXPECT_EQ(s.survey.LateAnswers(), 0);
    for (std::uint8_t a : {5, 6, 7}) EXPECT_NE(s.At(a, b), nullptr) << int(a);
    // Each answer's last byte, plus the 150 ms read interval, comes before the next
    // request goes out.
    const auto wire = t.WireFrames();
    for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
      if (wire[i].direction != sim::WireDirection::kFromDetector) continue;
      auto next = std::find_if(wire.begin() + long(i) + 1, wire.end(), [](const sim::WireFrame& f) {
        return f.direction == sim::WireDirection::kToDetector;
      });
      if (next == wire.end()) continue;
      EXPECT_LE(wire[i].last + Millis(150), next->first) << i;
    }
  }
}

TEST(Survey, SweepsEachSpeedAndFindsADetectorOnlyAtItsOwn) {
  SimulatedForm t(false);
  t.line.AddDetector(5);                                   // 9600 bit/s
  t.line.detector(t.line.AddDetector(6)).SetSpeedCode(6);  // 19200 bit/s
  Surveyed s(t, {{k9600, k19200}, {{1, 10}}, 0});
  ASSERT_TRUE(s.done);
  ASSERT_EQ(s.survey.Devices().size(), 2u);
  ASSERT_NE(s.At(5, k9600), nullptr);
  ASSERT_NE(s.At(6, k19200), nullptr);
  EXPECT_EQ(s.At(5, k9600)->query_outcome, ExchangeOutcome::kOk);
  EXPECT_EQ(s.At(6, k19200)->query_outcome, ExchangeOutcome::kOk);
  // 10 probes and a query at each speed; the PC's speed follows the menu.
  EXPECT_EQ(t.Requests().size(), 22u);
  EXPECT_EQ(t.Requests()[10], Query(5));
  EXPECT_EQ(t.Requests()[21], Query(6));
  EXPECT_TRUE(t.w().BR_19200.Checked());
  EXPECT_EQ(t.state().BaudIndex, k19200);
}

TEST(Survey, ProbesOnlyTheAddressRunsAtItsWindowAndFiveMilliseconds) {
  struct Case {
    std::uint8_t baud_index;
    std::uint16_t delay_ms;  // 0: the safe window
    long spacing_ms;         // from one probe to the next on a silent line
  } cases[] = {{0, 0, 355}, {1, 0, 305}, {3, 0, 255}, {7, 0, 255}, {3, 350, 355}};
  for (const Case& c : cases) {
    SCOPED_TRACE(kBaudTable[c.baud_index].speed_text);
    SimulatedForm t(false);
    Surveyed s(t, {{c.baud_index}, {{1, 3}, {245, 247}}, c.delay_ms});
    ASSERT_TRUE(s.done);
    EXPECT_TRUE(s.survey.Devices().empty());
    const auto requests = t.Requests();
    const auto times = t.RequestTimesMs();
    ASSERT_EQ(requests.size(), 6u);
    const std::uint8_t expected[] = {1, 2, 3, 245, 246, 247};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(requests[i], Probe(expected[i])) << i;
    for (std::size_t i = 0; i + 1 < 3; ++i) EXPECT_EQ(times[i + 1] - times[i], c.spacing_ms);
    for (std::size_t i = 3; i + 1 < 6; ++i) EXPECT_EQ(times[i + 1] - times[i], c.spacing_ms);
    EXPECT_EQ(t.state().SearchDelayMs, s.survey.WindowMs(c.baud_index));
    EXPECT_DOUBLE_EQ(s.survey.NominalMs(), 6.0 * double(c.spacing_ms));
  }
}

TEST(Survey, AttributesALateAnswerByItsOwnAddressAndCountsIt) {
  SimulatedForm t(false);
  sim::Faults slow;
  slow.extra_delay = Millis(100);  // handed over in the next probe's window
  t.line.AddDetector(5, slow);
  Surveyed s(t, {{k9600}, {{1, 10}}, 0});
  ASSERT_TRUE(s.done);
  ASSERT_EQ(s.survey.Devices().size(), 1u);
  EXPECT_EQ(s.survey.Devices()[0].address, 5);
  EXPECT_EQ(s.survey.Devices()[0].probed, 6);
  EXPECT_EQ(s.survey.LateAnswers(), 1);
  // The window's search stopped at the late hit; the survey went on past 6.
  const auto requests = t.Requests();
  std::vector<std::uint8_t> probed;
  for (const auto& r : requests)
    if (IsProbe(r)) probed.push_back(r[0]);
  EXPECT_EQ(probed, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(Survey, GarbledAnswersAreNoiseNotDevices) {
  SimulatedForm t(false);
  sim::Faults garbled;
  garbled.bad_crc_probability = 1.0;
  t.line.AddDetector(4, garbled);
  Surveyed s(t, {{k9600}, {{1, 6}}, 0});
  ASSERT_TRUE(s.done);
  EXPECT_TRUE(s.survey.Devices().empty());
  ASSERT_EQ(s.survey.Noise().size(), 1u);
  EXPECT_EQ(s.survey.Noise()[0].probed, 4);
  EXPECT_EQ(s.survey.Noise()[0].bytes.size(), 7u);
}

TEST(Survey, StopEndsItAfterTheProbeInFlight) {
  SimulatedForm t(false);
  BusSurvey survey(t.w(), {{k9600}, {{1, 247}}, 0});
  t.exchanges.Add(&survey);
  survey.Start();
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 40; }));
  survey.Stop();
  ASSERT_TRUE(t.RunUntil([&] { return survey.Done(); }));
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests().size(), 40u);
  EXPECT_TRUE(survey.Stopped());
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(t.w().CustomItem5.Caption(), "Start");
  t.exchanges.Remove(&survey);
}

TEST(Survey, APortThatCannotBeOpenedEndsItAtOnce) {
  SimulatedForm t(false);
  t.device.FailNext("Open", ENOENT);
  Surveyed s(t, {{k9600}, {{1, 247}}, 0});
  ASSERT_TRUE(s.done);
  EXPECT_TRUE(s.survey.PortFailed());
  EXPECT_EQ(t.Requests().size(), 0u);
  EXPECT_EQ(t.state().SessionMode, 0);
}

}  // namespace
}  // namespace ornat
