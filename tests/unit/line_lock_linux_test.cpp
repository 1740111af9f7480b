// The line lock between processes: of takers that start at one instant exactly one
// wins and the others are told who it is and what it runs; a line goes with its holder
// however that ends; takes within a process are counted; every spelling of a line
// meets on one lock.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "serial/line_lock.h"
#include "support/line_taker.h"
#include "support/virtual_port_lock.h"

namespace ornat::testing {
namespace {

using Outcome = LineLock::Outcome;

TEST(LineLock, OfTakersStartedAtOneInstantExactlyOneWinsAndTheOthersNameIt) {
  PrivateRuntimeDir runtime;
  for (int round = 0; round < 5; ++round) {
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<std::unique_ptr<LineTaker>> takers;
    for (int i = 0; i < 6; ++i)
      takers.push_back(
          std::make_unique<LineTaker>("ttyS9", "taker " + std::to_string(i), start[0]));
    ASSERT_EQ(::write(start[1], "gogogo", 6), 6);  // a byte each: all go at once
    ::close(start[0]);
    ::close(start[1]);
    std::vector<int> winners;
    for (int i = 0; i < 6; ++i) {
      ASSERT_TRUE(takers[i]->Report().came) << i;
      if (takers[i]->Report().outcome == Outcome::kTaken) winners.push_back(i);
    }
    ASSERT_EQ(winners.size(), 1u) << "round " << round;
    const LineHolder winner{takers[winners[0]]->pid(), "taker " + std::to_string(winners[0])};
    for (int i = 0; i < 6; ++i) {
      if (i == winners[0]) continue;
      EXPECT_EQ(takers[i]->Report().outcome, Outcome::kInUse) << i;
      EXPECT_EQ(takers[i]->Report().holder, winner) << i;
    }
  }
}

TEST(LineLock, ALineGoesWithItsHolderWhenItIsKilledOrLetsGo) {
  PrivateRuntimeDir runtime;
  LineTaker other("ttyS9", "ornat: cyclic query");
  ASSERT_EQ(other.Report().outcome, Outcome::kTaken);
  LineLock mine;
  EXPECT_EQ(mine.Take("ttyS9", "ornat-cli query --port ttyS9"), Outcome::kInUse);
  EXPECT_EQ(mine.Holder(), (LineHolder{other.pid(), "ornat: cyclic query"}));
  EXPECT_EQ(LineHolderText(mine.Holder()),
            "ornat: cyclic query (pid " + std::to_string(other.pid()) + ")");
  EXPECT_FALSE(mine.Held());
  other.Kill();  // SIGKILL: no chance to let go
  ASSERT_EQ(mine.Take("ttyS9", "ornat-cli query --port ttyS9"), Outcome::kTaken);
  mine.Release();
  LineTaker next("ttyS9", "next");
  EXPECT_EQ(next.Report().outcome, Outcome::kTaken);
}

TEST(LineLock, TakesWithinAProcessAreCountedAndTheLineGoesWithTheLast) {
  PrivateRuntimeDir runtime;
  LineLock command, exchange;
  ASSERT_EQ(command.Take("ttyS9", "ornat-cli watch --port ttyS9"), Outcome::kTaken);
  ASSERT_EQ(exchange.Take("/dev/ttyS9", "ornat-cli: query"), Outcome::kTaken);
  // A child made by fork() holds nothing of it: its take is refused, naming the first.
  const LineHolder us{::getpid(), "ornat-cli watch --port ttyS9"};
  EXPECT_EQ(LineTaker("ttyS9", "child").Report().holder, us);
  command.Release();
  EXPECT_EQ(LineTaker("ttyS9", "child").Report().holder, us);
  exchange.Release();
  EXPECT_EQ(LineTaker("ttyS9", "child").Report().outcome, Outcome::kTaken);
}

TEST(LineLock, EverySpellingOfALineMeetsOnOneLock) {
  PrivateRuntimeDir runtime;
  const std::string ports = runtime.path() + "/ornat/ports";
  HeldRegistration sim(ports, "ornat-sim", "/dev/null");
  ASSERT_TRUE(sim.Held());
  std::filesystem::create_symlink("/dev/null", runtime.path() + "/by-id-link");
  for (const std::string& spelling :
       {std::string("null"), std::string("/dev/null"), std::string("ornat-sim"),
        runtime.path() + "/by-id-link", std::string("/dev/../dev/null")})
    EXPECT_EQ(LineIdentity(spelling), "/dev/null") << spelling;
  EXPECT_NE(LineIdentity("zero"), LineIdentity("null"));
  // Taken by its registered name, refused by its path; another line is free.
  LineTaker provider("ornat-sim", "ornat-cli survey --port ornat-sim");
  ASSERT_EQ(provider.Report().outcome, Outcome::kTaken);
  LineLock mine;
  EXPECT_EQ(mine.Take("/dev/null", "test"), Outcome::kInUse);
  EXPECT_EQ(mine.Take("zero", "test"), Outcome::kTaken);
}

}  // namespace
}  // namespace ornat::testing
