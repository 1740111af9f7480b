#include <gtest/gtest.h>

#include "modbus/rtu_codec.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using testing::IsProbe;
using testing::kFoundPrefix;
using testing::SimulatedForm;
using testing::WithCrc;

sim::Bytes Probe(std::uint8_t address) {
  return WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x01});
}

TEST(BusSearch, FindsADetectorAtAddressFiveUnderEveryDelay) {
  struct Case {
    int delay_ms;
    std::size_t probes;  // the answer is handed over in the window of the last one
  } cases[] = {{100, 6}, {150, 6}, {200, 5}, {350, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    SimulatedForm t(false);
    t.line.AddDetector(5);
    TForm1& w = t.w();
    t.SelectSearchDelay(c.delay_ms);
    t.Click(w.CustomItem5);
    EXPECT_EQ(w.CustomItem5.Caption(), "Stop");
    EXPECT_TRUE(w.TeProgressBar1.Visible());
    ASSERT_TRUE(t.RunUntilIdle());
    const auto requests = t.Requests();
    ASSERT_EQ(requests.size(), c.probes);
    for (std::size_t i = 0; i < requests.size(); ++i)
      EXPECT_EQ(requests[i], Probe(static_cast<std::uint8_t>(i + 1))) << i;
    EXPECT_EQ(requests[0], (sim::Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_EQ(requests[4], (sim::Bytes{0x05, 0x03, 0x00, 0x00, 0x00, 0x01, 0x85, 0x8E}));
    const auto log = t.LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], kFoundPrefix + "005");
    EXPECT_EQ(log.back(), testing::kOkLine);
    EXPECT_EQ(t.state().DeviceAddress, 5);
    EXPECT_EQ(w.TeSpinEdit1.Text(), "5");
    EXPECT_EQ(w.TeLabel5.Caption(), "АДРЕС ПРИБОРА - 005");
    EXPECT_FALSE(w.TeProgressBar1.Visible());
    EXPECT_EQ(w.CustomItem5.Caption(), "Start");
    EXPECT_EQ(t.state().SessionMode, 0);
    EXPECT_TRUE(w.TeMenuBar1.Focused());
    EXPECT_FALSE(w.ComPort1().Connected()) << "the port closes when the search ends";
  }
}

TEST(BusSearch, ProbesFollowEachOther5MsAfterEachCompletionWithTheDelayAsTimeout) {
  SimulatedForm t(false);
  TForm1& w = t.w();
  t.Click(w.CustomItem5);
  const Micros started = t.Now();
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 11; }));
  const auto sent = t.line.RequestTimes();
  EXPECT_EQ(sent[0] - started, Millis(5));
  for (std::size_t k = 0; k + 1 < 10; ++k) {
    EXPECT_EQ(t.Completions()[k] - sent[k], Millis(150)) << k;
    EXPECT_EQ(sent[k + 1] - t.Completions()[k], Millis(5)) << k;
  }
  EXPECT_EQ(w.TeProgressBar1.Position(), 11);
  EXPECT_EQ(t.device.Count("Open"), 1) << "the port stays open from the first probe";
  // "300ms" mid-search: only its mark, and the next probe waits 300 ms.
  t.SelectSearchDelay(300);
  for (TTeItem* d :
       {&w.CustomItem7, &w.CustomItem8, &w.CustomItem9, &w.CustomItem10, &w.CustomItem12})
    EXPECT_FALSE(d->Checked());
  EXPECT_TRUE(w.CustomItem11.Checked());
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 13; }));
  const auto later = t.line.RequestTimes();
  EXPECT_EQ(t.Completions()[11] - later[11], Millis(300));
  t.Click(w.CustomItem5);
}

