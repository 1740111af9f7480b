// The exchange engine's data arrival: what one read takes, when it returns, and how
// its bytes are handed over to the user-interface thread (FrameBuffer, ReceivedCount,
// Timer_Rx 5 ms), on the virtual clock with the simulated detector.

#include <gtest/gtest.h>

#include <cerrno>

#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

const Bytes kQuery = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};

void SendQuery(SimulatedForm& t) {
  t.Do([&] {
    t.state().QueryPending = 1;
    t.w().SendReadRegisters(0, 8, t.w().TeMemo1);
    t.state().PendingOp = 3;
  });
}

const sim::WireFrame& AnswerFrame(const std::vector<sim::WireFrame>& frames) {
  for (const auto& f : frames)
    if (f.direction == sim::WireDirection::kFromDetector) return f;
  throw std::runtime_error("no answer on the wire");
}

TEST(ExchangeArrival, AnAnswerFollowedBySilenceIsReadWholeAndCompletes155MsAfterItsLastByte) {
  SimulatedForm t;
  SendQuery(t);
  ASSERT_TRUE(t.RunToCompletion());
  const sim::WireFrame answer = AnswerFrame(t.WireFrames());
  ASSERT_EQ(answer.bytes.size(), 21u);
  ASSERT_EQ(t.line.Reads().size(), 1u);
  const sim::ReadRecord read = t.line.Reads()[0];
  // The read begins with the first byte (its arrival raises the event) ...
  EXPECT_EQ(read.begin, answer.first);
  EXPECT_EQ(read.limit, 33);
  EXPECT_EQ(read.bytes, answer.bytes);
  // ... and returns 150 ms after the last one; the completion follows 5 ms later.
  EXPECT_EQ(read.end, answer.last + Millis(150));
  EXPECT_EQ(t.Completions()[0], answer.last + Millis(155));
  EXPECT_EQ(t.LogLines(), kQueryLog);
  EXPECT_EQ(t.w().TeMemo1.FontColor(), 16711680u);
}

TEST(ExchangeArrival, EveryStateOfTheEngineHasItsTimerAndPort) {
  SimulatedForm t;
  auto& rx = t.w().Timer_Rx;
  auto& port = t.w().ComPort1();
  // Idle.
  EXPECT_FALSE(rx.Enabled());
  EXPECT_FALSE(port.Connected());
  SendQuery(t);
  // Awaiting answer: response timeout, port open.
  EXPECT_TRUE(rx.Enabled());
  EXPECT_EQ(rx.Interval(), 500);
  EXPECT_TRUE(port.Connected());
  ASSERT_TRUE(t.RunUntil([&] { return t.state().ReceivedCount != 0; }));
  // Settling: 5 ms, port open, the answer in FrameBuffer.
  EXPECT_TRUE(rx.Enabled());
  EXPECT_EQ(rx.Interval(), 5);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(t.state().ReceivedCount, 21);
  EXPECT_EQ(t.state().FrameBuffer[2], 0x10);
  ASSERT_TRUE(t.RunToCompletion());
  // Idle again: the completion closed the port and cleared the flags.
  EXPECT_FALSE(rx.Enabled());
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(t.state().ReceivedCount, 0);
  EXPECT_EQ(t.state().PendingOp, 0);
  EXPECT_EQ(t.state().QueryPending, 0);
  EXPECT_TRUE(t.line.Errors().empty());
}

TEST(ExchangeArrival, AnEchoOfTheRequestBeforeTheAnswerIsDroppedAndTheExchangeSucceeds) {
  SimulatedForm t;
  t.line.faults().echo_request = true;
  SendQuery(t);
  ASSERT_TRUE(t.RunToCompletion());
  // One read took the echo and the answer: 29 bytes, within the limit of 33.
  const auto reads = t.line.Reads();
  ASSERT_EQ(reads.size(), 1u);
  ASSERT_EQ(reads[0].bytes.size(), 29u);
  EXPECT_EQ(Bytes(reads[0].bytes.begin(), reads[0].bytes.begin() + 8), kQuery);
  // The validator found the answer after 8 dropped bytes.
  EXPECT_EQ(t.LogLines(), kQueryLog);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kNormalCell);
}

TEST(ExchangeArrival, TheFirstReadReturnsAtReadLimitBytesAndTheRestIsLostWithTheClose) {
  // 20 stray bytes and the 21-byte answer: 41 bytes for a limit of 33.
  SimulatedForm t;
  t.line.faults().stray_bytes = 20;
  t.line.faults().stray_value = 0x11;
  SendQuery(t);
  ASSERT_TRUE(t.RunToCompletion());
  const sim::WireFrame answer = AnswerFrame(t.WireFrames());
  ASSERT_EQ(answer.bytes.size(), 41u);
  const auto reads = t.line.Reads();
  ASSERT_EQ(reads.size(), 2u);
  // The first read returns the moment its 33rd byte is in.
  EXPECT_EQ(reads[0].bytes.size(), 33u);
  EXPECT_GT(reads[0].end, answer.first);
  EXPECT_LT(reads[0].end, answer.last);
  // The second, still collecting when the completion closes the port, is cut short.
  EXPECT_EQ(reads[1].error, ECANCELED);
  EXPECT_EQ(t.Completions()[0], reads[0].end + Millis(5));
  EXPECT_EQ(t.LogLines().back(), kCrcErrorLine);
}

