#include "modbus/exchange_observer.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "detector/register_map.h"
#include "support/line_texts.h"
#include "support/platform_errors.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using testing::SimulatedForm;

struct Recorder : ExchangeObserver {
  void ExchangeEnded(const ExchangeRecord& r) override { records.push_back(r); }
  std::vector<ExchangeRecord> records;
};

struct Observed {
  Observed() { t.exchanges.Add(&seen); }
  SimulatedForm t;
  Recorder seen;
};

TEST(ExchangeObserver, IsToldOfAQueryWithItsBytesLogAndTimes) {
  Observed o;
  o.t.Click(o.t.w().TeButton5);
  ASSERT_TRUE(o.t.RunUntilIdle());
  ASSERT_EQ(o.seen.records.size(), 1u);
  const ExchangeRecord& r = o.seen.records[0];
  EXPECT_EQ(r.end, ExchangeRecord::End::kCompleted);
  EXPECT_EQ(r.sender, ExchangeSender::kRead);
  EXPECT_FALSE(r.searching);
  EXPECT_EQ(r.request, (std::vector<std::uint8_t>{0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A}));
  ASSERT_EQ(r.reads.size(), 1u);
  EXPECT_EQ(r.Answer(), o.t.WireFrames()[1].bytes);
  EXPECT_EQ(r.port, "COM1");
  EXPECT_EQ(r.bit_rate, 9600);
  EXPECT_EQ(r.log, o.t.LogLines());
  EXPECT_EQ(OperationName(r), "query");
  // Told at the completion: 5 ms after the read that ended 150 ms after the last byte.
  EXPECT_EQ(r.ended, o.t.Completions()[0]);
  EXPECT_EQ(r.ended, o.t.WireFrames()[1].last + Millis(155));
}

TEST(ExchangeObserver, ATimeOutEndsAfterTheResponseTimeoutWithNothingRead) {
  Observed o;
  o.t.line.faults().silent = true;
  o.t.Click(o.t.w().TeButton5);
  ASSERT_TRUE(o.t.RunUntilIdle());
  ASSERT_EQ(o.seen.records.size(), 1u);
  const ExchangeRecord& r = o.seen.records[0];
  EXPECT_TRUE(r.reads.empty());
  EXPECT_EQ(r.ended - r.started, Millis(500));
  EXPECT_EQ(r.log.back(), "   : TIME OUT.");
}

TEST(ExchangeObserver, AFailedSendIsToldAtOnceWithItsReason) {
  Observed o;
  o.t.device.FailNext("Open", testing::Errors().no_device);
  o.t.Click(o.t.w().TeButton5);
  ASSERT_EQ(o.seen.records.size(), 1u);
  const ExchangeRecord& r = o.seen.records[0];
  EXPECT_EQ(r.end, ExchangeRecord::End::kSendFailed);
  EXPECT_EQ(r.log.back(), "   : ОШИБКА ОТКРЫТИЯ ПОРТА COM1");
  EXPECT_NE(r.failure.find(testing::Errors().no_device_text), std::string::npos) << r.failure;
  EXPECT_FALSE(o.t.w().Working());
}

TEST(ExchangeObserver, TellsTheBytesAsReadNotAsTheValidatorLeftThem) {
  Observed o;
  o.t.line.faults().echo_request = true;  // the request comes back before the answer
  o.t.Click(o.t.w().TeButton5);
  ASSERT_TRUE(o.t.RunUntilIdle());
  ASSERT_EQ(o.seen.records.size(), 1u);
  const ExchangeRecord& r = o.seen.records[0];
  ASSERT_EQ(r.reads.size(), 1u);
  // Echo and answer as they came; the log shows the answer the validator found.
  std::vector<std::uint8_t> wire;
  for (const auto& f : o.t.WireFrames())
    if (f.direction == sim::WireDirection::kFromDetector)
      wire.insert(wire.end(), f.bytes.begin(), f.bytes.end());
  EXPECT_EQ(r.AllBytes(), wire);
  EXPECT_EQ(r.AllBytes().size(), 8u + 21u);
  EXPECT_EQ(r.log[1].rfind("RX : F7 03 10 ", 0), 0u) << r.log[1];
  EXPECT_EQ(r.log.back(), testing::kOkLine);
}

