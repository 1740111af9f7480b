// The bus search over a pseudo-terminal against ornat-sim, with detectors whose answer
// is read after their probe's window has closed: in Idle, between that probe's
// time-out and the next probe, or in a later probe's window. Each case is one search
// for one detector; together they take every address, turnaround, speed and window of
// the matrix that the unit tests run on the virtual clock at least once, the issue's
// own case (37 at 57600 bit/s, turnaround 1 ms, 150 ms, unpaced) among them.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

struct Case {
  const char* name;
  int address;
  int speed_code;  // 1: 1200, 4: 9600, 8: 57600 bit/s
  int turnaround_ms;
  int delay_ms;
  bool unpaced;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class BusSearchLateAnswerPty : public ::testing::TestWithParam<Case> {};

TEST_P(BusSearchLateAnswerPty, FindsTheDetectorAtItsOwnAddress) {
  const Case& c = GetParam();
  Watchdog dog(90s);
  std::string detector = std::to_string(c.address) + ":speed=" + std::to_string(c.speed_code);
  if (c.unpaced) detector += ",unpaced";
  SimProcess sim({"--detector", detector, "--turnaround", std::to_string(c.turnaround_ms)});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();
  TTeItem* bauds[] = {&w.BR_1200,  &w.BR_2400,  &w.BR_4800,  &w.BR_9600,
                      &w.BR_14400, &w.BR_19200, &w.BR_38400, &w.BR_57600};
  t.Do([&] { bauds[c.speed_code - 1]->Click(); });
  TTeItem* delays[] = {&w.CustomItem7,  &w.CustomItem8,  &w.CustomItem9,
                       &w.CustomItem10, &w.CustomItem11, &w.CustomItem12};
  t.Do([&] { delays[(c.delay_ms - 100) / 50]->Click(); });
  ASSERT_EQ(t.state().SearchDelayMs, c.delay_ms);

  // Where the answer that ends the search is handed over: the completion that ends it
  // began with PendingOp 0 (Idle) or 254 (a probe's window).
  int pending_at_end = -1;
  int counter_at_end = -1;
  TNotifyEvent completion = w.Timer_Rx.OnTimer();
  w.Timer_Rx.SetOnTimer([&](TObject* sender) {
    const int pending = w.State.PendingOp;
    const int counter = w.State.DeviceAddress;
    const bool searching = w.State.SessionMode == 254;
    completion(sender);
    if (searching && w.State.SessionMode == 0) {
      pending_at_end = pending;
      counter_at_end = counter;
    }
  });

  t.Do([&] { w.CustomItem5.Click(); });
  const auto limit = std::chrono::milliseconds((c.address + 3) * (c.delay_ms + 60) + 5000);
  ASSERT_TRUE(t.RunUntil([&] { return t.state().SessionMode == 0; }, limit));

  const auto log = t.LogLines();
  ASSERT_GE(log.size(), 2u);
  const bool found = log[log.size() - 2].rfind(kFoundPrefix, 0) == 0;
  const char* where = pending_at_end == 0           ? "Idle"
                      : counter_at_end == c.address ? "own window"
                                                    : "later window";
  const char* speed = c.speed_code == 8 ? "57600" : c.speed_code == 4 ? "9600" : "1200";
  std::printf("SEARCH pty address %d turnaround %d ms %s bit/s %d ms %s: %s at %d, %s\n", c.address,
              c.turnaround_ms, speed, c.delay_ms, c.unpaced ? "unpaced" : "paced",
              found ? "found" : "NOT FOUND", t.state().DeviceAddress, found ? where : "-");
  char address[4];
  std::snprintf(address, sizeof address, "%03d", c.address);
  EXPECT_EQ(log[log.size() - 2], kFoundPrefix + address);
  EXPECT_EQ(log.back(), kOkLine);
  EXPECT_EQ(t.state().DeviceAddress, c.address);
  EXPECT_EQ(w.TeSpinEdit1.Text(), std::to_string(c.address));
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_FALSE(w.ComPort1().Connected());
  // The probes, one to each address from 1 on, none past the window that held the
  // answer; nothing but probes.
  const auto requests = sim.WireRequests();
  EXPECT_GE(requests.size(), static_cast<std::size_t>(c.address));
  EXPECT_LE(requests.size(), static_cast<std::size_t>(c.address) + 2);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    std::string probe =
        RxLine(WithCrc({static_cast<std::uint8_t>(i + 1), 0x03, 0x00, 0x00, 0x00, 0x01})).substr(5);
    probe.pop_back();
    EXPECT_EQ(requests[i].hex, probe) << i;
  }
  // The simulator's wire log shows the answer as it went out: at once when unpaced.
  const auto answers = sim.WireAnswers();
  ASSERT_FALSE(answers.empty());
  if (c.unpaced) {
    EXPECT_EQ(answers.back().first, answers.back().last);
  }
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, BusSearchLateAnswerPty,
    ::testing::Values(
        // The issue: answered 2.3 ms after the probe, read 2.3 ms after its time-out.
        Case{"Issue37At57600Turnaround1Delay150Unpaced", 37, 8, 1, 150, true},
        Case{"Address1At9600Turnaround0Delay350Unpaced", 1, 4, 0, 350, true},
        Case{"Address5At57600Turnaround5Delay100Unpaced", 5, 8, 5, 100, true},
        Case{"Address5At9600Turnaround0Delay150Unpaced", 5, 4, 0, 150, true},
        Case{"Address246At9600Turnaround5Delay100Paced", 246, 4, 5, 100, false},
        // At 1200 bit/s the answer of 247 is read 208 ms after its probe, past the
        // window of the probe to 248: the end of the search waits for it.
        Case{"Address247At1200Turnaround0Delay100Paced", 247, 1, 0, 100, false}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace ornat::testing
