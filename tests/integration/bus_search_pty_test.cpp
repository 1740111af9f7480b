// The bus search for real: TForm1 with its real port over a pseudo-terminal against
// ornat-sim, one probe after the other in real time. The probe windows are short
// (100 and 150 ms) and an answer is read only 150 ms after its last byte, so most
// answers are handed over in the next probe's window: the address found is the one
// that answered.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/hex.h"
#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string ProbeHex(unsigned address) {
  return ToHex(WithCrc({static_cast<std::uint8_t>(address), 0x03, 0x00, 0x00, 0x00, 0x01}));
}

// The window's log of every exchange as it stood at its completion.
class LogHistory {
 public:
  explicit LogHistory(LiveForm& t) : t_(t) {}
  // Runs until pred() holds or `limit` has passed, keeping the log of each completion.
  bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    return t_.RunUntil(
        [&] {
          while (seen_ < t_.Completions().size()) {
            ++seen_;
            exchanges_.push_back(t_.LogLines());
          }
          return pred();
        },
        limit);
  }
  const std::vector<std::vector<std::string>>& exchanges() const { return exchanges_; }
  // The exchanges whose RX line is `rx`.
  std::vector<std::vector<std::string>> WithRx(const std::string& rx) const {
    std::vector<std::vector<std::string>> out;
    for (const auto& e : exchanges_)
      if (e.size() >= 2 && e[1] == rx) out.push_back(e);
    return out;
  }

 private:
  LiveForm& t_;
  std::size_t seen_ = 0;
  std::vector<std::vector<std::string>> exchanges_;
};

// "EV port opened" and "EV port closed" lines of the simulator's wire log.
std::vector<std::string> PortEvents(const SimProcess& sim) {
  std::vector<std::string> out;
  std::ifstream in(sim.runtime_dir() + "/wire.log");
  std::string line;
  while (std::getline(in, line))
    for (const char* ev : {" EV port opened", " EV port closed"})
      if (line.find(ev) != std::string::npos) out.push_back(ev + 4);
  return out;
}

// The port events once `count` of them are in the wire log (the simulator notes a
// close when it next looks at the line), or as they stand after `limit`.
std::vector<std::string> PortEvents(const SimProcess& sim, std::size_t count,
                                    std::chrono::milliseconds limit = 3000ms) {
  const auto until = Clock::now() + limit;
  auto events = PortEvents(sim);
  while (events.size() < count && Clock::now() < until) {
    std::this_thread::sleep_for(20ms);
    events = PortEvents(sim);
  }
  return events;
}

void ExpectQueryAnswers(LiveForm& t, std::uint8_t address) {
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  const auto log = t.LogLines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "TX : " + ToHex(WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x08})) + " ");
  EXPECT_EQ(log[1].substr(0, 14), RxLine({address, 0x03, 0x10}));
  EXPECT_EQ(log.back(), kOkLine);
}