TEST(ExchangeObserver, NamesEachOperationAfterWhatTheWindowDoesWithIt) {
  struct Case {
    std::vector<std::uint8_t> request;
    ExchangeSender sender;
    bool searching;
    const char* name;
  } cases[] = {
      {{0xF7, 3, 0, 0, 0, 8}, ExchangeSender::kRead, false, "query"},
      {{0x05, 3, 0, 0, 0, 1}, ExchangeSender::kRead, true, "probe"},
      {{0x05, 3, 0, 0, 0, 1}, ExchangeSender::kRead, false, "read"},
      {{0xF7, 3, 0xF0, 0, 0, 10}, ExchangeSender::kRead, false, "service-read"},
      {{0xF7, 3, 0xF3, 0, 0, 2}, ExchangeSender::kRead, false, "service-read"},
      {{0xF7, 6, 0, 1, 0, 5}, ExchangeSender::kWrite, false, "address"},
      {{0xF7, 6, 0, 1, 0, 0xF7}, ExchangeSender::kWriteToFixedAddress, false, "reset-step-1"},
      {{0xF7, 6, 0, 2, 0, 4}, ExchangeSender::kWriteToFixedAddress, false, "reset-step-2"},
      {{0xF7, 6, 0, 2, 0, 6}, ExchangeSender::kWrite, false, "baud"},
      {{0xF7, 6, 0, 4, 0, 3}, ExchangeSender::kWrite, false, "tactic"},
      {{0xF7, 6, 0, 5, 0, 1}, ExchangeSender::kWrite, false, "latching"},
      {{0xF7, 6, 0, 6, 0xAA, 0x55}, ExchangeSender::kWrite, false, "alarm-reset"},
      {{0xF7, 6, 0, 7, 0, 1}, ExchangeSender::kWrite, false, "test"},
      {{0xF7, 6, 0, 9, 0, 1}, ExchangeSender::kWrite, false, "write"},
      {{}, ExchangeSender::kRead, true, "idle"},
  };
  for (const Case& c : cases) {
    ExchangeRecord r;
    r.request = c.request;
    r.sender = c.sender;
    r.searching = c.searching;
    EXPECT_EQ(OperationName(r), c.name);
  }
}

TEST(ExchangeObserver, ListTellsEveryObserverAndForgetsOneRemoved) {
  ExchangeObserverList list;
  Recorder a, b;
  list.Add(&a);
  list.Add(&b);
  list.Add(nullptr);
  list.ExchangeEnded({});
  list.Remove(&a);
  list.ExchangeEnded({});
  EXPECT_EQ(a.records.size(), 1u);
  EXPECT_EQ(b.records.size(), 2u);
}

// Working(): what a front end without a window waits for.
TEST(Working, HoldsWhileAnExchangeOrASequenceGoesOnByItself) {
  SimulatedForm t;
  TForm1& w = t.w();
  EXPECT_FALSE(w.Working());
  t.Click(w.TeButton5);  // a single query
  EXPECT_TRUE(w.Working());
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_FALSE(w.Working());

  t.Click(w.TeButton2);  // the interface reset: two exchanges 20 ms apart
  bool between = false;
  ASSERT_TRUE(t.RunUntil([&] {
    if (t.state().SessionMode == kSessionResetStep2 && !w.Timer_Rx.Enabled())
      between = between || w.Working();
    return t.Requests().size() == 3 && !w.Timer_Rx.Enabled();
  }));
  EXPECT_TRUE(between);
  EXPECT_FALSE(w.Working());

  t.Click(w.TeCheckBox1);  // "В ЦИКЛЕ"
  t.Click(w.TeButton5);    // the cyclic query
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_TRUE(w.Working());  // the next query is due in 500 ms
  t.Click(w.TeButton5);      // "СТОП"
  EXPECT_FALSE(w.Working());
}

TEST(Working, EndsWhenAFailedSendEndsASequence) {
  SimulatedForm t;
  TForm1& w = t.w();
  t.device.FailNext("Open", ENOENT);
  t.Click(w.TeButton2);
  ASSERT_TRUE(t.RunUntil([&] { return !w.Working(); }));
  // Step 1 could not be sent: the reset ends with nothing armed.
  EXPECT_EQ(t.state().SessionMode, kSessionIdle);
  EXPECT_TRUE(t.Requests().empty());
}

TEST(Working, HoldsWhileTheEndOfASearchWaitsForAnAnswerBeingRead) {
  // At 1200 bit/s with 100 ms windows the answer of 247 is still being read when the
  // probe to 248 fails: nothing is armed, yet the search is not over.
  SimulatedForm t(false);
  t.line.detector(t.line.AddDetector(247)).SetSpeedCode(1);
  TForm1& w = t.w();
  t.Click(w.BR_1200);
  t.SelectSearchDelay(100);
  t.Click(w.CustomItem5);
  ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 248; }, Millis(200'000)));
  EXPECT_FALSE(w.Timer_Programm.Enabled());
  EXPECT_FALSE(w.Timer_Rx.Enabled());
  EXPECT_TRUE(w.Working());
  ASSERT_TRUE(t.RunUntil([&] { return !w.Working(); }));
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(t.state().DeviceAddress, 247);
  EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
}

}  // namespace
}  // namespace ornat
