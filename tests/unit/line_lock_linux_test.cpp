// The line lock between processes: of takers that start at one instant exactly one wins
// and the others are told who it is and what it runs; takes within a process are
// counted; every spelling of a line meets; a line goes with its holder killed. The
// window's hold on the virtual clock: a send refused by another holder is a port error
// naming it; its own hold lasts from a send to its completion, and while a sequence runs.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <list>

#include "support/line_taker.h"
#include "support/line_texts.h"
#include "support/platform_errors.h"
#include "support/simulated_form.h"
#include "support/virtual_port_lock.h"

namespace ornat::testing {
namespace {

using Outcome = LineLock::Outcome;

TEST(LineLock, OfTakersStartedAtOneInstantExactlyOneWinsAndTheOthersNameIt) {
  PrivateRuntimeDir runtime;
  for (int round = 0; round < 5; ++round) {
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::list<LineTaker> takers;
    for (int i = 0; i < 6; ++i)
      takers.emplace_back("ttyS9", "taker " + std::to_string(i), start[0]);
    ASSERT_EQ(::write(start[1], "gogogo", 6), 6);  // a byte each: all go at once
    ::close(start[0]);
    ::close(start[1]);
    std::vector<LineHolder> winners;
    int i = 0;
    for (LineTaker& t : takers) {
      if (t.Report().outcome == Outcome::kTaken)
        winners.push_back({t.pid(), "taker " + std::to_string(i)});
      ++i;
    }
    ASSERT_EQ(winners.size(), 1u) << "round " << round;
    for (LineTaker& t : takers)
      EXPECT_TRUE(t.Report().outcome == Outcome::kTaken || t.Report().holder == winners[0]);
  }
}

TEST(LineLock, TakesWithinAProcessAreCountedAndAForkedChildHoldsNone) {
  PrivateRuntimeDir runtime;
  LineLock command, exchange;
  ASSERT_EQ(command.Take("ttyS9", "ornat-cli watch --port ttyS9"), Outcome::kTaken);
  ASSERT_EQ(exchange.Take("/dev/ttyS9", "ornat-cli: query"), Outcome::kTaken);
  const LineHolder us{::getpid(), "ornat-cli watch --port ttyS9"};  // the first take's
  EXPECT_EQ(LineTaker("ttyS9", "child").Report().holder, us);
  command.Release();
  EXPECT_EQ(LineTaker("ttyS9", "child").Report().holder, us);
  exchange.Release();
  EXPECT_EQ(LineTaker("ttyS9", "child").Report().outcome, Outcome::kTaken);
}

TEST(LineLock, EverySpellingOfALineMeetsOnOneLockWhichGoesWithItsHolderKilled) {
  PrivateRuntimeDir runtime;
  HeldRegistration sim(runtime.path() + "/ornat/ports", "ornat-sim", "/dev/null");
  ASSERT_TRUE(sim.Held());
  std::filesystem::create_symlink("/dev/null", runtime.path() + "/by-id");
  for (const std::string& spelling :
       {std::string("null"), std::string("ornat-sim"), runtime.path() + "/by-id"})
    EXPECT_EQ(LineIdentity(spelling), "/dev/null") << spelling;
  LineTaker other("ornat-sim", "ornat: cyclic query");
  ASSERT_EQ(other.Report().outcome, Outcome::kTaken);
  LineLock mine;
  EXPECT_EQ(mine.Take("/dev/null", "test"), Outcome::kInUse);
  EXPECT_EQ(LineHolderText(mine.Holder()),
            "ornat: cyclic query (pid " + std::to_string(other.pid()) + ")");
  EXPECT_EQ(mine.Take("zero", "test"), Outcome::kTaken);  // another line
  other.Kill();                                           // SIGKILL: no chance to let go
  EXPECT_EQ(mine.Take("null", "test"), Outcome::kTaken);
}

struct Recorder : ExchangeObserver {
  void ExchangeEnded(const ExchangeRecord& r) override { records.push_back(r); }
  std::vector<ExchangeRecord> records;
};

TEST(ExchangeLineLock, AnotherHolderRefusesASendAndTheWindowHoldsFromSendToEndOfSequence) {
  PrivateRuntimeDir runtime;
  SimulatedForm t(true, true);
  Recorder seen;
  t.exchanges.Add(&seen);
  {
    LineTaker other("COM1", "ornat-cli watch --port COM1");
    ASSERT_EQ(other.Report().outcome, Outcome::kTaken);
    t.Click(t.w().TeButton5);
    EXPECT_EQ(t.LogLines(),
              (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ", "RX :", kPortErrorCom1,
                                        "   : held by ornat-cli watch --port COM1 (pid " +
                                            std::to_string(other.pid()) + ")"}));
    EXPECT_EQ(t.device.Count("Open"), 0);
    ASSERT_EQ(seen.records.size(), 1u);
    EXPECT_EQ(seen.records[0].failure_errno, EBUSY);
    EXPECT_EQ(seen.records[0].failure_holders,
              (std::vector<PortHolder>{{other.pid(), "ornat-cli watch --port COM1"}}));
  }
  // A single query: free again once it has completed.
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(LineTaker("COM1", "other").Report().outcome, Outcome::kTaken);
  // The cyclic query: held between its exchanges, until a failed send ends it.
  t.Click(t.w().TeCheckBox1);
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion());
  t.AdvanceMs(100);  // between two queries: the port is closed, the next due in 400 ms
  const LineHolder window{::getpid(), ThisProgramName() + ": cyclic query"};
  EXPECT_EQ(LineTaker("/dev/COM1", "other").Report().holder, window);
  t.device.FailNext("Open", Errors().no_device);
  t.AdvanceMs(400);
  ASSERT_EQ(t.LogLines().back(), kPortErrorCom1);
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_EQ(LineTaker("COM1", "other").Report().outcome, Outcome::kTaken);
}

}  // namespace
}  // namespace ornat::testing
