// The outcome of an exchange as its log lines tell it, which ornat-cli's exit status,
// the journal and the survey go by.

#include "modbus/exchange_outcome.h"

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
    r.log = {"TX : 0F 03 00 00 00 01 85 24 ", "RX : ", kOkLine};
    SCOPED_TRACE(&c - cases);
    EXPECT_EQ(SeveralAnswerers(r.AllBytes()).value_or(0), c.several);
    EXPECT_STREQ(OutcomeName(OutcomeOf(r)), c.several != 0 ? "several-devices" : "ok");
  }
}

}  // namespace
}  // namespace ornat
