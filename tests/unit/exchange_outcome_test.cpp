// The outcome of an exchange as the engine notes it with each message line it writes,
// which ornat-cli's exit status, the journal and the survey go by.

#include "modbus/exchange_outcome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "modbus/answer_scan.h"
#include "support/eventually.h"
#include "support/exchange_recorder.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using namespace testing;

TEST(ExchangeOutcome, AnExchangeWhoseLogEndsWithALineOfTheCatalogueHasItsOutcome) {
  struct Case {
    const char* name;
    sim::Faults faults;                       // of the detector at 247, for the parameter query
    std::function<void(SimulatedForm&)> act;  // instead of the query
    std::vector<std::string> last_lines;      // of the log of the last exchange
    const char* outcome;
  } cases[] = {
      {"answered", {}, {}, {kOkLine}, "ok"},
      {"no answer", {.silent = true}, {}, {"RX :", kTimeOutLine}, "time-out"},
      {"the port cannot be opened",
       {},
       [](SimulatedForm& t) {
         t.device.FailNext("Open", ENOENT);
         t.Click(t.w().TeButton5);
       },
       {"RX :", kPortErrorCom1},
       "port-error"},
      // The window shows the time-out it always shows; the record knows the line went.
      {"the line lost while the answer is awaited",
       {.silent = true},
       [](SimulatedForm& t) {
         t.Click(t.w().TeButton5);
         ASSERT_TRUE(t.RunUntil([&] { return !t.Requests().empty(); }));
         t.line.HangUp();
         // The event thread, a real one, ends at the failed wait before time goes on.
         ASSERT_TRUE(Eventually([&] { return t.w().ComPort1().EventWaitFailure() != 0; }));
       },
       {"RX :", kTimeOutLine},
       "port-error"},
      {"a CRC that fails", {.bad_crc_probability = 1}, {}, {kCrcErrorLine}, "crc-error"},
      {"answered as 4", {.answer_from = 4}, {}, {kWrongAddressPrefix + "004"}, "wrong-address"},
      {"answered as 0", {.answer_from = 0}, {}, {kWrongAddressPrefix + "000"}, "wrong-address"},
      {"an exception", {.forced_exception = 2}, {}, {kErrorLine}, "exception"},
      {"another identity",
       {},
       [](SimulatedForm& t) {
         t.line.detector().SetIdentity(0x0011);
         t.Click(t.w().TeButton5);
       },
       {kWrongIdLine},
       "wrong-identity"},
      {"three registers", {.query_registers = 3}, {}, {kWrongLengthLine}, "wrong-length"},
      {"a reset whose first step went unanswered",
       {},
       [](SimulatedForm& t) {
         t.line.faults().silent = true;
         t.Click(t.w().TeButton2);
         ASSERT_TRUE(t.RunToCompletion());
         t.line.faults().silent = false;
       },
       {kResetErrorLine, kOkLine},
       "reset-error"},
      {"a reset",
       {},
       [](SimulatedForm& t) { t.Click(t.w().TeButton2); },
       {kResetOkLine, kOkLine},
       "ok"},
      {"a search's probe that got nothing",
       {.silent = true},
       [](SimulatedForm& t) {
         t.Click(t.w().CustomItem5);
         ASSERT_TRUE(t.RunToCompletion());
         t.Click(t.w().CustomItem5);  // "Stop"
       },
       {"TX : 01 03 00 00 00 01 84 0A ", "RX :"},
       "none"},
      // Both lines of the catalogue: the worse one is the outcome. One attempt on 5
      // bytes drops the first; byte 1 of what is left is 0x83.
      {"an exception whose CRC fails",
       {},
       [](SimulatedForm& t) {
         t.line.ScriptAnswer({0x11, 0x22, 0x83, 0x44, 0x55});
         t.Click(t.w().TeButton5);
       },
       {kErrorLine, kCrcErrorLine},
       "crc-error"},
      // The search's own line is none of the catalogue's outcomes.
      {"a search's hit",
       {},
       [](SimulatedForm& t) {
         t.line.detector().SetRegister(sim::kRegAddress, 1);
         t.Click(t.w().CustomItem5);
       },
       {kFoundPrefix + "001", kOkLine},
       "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t;
    ExchangeRecorder rec(t.exchanges);
    t.line.faults() = c.faults;
    if (c.act)
      c.act(t);
    else
      t.Click(t.w().TeButton5);
    ASSERT_TRUE(t.RunUntilIdle());
    ASSERT_FALSE(rec.records.empty());
    const ExchangeRecord& r = rec.records.back();
    ASSERT_GE(r.log.size(), c.last_lines.size());
    EXPECT_EQ(
        std::vector<std::string>(r.log.end() - static_cast<long>(c.last_lines.size()), r.log.end()),
        c.last_lines);
    EXPECT_STREQ(OutcomeName(r.outcome), c.outcome);
  }
}

TEST(ExchangeOutcome, TheWorseOfTwoLinesDecides) {
  // From the worst down.
  const ExchangeOutcome order[] = {ExchangeOutcome::kSeveralDevices,
                                   ExchangeOutcome::kPortError,
                                   ExchangeOutcome::kCrcError,
                                   ExchangeOutcome::kWrongAddress,
                                   ExchangeOutcome::kException,
                                   ExchangeOutcome::kWrongId,
                                   ExchangeOutcome::kWrongLength,
                                   ExchangeOutcome::kResetError,
                                   ExchangeOutcome::kTimeOut,
                                   ExchangeOutcome::kOk,
                                   ExchangeOutcome::kNone};
  for (std::size_t i = 0; i < std::size(order); ++i) {
    for (std::size_t j = i; j < std::size(order); ++j) {
      SCOPED_TRACE(std::string(OutcomeName(order[i])) + " " + OutcomeName(order[j]));
      EXPECT_EQ(Worse(order[i], order[j]), order[i]);
      EXPECT_EQ(Worse(order[j], order[i]), order[i]);
    }
  }
}

TEST(ExchangeOutcome, TwoAnswersFromOneAddressAreSeveralDevicesWhateverTheLogSays) {
  using Bytes = std::vector<std::uint8_t>;
  const Bytes a15 = WithCrc({0x0F, 0x03, 0x02, 0x00, 0x10}), b15 = WithCrc({15, 3, 2, 0, 1});
  Bytes anded = a15;  // a15 and b15 met on the wire
  for (std::size_t i = 0; i < anded.size(); ++i) anded[i] &= b15[i];
  const Bytes echo = WithCrc({0x0F, 0x06, 0x00, 0x04, 0x00, 0x03});
  struct Case {
    std::vector<Bytes> reads;
    int several;  // the address, or 0
  } cases[] = {
      {{a15, a15}, 15},
      {{a15, {0x00, 0x7E}, b15}, 15},
      {{a15, anded}, 15},
      {{anded, {0x00}, a15}, 15},
      {{a15, WithCrc({0x10, 0x03, 0x02, 0x00, 0x10})}, 0},  // two addresses
      {{a15, WithCrc({15, 3, 4, 0, 0x10, 0, 0x0F})}, 0},    // answers of two requests
      {{a15, {0x0F, 0x42, 0x99, 0x01, 0x02, 0x03}}, 0},     // noise
      {{anded}, 0},
      {{echo, echo}, 0},  // an echoing adapter's and the detector's
  };
  for (const Case& c : cases) {
    ExchangeRecord r;
    r.reads = c.reads;
    SCOPED_TRACE(&c - cases);
    EXPECT_EQ(SeveralAnswerers(r.AllBytes()).value_or(0), c.several);
    // What the engine sets as the exchange ends, after "   : ОК." was noted.
    EXPECT_STREQ(OutcomeName(EndedOutcome(ExchangeOutcome::kOk, r.AllBytes())),
                 c.several != 0 ? "several-devices" : "ok");
  }
}

}  // namespace
}  // namespace ornat