TEST(ExchangeArrival, ASecondHandOverReplacesTheFirstWithoutRestartingTheSettlingTime) {
  // At 57600 bit/s a byte takes 174 us: two reads of 19 bytes fit into the 5 ms
  // settling time of the first. 31 stray bytes and a 7-byte answer: the second read
  // holds 12 stray bytes and the answer, which the validator finds.
  SimulatedForm t;
  t.line.detector().SetSpeedCode(8);
  t.line.faults().stray_bytes = 31;
  t.Click(t.w().BR_57600);
  t.Do([&] { t.w().SendReadRegisters(0, 1, t.w().TeMemo1); });
  ASSERT_TRUE(t.RunToCompletion());
  const auto reads = t.line.Reads();
  ASSERT_GE(reads.size(), 2u);
  EXPECT_EQ(reads[0].bytes.size(), 19u);
  EXPECT_EQ(reads[1].bytes.size(), 19u);
  EXPECT_LT(reads[1].end, reads[0].end + Millis(5));
  // Completion 5 ms after the first hand-over, not after the second.
  EXPECT_EQ(t.Completions()[0], reads[0].end + Millis(5));
  EXPECT_EQ(t.LogLines(), (std::vector<std::string>{"TX : F7 03 00 00 00 01 90 9C ",
                                                    "RX : F7 03 02 00 10 71 9D ", kOkLine}));
}

TEST(ExchangeArrival, APauseOfMoreThan150MsInsideTheAnswerEndsTheRead) {
  SimulatedForm t;
  t.line.faults().pause = Millis(200);
  t.line.faults().pause_after = 10;
  SendQuery(t);
  ASSERT_TRUE(t.RunToCompletion());
  const auto frames = t.WireFrames();
  const auto reads = t.line.Reads();
  ASSERT_GE(reads.size(), 1u);
  EXPECT_EQ(reads[0].bytes.size(), 10u);
  // The completion validates what the last hand-over left: the first 10 bytes, of
  // which the validator keeps the last 4 after its 6 attempts.
  EXPECT_EQ(t.Completions()[0], reads[0].end + Millis(5));
  EXPECT_EQ(t.LogLines(), (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ",
                                                    "RX : F7 00 04 00 ", kCrcErrorLine}));
  t.RunUntilIdle();
  // The rest of the answer came after the close.
  EXPECT_EQ(t.line.LostBytes(), 11u);
}

TEST(ExchangeArrival, AFailedReadHandsNothingOver) {
  SimulatedForm t;
  t.device.FailAlways("Read", EIO);
  SendQuery(t);
  t.AdvanceMs(499);
  // Bytes came and every read failed: FrameBuffer, ReceivedCount and Timer_Rx as
  // the sender left them.
  EXPECT_GT(t.device.Count("Read"), 0);
  EXPECT_EQ(t.state().ReceivedCount, 0);
  EXPECT_EQ(Bytes(t.state().FrameBuffer.begin(), t.state().FrameBuffer.begin() + 8), kQuery);
  EXPECT_EQ(t.w().Timer_Rx.Interval(), 500);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.NowMs(), 500);
  EXPECT_EQ(t.LogLines().back(), kTimeOutLine);
}

TEST(ExchangeArrival, AReadCutShortByTheCloseOfATimeOutHandsNothingOver) {
  // The answer starts just before the 500 ms time-out and is still coming when the
  // completion closes the port.
  SimulatedForm t;
  t.line.faults().extra_delay = Millis(480);
  SendQuery(t);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.NowMs(), 500);
  EXPECT_EQ(t.LogLines().back(), kTimeOutLine);
  ASSERT_EQ(t.line.Reads().size(), 1u);
  EXPECT_EQ(t.line.Reads()[0].error, ECANCELED);
  t.RunUntilIdle();
  EXPECT_GT(t.line.LostBytes(), 0u);
  EXPECT_TRUE(t.Completions().size() == 1u);
  EXPECT_EQ(t.state().ReceivedCount, 0);
}

// Puts the window in the state a stopped bus search leaves: SessionMode 0 with the
// port still open from the probes, no exchange in flight.
void OpenPortLikeAStoppedSearch(SimulatedForm& t) {
  t.line.faults().silent = true;
  t.state().SessionMode = 254;
  t.Do([&] { t.w().SendReadRegisters(0, 1, t.w().TeMemo1); });
  ASSERT_TRUE(t.RunToCompletion());  // its window closes silently, the port stays open
  t.state().SessionMode = 0;
  t.RunUntilIdle();  // the step timer fires and finds SessionMode 0
  ASSERT_TRUE(t.w().ComPort1().Connected());
  ASSERT_FALSE(t.w().Timer_Rx.Enabled());
}