TEST(BusSearch, AnEmptyLineEndsAfterTheProbeTo248WithTheNotFoundLine) {
  SimulatedForm t(false);
  TForm1& w = t.w();
  t.SelectSearchDelay(100);
  t.Click(w.CustomItem5);
  ASSERT_TRUE(t.RunUntilIdle(Millis(200'000)));
  const auto requests = t.Requests();
  ASSERT_EQ(requests.size(), 248u);
  EXPECT_EQ(requests.back(), (sim::Bytes{0xF8, 0x03, 0x00, 0x00, 0x00, 0x01, 0x90, 0x63}));
  EXPECT_EQ(t.LogLines().back(), testing::kNotFoundLine);
  EXPECT_EQ(t.state().DeviceAddress, 247);
  EXPECT_EQ(w.TeSpinEdit1.Text(), "247");
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_FALSE(w.ComPort1().Connected());
}

TEST(BusSearch, ADetectorAt247IsFoundInTheWindowOfTheProbeTo248) {
  SimulatedForm t;  // the factory detector at 247
  t.Click(t.w().CustomItem5);
  ASSERT_TRUE(t.RunUntilIdle(Millis(200'000)));
  EXPECT_EQ(t.Requests().size(), 248u);
  const auto log = t.LogLines();
  EXPECT_EQ(log[log.size() - 2], kFoundPrefix + "247");
  EXPECT_EQ(t.state().DeviceAddress, 247);
}

TEST(BusSearch, PassesOverAnotherDeviceAndAnExceptionAnswer) {
  SimulatedForm t(false);
  std::size_t other = t.line.AddDetector(3);
  t.line.detector(other).SetIdentity(0x0011);
  sim::Faults refusing;
  refusing.forced_exception = 0x02;
  t.line.AddDetector(2, refusing);
  t.line.AddDetector(9);
  t.SelectSearchDelay(350);  // each answer lands in its own probe's window
  std::vector<std::vector<std::string>> logs;
  t.Click(t.w().CustomItem5);
  while (t.state().SessionMode == 254 && t.RunToCompletion()) logs.push_back(t.LogLines());
  ASSERT_EQ(t.Requests().size(), 9u);
  EXPECT_EQ(logs[1].back(), testing::kErrorLine) << "probe 2: exception";
  EXPECT_EQ(logs[2].back(), testing::kOkLine) << "probe 3: another identity, passed over";
  EXPECT_EQ(logs[3].back(), "RX :") << "probe 4: silence is silent";
  EXPECT_EQ(logs.back()[logs.back().size() - 2], kFoundPrefix + "009");
}

TEST(BusSearch, StopKeepsTheAddressProbedLastAndSendsNoFurtherProbe) {
  SimulatedForm t(false);
  TForm1& w = t.w();
  t.Click(w.CustomItem5);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 40; }));
  t.Click(w.CustomItem5);
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_EQ(w.TeSpinEdit1.Text(), "40");
  EXPECT_EQ(t.state().DeviceAddress, 40);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests().size(), 40u);
  EXPECT_FALSE(w.ComPort1().Connected()) << "the completion of the last probe closes the port";
}

TEST(BusSearch, EveryOtherHandlerRefusesDuringASearchButTheServiceReadsSend) {
  SimulatedForm t(false);
  TForm1& w = t.w();
  t.Click(w.CustomItem5);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 3; }));
  t.Click(w.TeButton5);
  t.Click(w.TeButton3);
  t.Click(w.TeButton1);
  t.Do([&] { w.TeSComboBox1.Select(5); });
  t.Click(w.T2MIN_Button);
  t.Click(w.TST_Button);
  t.Click(w.TeButton2);
  for (const auto& r : t.Requests()) EXPECT_TRUE(IsProbe(r));
  EXPECT_EQ(t.state().SessionMode, 254);
  t.Click(w.Button1);
  EXPECT_EQ(t.Requests().back(), WithCrc({0x03, 0x03, 0xF0, 0x00, 0x00, 0x0A}));
  t.Click(w.CustomItem5);
  t.RunUntilIdle();
}