TEST(BusSearchPty, FindsADetectorAtAnUnknownAddressPastDevicesOfAnotherIdentity) {
  Watchdog dog(60s);
  SimProcess sim({"--detector", "3:id=0x0011", "--detector", "20:id=0x0011", "--detector", "37"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();
  LogHistory history(t);
  ASSERT_EQ(t.state().SearchDelayMs, 150);
  t.Do([&] { w.CustomItem5.Click(); });
  EXPECT_EQ(w.CustomItem5.Caption(), "Stop");
  EXPECT_TRUE(w.TeProgressBar1.Visible());
  ASSERT_TRUE(history.RunUntil([&] { return t.state().SessionMode == 0; }, 20s));

  const auto log = t.LogLines();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[1], RxLine(WithCrc({37, 0x03, 0x02, 0x00, 0x10})));
  EXPECT_EQ(log[log.size() - 2], kFoundPrefix + "037");
  EXPECT_EQ(log.back(), kOkLine);
  EXPECT_EQ(t.state().DeviceAddress, 37);
  EXPECT_EQ(w.TeSpinEdit1.Text(), "37");
  EXPECT_EQ(w.TeLabel5.Caption(), "АДРЕС ПРИБОРА - 037");
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_TRUE(w.TeMenuBar1.Focused());
  EXPECT_FALSE(w.ComPort1().Connected());

  // The probes, one to each address from 1 on, up to 37 or (the answer handed over in
  // the next window, as it normally is) 38; the port open from the first to the end.
  const auto requests = sim.WireRequests();
  ASSERT_TRUE(requests.size() == 37 || requests.size() == 38) << requests.size();
  for (std::size_t i = 0; i < requests.size(); ++i)
    EXPECT_EQ(requests[i].hex, ProbeHex(static_cast<unsigned>(i + 1))) << i;
  EXPECT_EQ(PortEvents(sim, 2), (std::vector<std::string>{"port opened", "port closed"}));
  // The two devices of another identity answered, were passed over with "ОК", and
  // the search went on.
  for (std::uint8_t other : {3, 20}) {
    const auto seen = history.WithRx(RxLine(WithCrc({other, 0x03, 0x02, 0x00, 0x11})));
    ASSERT_EQ(seen.size(), 1u) << int(other);
    EXPECT_EQ(seen[0].back(), kOkLine) << int(other);
  }
  EXPECT_EQ(sim.WireAnswers().size(), 3u);

  // Found, and queried at its address.
  ExpectQueryAnswers(t, 37);
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

TEST(BusSearchPty, StoppedMidSearchSendsNoFurtherProbeAndTheNextQueryGoesOut) {
  Watchdog dog(60s);
  SimProcess sim;  // the detector at 247, far beyond
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();
  t.Do([&] { w.CustomItem5.Click(); });
  ASSERT_TRUE(t.RunUntil([&] { return t.state().DeviceAddress == 10; }, 10s));
  t.Do([&] { w.CustomItem5.Click(); });
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_EQ(w.TeSpinEdit1.Text(), "10");
  t.RunFor(1000ms);
  EXPECT_EQ(sim.WireRequests().size(), 10u) << "no probe after the stop";
  EXPECT_EQ(t.state().SessionMode, 0);
  // The editor holds the address probed last; the user puts 247 back and queries.
  t.Do([&] { w.TeSpinEdit1.SetText("247"); });
  ExpectQueryAnswers(t, 247);
  EXPECT_FALSE(w.ComPort1().Connected());
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

// The one full sweep of the suite: about 248 x 113 ms.
TEST(BusSearchPty, AFullSweepWithoutADetectorEndsAfterTheProbeTo248) {
  Watchdog dog(120s);
  SimProcess sim({"--silent"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();
  t.Do([&] { w.CustomItem7.Click(); });  // "100ms"
  ASSERT_EQ(t.state().SearchDelayMs, 100);
  const auto started = Clock::now();
  t.Do([&] { w.CustomItem5.Click(); });
  ASSERT_TRUE(t.RunUntil([&] { return t.state().SessionMode == 0; }, 90s));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("full sweep at 100 ms: %.2f s for %zu probes\n", seconds, t.Completions().size());

  const auto log = t.LogLines();
  EXPECT_EQ(log,
            (std::vector<std::string>{"TX : F8 03 00 00 00 01 90 63 ", "RX :", kNotFoundLine}));
  EXPECT_EQ(t.Completions().size(), 248u);
  EXPECT_EQ(t.state().DeviceAddress, 247);
  EXPECT_EQ(w.TeSpinEdit1.Text(), "247");
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_FALSE(w.ComPort1().Connected());
  const auto requests = sim.WireRequests();
  ASSERT_EQ(requests.size(), 248u);
  for (std::size_t i = 0; i < requests.size(); ++i)
    EXPECT_EQ(requests[i].hex, ProbeHex(static_cast<unsigned>(i + 1))) << i;
  EXPECT_EQ(requests.back().hex, "F8 03 00 00 00 01 90 63");
  EXPECT_EQ(PortEvents(sim, 2), (std::vector<std::string>{"port opened", "port closed"}));
  // Nothing more after the end.
  t.RunFor(500ms);
  EXPECT_EQ(sim.WireRequests().size(), 248u);
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

}  // namespace
}  // namespace ornat::testing