TEST(ExchangeArrival, BytesArrivingInIdleAreHandedOverAndBringACompletionOfTheirOwn) {
  SimulatedForm t;
  OpenPortLikeAStoppedSearch(t);
  // From 247, the address of the last request (an answer from another one is told as
  // such: ExchangeAddress tests).
  const Bytes answer = WithCrc({0xF7, 0x03, 0x02, 0x00, 0x10});
  t.line.Inject(answer);
  ASSERT_TRUE(t.RunToCompletion());
  const sim::ReadRecord read = t.line.Reads().back();
  EXPECT_EQ(read.bytes, answer);
  EXPECT_EQ(t.Completions().back(), read.end + Millis(5));
  // PendingOp 0: function 3 gets no follow-up, only "ОК."; the completion closes the
  // port that the search had left open.
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : F7 03 00 00 00 01 90 9C ", RxLine(answer), kOkLine}));
  EXPECT_FALSE(t.w().ComPort1().Connected());
}

TEST(ExchangeArrival, ASenderBeforeTheCompletionOfIdleBytesOverwritesTheRequestAndTheSettling) {
  SimulatedForm t;
  OpenPortLikeAStoppedSearch(t);
  t.line.Inject({0x05, 0x03, 0x02, 0x00, 0x10, 0x48, 0x48});
  ASSERT_TRUE(t.RunUntil([&] { return t.state().ReceivedCount != 0; }));
  ASSERT_EQ(t.w().Timer_Rx.Interval(), 5);
  // A probe goes out 2 ms later, inside the 5 ms.
  t.AdvanceMs(2);
  t.state().SessionMode = 254;
  t.state().DeviceAddress = 6;
  t.Do([&] { t.w().SendReadRegisters(0, 1, t.w().TeMemo1); });
  const long sent = t.NowMs();
  EXPECT_EQ(Bytes(t.state().FrameBuffer.begin(), t.state().FrameBuffer.begin() + 8),
            (Bytes{0x06, 0x03, 0x00, 0x00, 0x00, 0x01, 0x85, 0xBD}));
  EXPECT_EQ(t.state().ReceivedCount, 7);  // kept: never cleared by a sender
  EXPECT_EQ(t.w().Timer_Rx.Interval(), 150);
  ASSERT_TRUE(t.RunToCompletion());
  // The probe's window replaced the 5 ms: the completion comes 150 ms after the send.
  EXPECT_EQ(t.NowMs() - sent, 150);
  t.state().SessionMode = 0;
}

TEST(ExchangeArrival, TheReadLimitIsTakenOnceWhenTheReadBegins) {
  SimulatedForm t;
  OpenPortLikeAStoppedSearch(t);
  ASSERT_EQ(t.state().ReadLimit, 19);
  t.line.Inject(Bytes(25, 0x22));
  t.AdvanceMs(5);  // the read began with the first byte and collects
  // A sender stores a new limit while the read runs.
  t.state().SessionMode = 254;
  t.Do([&] { t.w().SendReadRegisters(0, 8, t.w().TeMemo1); });
  EXPECT_EQ(t.state().ReadLimit, 33);
  ASSERT_TRUE(t.RunUntil([&] { return !t.line.Reads().empty(); }));
  EXPECT_EQ(t.line.Reads()[0].limit, 19);
  EXPECT_EQ(t.line.Reads()[0].bytes.size(), 19u);
  // The next read, begun after the send, takes the new one.
  ASSERT_TRUE(t.RunUntil([&] { return t.line.Reads().size() >= 2; }));
  EXPECT_EQ(t.line.Reads()[1].limit, 33);
  t.state().SessionMode = 0;
}

TEST(ExchangeArrival, AHandOverWhileAHandlerRunsWaitsForItToReturn) {
  // The interface-change dialog runs inside a completion; time passes while it is
  // open. Here a handler of the test stands for it: bytes read meanwhile are handed
  // over only when it returns.
  SimulatedForm t;
  OpenPortLikeAStoppedSearch(t);
  t.line.Inject({0x05, 0x03, 0x02, 0x00, 0x10, 0x48, 0x48});
  std::uint16_t count_inside = 99;
  t.Do([&] {
    t.AdvanceMs(300);  // the read returns inside
    count_inside = t.state().ReceivedCount;
  });
  EXPECT_EQ(count_inside, 0);
  EXPECT_EQ(t.state().ReceivedCount, 7);
  EXPECT_TRUE(t.w().Timer_Rx.Enabled());
}

}  // namespace
}  // namespace ornat::testing
