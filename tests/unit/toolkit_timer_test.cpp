#include <gtest/gtest.h>

#include <vector>

#include "runtime/handler_gate.h"
#include "runtime/virtual_scheduler.h"
#include "ui/toolkit/dialogs.h"
#include "ui/toolkit/timer.h"

namespace ornat {
namespace {

struct TimerFixture : ::testing::Test {
  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  VirtualScheduler clock;
  std::vector<long> fired_at;  // ms
  TTimer timer{"T", clock, gate, 20, false};
  void SetUp() override {
    timer.SetOnTimer([this](TObject*) { fired_at.push_back(clock.Now().count() / 1000); });
  }
};

TEST_F(TimerFixture, AnEnabledTimerRepeatsEveryIntervalUntilDisabled) {
  timer.SetEnabled(true);
  clock.AdvanceMs(65);
  EXPECT_EQ(fired_at, (std::vector<long>{20, 40, 60}));
  timer.SetEnabled(false);
  clock.AdvanceMs(100);
  EXPECT_EQ(fired_at.size(), 3u);
}

TEST_F(TimerFixture, EnablingAnEnabledTimerChangesNothing) {
  timer.SetEnabled(true);
  clock.AdvanceMs(15);
  timer.SetEnabled(true);
  clock.AdvanceMs(5);
  EXPECT_EQ(fired_at, (std::vector<long>{20}));
}

TEST_F(TimerFixture, EnablingADisabledTimerStartsAFreshCountdown) {
  timer.SetEnabled(true);
  clock.AdvanceMs(15);
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  clock.AdvanceMs(30);
  EXPECT_EQ(fired_at, (std::vector<long>{35}));
}

TEST_F(TimerFixture, ADifferentIntervalRestartsAnEnabledTimerAndTheSameOneDoesNot) {
  timer.SetInterval(500);
  timer.SetEnabled(true);
  clock.AdvanceMs(100);
  timer.SetInterval(500);  // same: keeps counting
  clock.AdvanceMs(100);
  timer.SetInterval(5);  // different: restarts at 5 ms from now
  clock.AdvanceMs(6);
  EXPECT_EQ(fired_at, (std::vector<long>{205}));
}

TEST_F(TimerFixture, ADisabledTimerTakesANewIntervalWithoutFiring) {
  timer.SetInterval(5);
  clock.AdvanceMs(50);
  EXPECT_TRUE(fired_at.empty());
  timer.SetEnabled(true);
  clock.AdvanceMs(5);
  EXPECT_EQ(fired_at, (std::vector<long>{55}));
}

TEST_F(TimerFixture, ATimerWithoutHandlerOrWithIntervalZeroNeverFires) {
  TTimer bare{"bare", clock, gate, 20, true};
  clock.AdvanceMs(100);
  timer.SetInterval(0);
  timer.SetEnabled(true);
  clock.AdvanceMs(100);
  EXPECT_TRUE(fired_at.empty());
}

TEST_F(TimerFixture, AHandlerThatDisablesItsTimerGetsOneFiringPerArming) {
  timer.SetOnTimer([this](TObject* s) {
    static_cast<TTimer*>(s)->SetEnabled(false);
    fired_at.push_back(clock.Now().count() / 1000);
  });
  timer.SetEnabled(true);
  clock.AdvanceMs(100);
  timer.SetEnabled(true);
  clock.AdvanceMs(100);
  EXPECT_EQ(fired_at, (std::vector<long>{20, 120}));
}

TEST_F(TimerFixture, FiringsThatComeDueWhileAHandlerRunsAreHeldUntilItReturns) {
  std::vector<std::string> order;
  timer.SetOnTimer([&](TObject* s) {
    static_cast<TTimer*>(s)->SetEnabled(false);
    order.push_back("timer at " + std::to_string(clock.Now().count() / 1000));
  });
  timer.SetEnabled(true);
  gate.Enter([&] {
    order.push_back("handler starts");
    clock.AdvanceMs(100);  // a modal dialog's loop would keep the clock running
    order.push_back("handler ends");
  });
  EXPECT_EQ(order, (std::vector<std::string>{"handler starts", "handler ends", "timer at 100"}));
}

TEST_F(TimerFixture, AHeldFiringOfATimerStoppedMeanwhileIsDropped) {
  timer.SetEnabled(true);
  gate.Enter([&] {
    clock.AdvanceMs(30);
    timer.SetEnabled(false);
  });
  EXPECT_TRUE(fired_at.empty());
}

TEST_F(TimerFixture, HeldFiringsOfOneTimerDoNotPileUp) {
  timer.SetEnabled(true);
  gate.Enter([&] { clock.AdvanceMs(200); });  // ten periods pass inside
  EXPECT_EQ(fired_at.size(), 1u);
}

TEST(HandlerGate, SendsAnEscapingExceptionToTheReportAndGoesOn) {
  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  gate.Enter([] { throw std::runtime_error("Unable to open com port"); });
  bool ran = false;
  gate.Enter([&] { ran = true; });
  EXPECT_EQ(dialogs.exceptions, (std::vector<std::string>{"Unable to open com port"}));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(gate.Busy());
}

TEST(HandlerGate, HeldWorkRunsInTheOrderItCame) {
  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  std::vector<int> order;
  gate.Enter([&] {
    gate.Enter([&] { order.push_back(2); });
    gate.Enter([&] { order.push_back(3); });
    order.push_back(1);
  });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(VirtualScheduler, RunsDueTasksInTimeOrderWithTheClockAtEachDueTime) {
  VirtualScheduler clock;
  std::vector<std::pair<int, long>> seen;
  clock.ScheduleAfter(Millis(30), [&] { seen.emplace_back(3, clock.Now().count()); });
  clock.ScheduleAfter(Millis(10), [&] {
    seen.emplace_back(1, clock.Now().count());
    clock.ScheduleAfter(Millis(5), [&] { seen.emplace_back(2, clock.Now().count()); });
  });
  auto cancelled = clock.ScheduleAfter(Millis(20), [&] { seen.emplace_back(99, 0); });
  clock.Cancel(cancelled);
  clock.AdvanceMs(40);
  EXPECT_EQ(seen, (std::vector<std::pair<int, long>>{{1, 10000}, {2, 15000}, {3, 30000}}));
  EXPECT_EQ(clock.Now(), Millis(40));
}

}  // namespace
}  // namespace ornat