TEST(BusSearch, StartedDuringACyclicQueryItEndsTheCycleAndLeavesTheCheckBoxAsItWas) {
  SimulatedForm t(false);
  t.line.AddDetector(2);
  TForm1& w = t.w();
  w.State.DeviceAddress = 2;
  t.Click(w.TeCheckBox1);
  t.Click(w.TeButton5);
  ASSERT_EQ(w.TeButton5.Caption(), "СТОП");
  ASSERT_TRUE(t.RunToCompletion());
  t.Click(w.CustomItem5);
  EXPECT_EQ(w.TeButton5.Caption(), "ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_FALSE(w.TeCheckBox1.Enabled());
  EXPECT_TRUE(w.TeCheckBox1.Checked());
  ASSERT_TRUE(t.RunUntilIdle());
  for (std::size_t i = 1; i < t.Requests().size(); ++i) EXPECT_TRUE(IsProbe(t.Requests()[i]));
  EXPECT_EQ(t.state().DeviceAddress, 2);
  t.Click(w.TeButton5);
  EXPECT_EQ(w.TeButton5.Caption(), "СТОП") << "a new cyclic query";
  t.Click(w.TeButton5);
  EXPECT_TRUE(w.TeCheckBox1.Enabled());
  t.RunUntilIdle();
}

// A deferred address change ("-->" pressed while a cyclic query is in flight), then
// Search -> Start. The search cancels the waiting action: it runs to its end, and no
// write reaches any detector, neither during the search nor after a stop.
TEST(BusSearch, StartingASearchCancelsAnActionDeferredBeforeIt) {
  struct Case {
    const char* name;
    bool stop_after_two_probes;
  } cases[] = {{"the search runs to its end", false}, {"the search is stopped", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    t.line.AddDetector(3);
    TForm1& w = t.w();
    t.Do([&] {
      w.TeSpinEdit1.SetValue(3);
      w.TeSpinEdit2.SetValue(100);
    });
    t.Click(w.TeCheckBox1);
    t.Click(w.TeButton5);  // the cyclic query
    ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
    t.AdvanceMs(10);
    t.Click(w.TeButton1);  // "-->": an exchange is in flight, so it waits
    ASSERT_EQ(t.state().ActionDeferred, 1);
    t.Click(w.CustomItem5);
    EXPECT_EQ(t.state().ActionDeferred, 0);
    EXPECT_FALSE(w.Timer_Wait.Enabled());
    if (c.stop_after_two_probes) {
      ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 3; }));
      t.Click(w.CustomItem5);
      EXPECT_EQ(w.TeSpinEdit1.Text(), "2");
    }
    ASSERT_TRUE(t.RunUntilIdle());
    const auto requests = t.Requests();
    for (std::size_t i = 1; i < requests.size(); ++i) EXPECT_TRUE(IsProbe(requests[i])) << i;
    EXPECT_EQ(t.line.detector().address(), 3) << "the detector kept its address";
    EXPECT_EQ(t.state().SessionMode, 0);
    EXPECT_FALSE(w.Timer_Wait.Enabled());
    if (!c.stop_after_two_probes) {
      // Probes 1 to 4 (the answer of 3 is read in the window of the probe to 4).
      EXPECT_EQ(requests.size(), 5u);
      const auto log = t.LogLines();
      EXPECT_EQ(log[log.size() - 2], kFoundPrefix + "003");
      EXPECT_EQ(t.state().DeviceAddress, 3);
    } else {
      EXPECT_EQ(requests.size(), 3u);
    }
  }
}

TEST(BusSearch, AnAnswerThatDoesNotHoldRegisterZeroIsNoHit) {
  // Bytes 3 and 4 hold register 0 only when the byte count is at least 2 and 7 bytes
  // came; otherwise they are CRC bytes or stale bytes of an earlier answer.
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint16_t received;
    bool hit;
  } cases[] = {
      {"byte count 0", {0x05, 0x03, 0x00, 0x00, 0x10}, 5, false},
      {"byte count 2, six bytes", {0x05, 0x03, 0x02, 0x00, 0x10, 0x48}, 6, false},
      {"byte count 1, seven bytes", {0x05, 0x03, 0x01, 0x00, 0x10, 0x48, 0x48}, 7, false},
      {"register 0 present", {0x05, 0x03, 0x02, 0x00, 0x10, 0x48, 0x48}, 7, true},
  };
  for (const Case& c : cases) {
    testing::BasicForm f;
    f.Create();
    SharedState& s = f.form->State;
    s.SessionMode = 254;
    s.DeviceAddress = 6;
    std::copy(c.bytes.begin(), c.bytes.end(), s.FrameBuffer.begin());
    s.ReceivedCount = c.received;
    EXPECT_EQ(f.form->SearchHit(), 254) << c.name;
    EXPECT_EQ(s.SessionMode, c.hit ? 0 : 254) << c.name;
    EXPECT_EQ(s.DeviceAddress, c.hit ? 5 : 6) << c.name;
  }
  // On the line: a short answer to the first probe does not end the search.
  SimulatedForm t(false);
  t.line.AddDetector(4);
  t.SelectSearchDelay(350);
  t.line.ScriptAnswer(WithCrc({0x01, 0x03, 0x00}));
  t.Click(t.w().CustomItem5);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests().size(), 4u) << "the search went on to the detector at 4";
  EXPECT_EQ(t.state().DeviceAddress, 4);
}

}  // namespace
}  // namespace ornat
