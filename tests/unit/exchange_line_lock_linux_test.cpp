// The window's hold of its line, on the virtual clock: a send that another program's
// hold refuses is a port error naming that program, and opens nothing; the window's own
// hold lasts from a send to its completion, and for as long as its cyclic query runs.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "support/line_taker.h"
#include "support/line_texts.h"
#include "support/platform_errors.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

using Outcome = LineLock::Outcome;

struct Recorder : ExchangeObserver {
  void ExchangeEnded(const ExchangeRecord& r) override { records.push_back(r); }
  std::vector<ExchangeRecord> records;
};

TEST(ExchangeLineLock, AnotherProgramsHoldRefusesTheSendAsAPortThatItHoldsAndOpensNothing) {
  PrivateRuntimeDir runtime;
  LineTaker other("COM1", "ornat-cli watch --port COM1");
  ASSERT_EQ(other.Report().outcome, Outcome::kTaken);
  SimulatedForm t(true, true);
  Recorder seen;
  t.exchanges.Add(&seen);
  t.Click(t.w().TeButton5);
  const std::string holder =
      "ornat-cli watch --port COM1 (pid " + std::to_string(other.pid()) + ")";
  EXPECT_EQ(t.LogLines(), (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ", "RX :",
                                                    kPortErrorCom1, "   : held by " + holder}));
  EXPECT_EQ(t.w().TeMemo1.FontColor(), 16711680u);
  EXPECT_EQ(t.device.Count("Open"), 0);
  EXPECT_FALSE(t.w().Timer_Rx.Enabled());
  ASSERT_EQ(seen.records.size(), 1u);
  const ExchangeRecord& r = seen.records[0];
  EXPECT_EQ(r.end, ExchangeRecord::End::kSendFailed);
  EXPECT_EQ(r.failure_code, 1);
  EXPECT_EQ(r.failure_errno, EBUSY);
  EXPECT_EQ(r.failure_holders,
            (std::vector<PortHolder>{{other.pid(), "ornat-cli watch --port COM1"}}));
  EXPECT_EQ(r.failure, "Unable to open com port (win error code: 16); held by " + holder +
                           ": Device or resource busy");
}

TEST(ExchangeLineLock, TheWindowHoldsItsLineFromASendToItsCompletionAndWhileItsCyclicQueryRuns) {
  PrivateRuntimeDir runtime;
  SimulatedForm t(true, true);
  // A single query: free again once it has completed.
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_EQ(LineTaker("COM1", "other").Report().outcome, Outcome::kTaken);
  // The cyclic query: held between its exchanges, free as soon as "СТОП" is pressed.
  t.Click(t.w().TeCheckBox1);
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  t.AdvanceMs(100);  // between two queries: the port is closed, the next due in 400 ms
  ASSERT_FALSE(t.w().ComPort1().Connected());
  const LineHolder window{::getpid(), ThisProgramName() + ": cyclic query"};
  EXPECT_EQ(LineTaker("/dev/COM1", "other").Report().holder, window);
  // A send that fails halts the sequence, which still runs until "СТОП" is pressed.
  t.device.FailNext("Open", Errors().no_device);
  t.AdvanceMs(400);
  ASSERT_EQ(t.LogLines().back(), kPortErrorCom1);
  EXPECT_EQ(LineTaker("COM1", "other").Report().holder, window);
  t.Click(t.w().TeButton5);  // "СТОП"
  EXPECT_EQ(LineTaker("COM1", "other").Report().outcome, Outcome::kTaken);
}

}  // namespace
}  // namespace ornat::testing
