// The outcome of an exchange as its log lines tell it, which ornat-cli's exit status,
// the journal and the survey go by.

#include "ui/exchange_outcome.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ornat
