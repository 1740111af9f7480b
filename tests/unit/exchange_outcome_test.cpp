// The outcome of an exchange as its log lines tell it, which ornat-cli's exit status,
// the journal and the survey go by.

#include "ui/exchange_outcome.h"

#include <gtest/gtest.h>

#include "modbus/answer_scan.h"
#include "modbus/exchange_observer.h"

#include "support/line_texts.h"

namespace ornat {
namespace {

using namespace testing;

TEST(ExchangeOutcome, TheWorstLineOfTheLogDecides) {
  const std::string tx = "TX : 03 03 00 00 00 08 44 2E ";
  const std::string rx = "RX : 04 03 02 00 10 C4 F9 ";
  struct Case {
    std::vector<std::string> log;
    const char* name;
  } cases[] = {
      {{tx, rx, kOkLine}, "ok"},
      {{tx, "RX :", kTimeOutLine}, "time-out"},
      {{tx, "RX :", kPortErrorCom1}, "port-error"},
      {{tx, rx, kCrcErrorLine}, "crc-error"},
      {{tx, rx, kWrongAddressPrefix + "004"}, "wrong-address"},
      {{tx, rx, kWrongAddressPrefix + "000"}, "wrong-address"},
      {{tx, rx, kErrorLine}, "exception"},
      {{tx, rx, kWrongIdLine}, "wrong-identity"},
      {{tx, rx, kWrongLengthLine}, "wrong-length"},
      {{tx, rx, kResetErrorLine, kOkLine}, "reset-error"},
      {{tx, rx, kResetOkLine, kOkLine}, "ok"},
      {{tx, "RX :"}, "none"},
      // Two lines of the catalogue: the worse one is the outcome.
      {{tx, rx, kErrorLine, kCrcErrorLine}, "crc-error"},
      {{tx, rx, kWrongAddressPrefix + "004", kOkLine}, "wrong-address"},
      // Lines that only look alike.
      {{tx, rx, "   : ОТВЕТ С ЧУЖОГО", kOkLine}, "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log.back());
    EXPECT_STREQ(OutcomeName(OutcomeOf(c.log)), c.name);
  }
}

TEST(ExchangeOutcome, TwoAnswersFromOneAddressAreSeveralDevicesWhateverTheLogSays) {
  const std::vector<std::uint8_t> a15 = WithCrc({0x0F, 0x03, 0x02, 0x00, 0x10});
  const std::vector<std::uint8_t> a16 = WithCrc({0x10, 0x03, 0x02, 0x00, 0x10});
  const std::vector<std::uint8_t> alarm15 = WithCrc({0x0F, 0x03, 0x02, 0x00, 0x01});
  std::vector<std::uint8_t> anded = a15;  // a15 and alarm15 met on the wire
  for (std::size_t i = 0; i < anded.size(); ++i) anded[i] &= alarm15[i];
  const std::vector<std::uint8_t> echo = WithCrc({0x0F, 0x06, 0x00, 0x04, 0x00, 0x03});
  auto cat = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  struct Case {
    const char* name;
    std::vector<std::vector<std::uint8_t>> reads;
    int several;  // the address, or 0
  } cases[] = {
      {"two whole answers in one read", {cat({a15, a15})}, 15},
      {"two whole answers in two reads, noise between", {a15, {0x00, 0x7E}, alarm15}, 15},
      {"an answer and a garbled one", {cat({a15, anded})}, 15},
      {"a garbled one, then an answer", {anded, {0x00}, a15}, 15},
      {"answers of two addresses", {cat({a15, a16})}, 0},
      {"an answer and noise", {cat({a15, {0x0F, 0x42, 0x99, 0x01, 0x02, 0x03}})}, 0},
      {"a garbled answer alone", {anded}, 0},
      {"a write's echo twice (an echoing adapter)", {cat({echo, echo})}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExchangeRecord r;
    r.reads = c.reads;
    r.log = {"TX : 0F 03 00 00 00 01 85 24 ", "RX : ", kOkLine};
    EXPECT_EQ(SeveralAnswerers(r.AllBytes()).value_or(0), c.several);
    EXPECT_STREQ(OutcomeName(OutcomeOf(r)), c.several != 0 ? "several-devices" : "ok");
  }
}

}  // namespace
}  // namespace ornat
