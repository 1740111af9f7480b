// The bus search against detectors whose answer is read late: an answer is handed over
// 150 ms after its last byte, so with a probe window of 100 or 150 ms it comes after
// its own probe's time-out, in Idle (between that completion and the next probe) or in
// a later probe's window. Every detector must be found, at its own address, whichever
// it is. On the virtual clock, with turnaround and unpaced delivery as the line has
// them.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modbus/rtu_codec.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using testing::IsProbe;
using testing::kFoundPrefix;
using testing::SimulatedForm;
using testing::WithCrc;

// Where the answer that ended the search was handed over.
enum class Where { kNone, kOwnWindow, kIdle, kLaterWindow };

const char* Name(Where w) {
  switch (w) {
    case Where::kOwnWindow:
      return "own window";
    case Where::kIdle:
      return "Idle";
    case Where::kLaterWindow:
      return "later window";
    default:
      return "-";
  }
}

struct Outcome {
  bool found = false;
  int address = -1;
  Where where = Where::kNone;
  std::size_t probes = 0;
  bool only_probes = true;      // nothing but probes went out
  bool in_flight_send = false;  // a request went out while Timer_Rx was enabled
};

// The search for one detector at `address`, at the PC's and the detector's speed
// `speed_code` (4: 9600, 8: 57600 bit/s), with the turnaround and the probe window
// given. Observes every completion: what PendingOp and DeviceAddress were as it began.
Outcome Search(std::uint8_t address, int speed_code, Micros turnaround, int delay_ms,
               bool unpaced) {
  SimulatedForm t(false);
  const std::size_t d = t.line.AddDetector(address);
  t.line.detector(d).SetSpeedCode(static_cast<std::uint16_t>(speed_code));
  t.line.faults(d).unpaced = unpaced;
  t.line.SetTurnaround(turnaround);
  TForm1& w = t.w();
  if (speed_code == 8) t.Click(w.BR_57600);
  t.SelectSearchDelay(delay_ms);

  Outcome out;
  std::uint8_t pending_at_hit = 0;
  std::uint8_t counter_at_hit = 0;
  w.Timer_Rx.SetOnTimer([&](TObject* sender) {
    const std::uint8_t pending = w.State.PendingOp;
    const std::uint8_t counter = w.State.DeviceAddress;
    const bool searching = w.State.SessionMode == 254;
    w.Timer_RxTimer(sender);
    if (searching && w.State.SessionMode == 0) {  // the completion that ended it
      pending_at_hit = pending;
      counter_at_hit = counter;
    }
  });
  // A send while an exchange is in flight shows as a Write with Timer_Rx enabled.
  t.line.SetWriteHook([&](const std::vector<std::uint8_t>&) {
    if (w.Timer_Rx.Enabled()) out.in_flight_send = true;
  });
  t.Click(w.CustomItem5);
  EXPECT_TRUE(t.RunUntilIdle(Millis(400'000)));
  const auto log = t.LogLines();
  out.probes = t.Requests().size();
  for (const auto& r : t.Requests()) out.only_probes = out.only_probes && IsProbe(r);
  if (log.size() >= 2 && log[log.size() - 2].rfind(kFoundPrefix, 0) == 0) {
    out.found = true;
    out.address = w.State.DeviceAddress;
    out.where = pending_at_hit == 0         ? Where::kIdle
                : counter_at_hit == address ? Where::kOwnWindow
                                            : Where::kLaterWindow;
  }
  EXPECT_TRUE(t.line.Errors().empty());
  return out;
}

// The whole matrix: each address, turnaround, speed and window, paced and unpaced.
// Prints the table the closing note quotes.
TEST(BusSearchLateAnswer, EveryDetectorIsFoundAtItsOwnAddressWhereverItsAnswerIsHandedOver) {
  const std::uint8_t addresses[] = {1, 5, 37, 246, 247};
  const int turnarounds_ms[] = {0, 1, 5};
  const int speeds[] = {4, 8};
  const int delays[] = {100, 150, 350};
  int idle_hits = 0;
  std::printf("address turnaround speed  delay  delivery  result     found  handed over\n");
  for (bool unpaced : {false, true}) {
    for (std::uint8_t address : addresses) {
      for (int speed : speeds) {
        for (int ta : turnarounds_ms) {
          for (int delay : delays) {
            SCOPED_TRACE(std::to_string(address) + " speed " + std::to_string(speed) + " t " +
                         std::to_string(ta) + " delay " + std::to_string(delay) +
                         (unpaced ? " unpaced" : " paced"));
            const Outcome o = Search(address, speed, Millis(ta), delay, unpaced);
            std::printf("%7d %7d ms %5s %4d ms  %-8s  %-9s  %5d  %s\n", address, ta,
                        speed == 8 ? "57600" : "9600", delay, unpaced ? "unpaced" : "paced",
                        o.found ? "found" : "NOT FOUND", o.address, Name(o.where));
            EXPECT_TRUE(o.found);
            EXPECT_EQ(o.address, address);
            EXPECT_TRUE(o.only_probes);
            EXPECT_FALSE(o.in_flight_send);
            // The search goes no further than the window that holds the answer.
            EXPECT_LE(o.probes, static_cast<std::size_t>(address) + 2);
            if (o.where == Where::kIdle) ++idle_hits;
          }
        }
      }
    }
  }
  // The matrix does reach the case of the issue: answers handed over in Idle.
  EXPECT_GT(idle_hits, 0);
}

// The issue's own case: 57600 bit/s, turnaround 1 ms, the default window. The answer
// ends 3.6 ms after the probe was written (1.4 ms for the probe on the wire, 1 ms, 1.2
// ms for the answer) and is handed over 3.6 ms after the probe's time-out, in Idle;
// the next probe waits for that hand-over's completion, which finds the detector.
TEST(BusSearchLateAnswer, AnAnswerHandedOverInIdleIsAHitAndHoldsTheNextProbeBack) {
  SimulatedForm t(false);
  const std::size_t d = t.line.AddDetector(37);
  t.line.detector(d).SetSpeedCode(8);
  t.line.SetTurnaround(Millis(1));
  TForm1& w = t.w();
  t.Click(w.BR_57600);
  t.Click(w.CustomItem5);
  ASSERT_TRUE(t.RunUntilIdle(Millis(60'000)));

  const auto requests = t.Requests();
  ASSERT_EQ(requests.size(), 37u) << "no probe to 38: the answer came first";
  EXPECT_EQ(requests.back(), (sim::Bytes{0x25, 0x03, 0x00, 0x00, 0x00, 0x01, 0x82, 0xEE}));
  const auto sent = t.line.RequestTimes();
  const auto reads = t.line.Reads();
  ASSERT_FALSE(reads.empty());
  const sim::ReadRecord& last = reads.back();
  EXPECT_EQ(last.bytes, (sim::Bytes{0x25, 0x03, 0x02, 0x00, 0x10, 0xC9, 0x8F}));
  // Probe 37's time-out, then the hand-over in Idle, then its completion 5 ms later.
  const auto& done = t.Completions();
  ASSERT_EQ(done.size(), 38u);
  EXPECT_EQ(done[36], sent[36] + Millis(150));
  EXPECT_GT(last.end, done[36]);
  EXPECT_LT(last.end, done[36] + Millis(5));
  EXPECT_EQ(done[37], last.end + Millis(5));
  const auto log = t.LogLines();
  EXPECT_EQ(log,
            (std::vector<std::string>{"TX : 25 03 00 00 00 01 82 EE ", "RX : 25 03 02 00 10 C9 8F ",
                                      kFoundPrefix + "037", testing::kOkLine}));
  EXPECT_EQ(t.state().DeviceAddress, 37);
  EXPECT_EQ(w.TeSpinEdit1.Text(), "37");
  EXPECT_EQ(w.CustomItem5.Caption(), "Start");
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_FALSE(w.ComPort1().Connected());
}

// An answer handed over at the very instant a probe times out, in both orders. The
// virtual clock runs tasks due at one instant in the order they were scheduled.
TEST(BusSearchLateAnswer, AnAnswerHandedOverExactlyAtTheTimeOutIsFoundInEitherOrder) {
  // At 9600 bit/s a probe is on the wire for 8333 us; an unpaced answer's bytes come
  // `turnaround` after that.
  const Micros request_on_wire = Micros(8333);
  struct Case {
    const char* name;
    int delay_ms;
    // When the answer's bytes are in, counted from the write of the detector's probe.
    Micros answer_at;
    std::size_t probes;
    Micros handed_over;  // counted from the write of the detector's probe
  } cases[] = {
      // Read 350 ms after the write: the time-out's completion runs first (its timer
      // was armed at the write, the read's end only when the bytes came), then the
      // hand-over in Idle at the same instant; the step timer, due 5 ms later with the
      // hand-over's settling, holds the next probe back.
      {"time-out first, hand-over in Idle", 350, Millis(200), 4, Millis(350)},
      // Read at 205 ms, the instant the next probe's 100 ms window closes: the read's
      // end was scheduled before that probe was written, so the hand-over runs first,
      // in that probe's window, and cancels its time-out.
      {"hand-over first, in the next window", 100, Millis(55), 5, Millis(205)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    const std::size_t d = t.line.AddDetector(4);
    t.line.faults(d).unpaced = true;
    t.line.SetTurnaround(c.answer_at - request_on_wire);
    TForm1& w = t.w();
    t.SelectSearchDelay(c.delay_ms);
    t.Click(w.CustomItem5);
    ASSERT_TRUE(t.RunUntilIdle());
    const auto sent = t.line.RequestTimes();
    ASSERT_EQ(sent.size(), c.probes);
    const auto reads = t.line.Reads();
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back().bytes, WithCrc({0x04, 0x03, 0x02, 0x00, 0x10}));
    const Micros handed_over = reads.back().end;
    EXPECT_EQ(handed_over - sent[3], c.handed_over);
    // The time-out of the probe whose window closes at that instant.
    EXPECT_EQ(sent.back() + Millis(c.delay_ms), handed_over);
    const auto log = t.LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], kFoundPrefix + "004");
    EXPECT_EQ(t.state().DeviceAddress, 4);
    EXPECT_EQ(t.Completions().back(), handed_over + Millis(5));
  }
}

// The last probes: the answer of a detector at 247 handed over in Idle after its own
// time-out, and in the window of the probe to 248.
TEST(BusSearchLateAnswer, ADetectorAt247IsFoundInIdleAndInTheWindowOfTheProbeTo248) {
  struct Case {
    const char* name;
    int speed_code;
    bool unpaced;
    std::size_t probes;
  } cases[] = {
      {"57600 bit/s unpaced: in Idle after probe 247", 8, true, 247},
      {"9600 bit/s paced: in the window of the probe to 248", 4, false, 248},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    const std::size_t d = t.line.AddDetector(247);
    t.line.detector(d).SetSpeedCode(static_cast<std::uint16_t>(c.speed_code));
    t.line.faults(d).unpaced = c.unpaced;
    t.line.SetTurnaround(Millis(0));
    TForm1& w = t.w();
    if (c.speed_code == 8) t.Click(w.BR_57600);
    t.Click(w.CustomItem5);
    ASSERT_TRUE(t.RunUntilIdle(Millis(200'000)));
    EXPECT_EQ(t.Requests().size(), c.probes);
    const auto log = t.LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], kFoundPrefix + "247");
    EXPECT_EQ(log.back(), testing::kOkLine);
    EXPECT_EQ(t.state().DeviceAddress, 247);
    EXPECT_EQ(t.state().SessionMode, 0);
    EXPECT_FALSE(w.ComPort1().Connected());
  }
}

// Bytes handed over in Idle that are no hit change nothing about the search: the next
// probe follows 5 ms after their completion, and the search goes on to the end.
TEST(BusSearchLateAnswer, ALateAnswerThatIsNoHitLetsTheSearchGoOn) {
  struct Case {
    const char* name;
    std::uint16_t identity;
    bool garbled;
  } cases[] = {
      {"another identity", 0x0011, false},
      {"a CRC that does not fit", 0x0010, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    const std::size_t d = t.line.AddDetector(3);
    t.line.detector(d).SetSpeedCode(8);
    t.line.detector(d).SetIdentity(c.identity);
    t.line.faults(d).unpaced = true;
    if (c.garbled) t.line.faults(d).bad_crc_probability = 1.0;
    t.line.SetTurnaround(Millis(1));
    t.line.detector(t.line.AddDetector(6)).SetSpeedCode(8);
    TForm1& w = t.w();
    t.Click(w.BR_57600);
    t.Click(w.CustomItem5);
    ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 4; }));
    // Probe 3 timed out, its answer came in Idle and was completed; probe 4 follows
    // 5 ms after that completion.
    const auto sent = t.line.RequestTimes();
    const auto& done = t.Completions();
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done[2], sent[2] + Millis(150));
    EXPECT_EQ(sent[3], done[3] + Millis(5));
    ASSERT_TRUE(t.RunUntilIdle());
    const auto log = t.LogLines();
    EXPECT_EQ(log[log.size() - 2], kFoundPrefix + "006");
  }
}

// At low speeds the answer of a detector at 247 is still being read when the probe to
// 248 times out: at 1200 bit/s the probe is on the wire for 66.7 ms, the answer for
// 58.3 ms, and it is read 150 ms after its last byte, 280 ms after its probe was
// written, while the probe to 248's 100 ms window closes at 205 ms. The end of the
// search waits for that read's hand-over, whose completion finds the detector; on a
// line where nothing is being read the end comes at once.
TEST(BusSearchLateAnswer, TheEndOfTheSearchWaitsForAnAnswerBeingRead) {
  struct Case {
    const char* name;
    int speed_code;
    TTeItem TForm1::*baud_item;
    int delay_ms;
  } cases[] = {
      {"1200 bit/s, 100 ms", 1, &TForm1::BR_1200, 100},
      {"2400 bit/s, 100 ms", 2, &TForm1::BR_2400, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t(false);
    const std::size_t d = t.line.AddDetector(247);
    t.line.detector(d).SetSpeedCode(static_cast<std::uint16_t>(c.speed_code));
    TForm1& w = t.w();
    t.Click(w.*c.baud_item);
    t.SelectSearchDelay(c.delay_ms);
    t.Click(w.CustomItem5);
    ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 248; }, Millis(200'000)));
    // The probe to 248 has failed while the answer of 247 is being read: no probe
    // follows, the search still runs.
    EXPECT_EQ(t.state().SessionMode, 254);
    EXPECT_FALSE(w.Timer_Programm.Enabled());
    EXPECT_EQ(w.CustomItem5.Caption(), "Stop");
    EXPECT_TRUE(w.ComPort1().Connected());
    ASSERT_TRUE(t.RunUntilIdle());
    EXPECT_EQ(t.Requests().size(), 248u);
    const auto log = t.LogLines();
    EXPECT_EQ(log, (std::vector<std::string>{"TX : F8 03 00 00 00 01 90 63 ",
                                             "RX : F7 03 02 00 10 71 9D ", kFoundPrefix + "247",
                                             testing::kOkLine}));
    EXPECT_EQ(t.state().DeviceAddress, 247);
    EXPECT_EQ(t.Completions().size(), 249u);
    EXPECT_EQ(t.Completions().back(), t.line.Reads().back().end + Millis(5));
    EXPECT_FALSE(w.ComPort1().Connected());
  }
}

TEST(BusSearchLateAnswer, AWaitingEndOfTheSearchEndsWhenTheReadFailsOrTheUserStops) {
  enum class Then { kHangUp, kStop };
  for (Then then : {Then::kHangUp, Then::kStop}) {
    SCOPED_TRACE(then == Then::kHangUp ? "the line hangs up" : "the user stops");
    SimulatedForm t(false);
    t.line.detector(t.line.AddDetector(247)).SetSpeedCode(1);
    TForm1& w = t.w();
    t.Click(w.BR_1200);
    t.SelectSearchDelay(100);
    t.Click(w.CustomItem5);
    ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 248; }, Millis(200'000)));
    ASSERT_EQ(t.state().SessionMode, 254);
    if (then == Then::kHangUp) {
      t.line.HangUp();
      EXPECT_EQ(t.LogLines().back(), testing::kNotFoundLine);
      EXPECT_EQ(t.state().DeviceAddress, 247);
      EXPECT_EQ(w.CustomItem5.Caption(), "Start");
      EXPECT_FALSE(w.TeProgressBar1.Visible());
    } else {
      t.Click(w.CustomItem5);
      EXPECT_EQ(t.state().DeviceAddress, 248) << "the address probed last";
      EXPECT_EQ(w.TeSpinEdit1.Text(), "247") << "the editor's range ends at 247";
    }
    EXPECT_EQ(t.state().SessionMode, 0);
    ASSERT_TRUE(t.RunUntilIdle());
    EXPECT_EQ(t.Requests().size(), 248u);
    EXPECT_EQ(t.Completions().size(), then == Then::kHangUp ? 248u : 249u);
    EXPECT_FALSE(w.ComPort1().Connected());
    for (const auto& line : t.LogLines()) EXPECT_NE(line.rfind(kFoundPrefix, 0), 0u);
  }
}

}  // namespace
}  // namespace ornat
