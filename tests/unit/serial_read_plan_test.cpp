// When a read ends under the port's timeouts: the one plan that the POSIX device keeps
// on the steady clock and the simulated line on the virtual one.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "serial/platform/read_plan.h"

namespace ornat {
namespace {

using std::chrono::milliseconds;
using Us = std::chrono::microseconds;

TEST(ReadPlan, EachTimeoutRuleEndsTheReadWhenReadFileWould) {
  const Us start{1'000'000}, last_byte{1'040'000};
  struct Case {
    const char* what;
    CommTimeouts timeouts;
    int count, got;
    bool ends_with_what_is_queued;
    std::optional<Us> deadline;
  } cases[] = {
      {"ComPort1's: 150 ms after the last byte",
       {150, 0, 0, 100, 1000},
       33,
       3,
       false,
       last_byte + milliseconds(150)},
      {"ComPort1's, before any byte: no end", {150, 0, 0, 100, 1000}, 33, 0, false, std::nullopt},
      {"interval MAXDWORD, no totals: what is queued, at once",
       {kMaxDword, 0, 0, 0, 0},
       33,
       0,
       true,
       std::nullopt},
      {"first bytes, one in: done",
       {kMaxDword, kMaxDword, 250, 0, 0},
       33,
       1,
       true,
       start + milliseconds(250)},
      {"first bytes, none yet: the constant from the start",
       {kMaxDword, kMaxDword, 250, 0, 0},
       33,
       0,
       false,
       start + milliseconds(250)},
      {"totals only: 10 ms a byte + 40 from the start",
       {0, 10, 40, 0, 0},
       8,
       2,
       false,
       start + milliseconds(120)},
      {"the interval when it comes first",
       {20, 10, 40, 0, 0},
       8,
       2,
       false,
       last_byte + milliseconds(20)},
      {"the total when it comes first",
       {150, 0, 100, 0, 0},
       8,
       1,
       false,
       start + milliseconds(100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ReadPlan plan = PlanRead(c.timeouts, c.count);
    EXPECT_EQ(plan.EndsWithWhatIsQueued(c.got), c.ends_with_what_is_queued);
    EXPECT_EQ(plan.Deadline(start, last_byte, c.got), c.deadline);
  }
}

}  // namespace
}  // namespace ornat
