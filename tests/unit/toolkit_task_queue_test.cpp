// The order in which every scheduler fires its tasks (TaskQueue), on virtual time, and
// the real-time loop that the command line and the benchmarks run on, which keeps it.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "runtime/handler_gate.h"
#include "runtime/realtime_loop.h"
#include "runtime/task_queue.h"
#include "ui/toolkit/dialogs.h"
#include "ui/toolkit/timer.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;

// Takes out and runs everything due by `now`, in order.
void Drain(TaskQueue<Micros>& q, Micros now) {
  while (auto due = q.TakeDue(now)) {
    EXPECT_LE(due->due, now) << "came out before its time";
    due->task();
  }
}

TEST(TaskQueue, TasksComeOutByDueTimeAndTiesInTheOrderTheyWereAdded) {
  struct Case {
    const char* what;
    std::vector<std::pair<long, std::string>> added;  // due in µs, name
    std::vector<std::string> order;
  } cases[] = {
      {"out of order", {{500, "c"}, {20, "a"}, {300, "b"}}, {"a", "b", "c"}},
      {"ties", {{5, "first"}, {5, "second"}, {5, "third"}}, {"first", "second", "third"}},
      {"ties among others", {{9, "x"}, {5, "a"}, {9, "y"}, {5, "b"}}, {"a", "b", "x", "y"}},
      {"at time zero", {{0, "now"}, {1, "later"}}, {"now", "later"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TaskQueue<Micros> q;
    std::vector<std::string> ran;
    for (const auto& [due, name] : c.added)
      q.Add(Micros(due), [&ran, n = name] { ran.push_back(n); });
    Drain(q, Micros(1'000'000));
    EXPECT_EQ(ran, c.order);
    EXPECT_TRUE(q.Empty());
  }
}

TEST(TaskQueue, ATaskComesOutAtItsDueTimeAndNeverBefore) {
  const struct Case {
    long due, now;
    bool out;
  } cases[] = {
      {500'000, 0, false},
      {500'000, 499'999, false},
      {500'000, 500'000, true},
      {500'000, 500'001, true},
      {5'000, 4'999, false},
      {5'000, 5'000, true},
      {0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "due " << c.due << " us, now " << c.now << " us");
    TaskQueue<Micros> q;
    q.Add(Micros(c.due), [] {});
    auto due = q.TakeDue(Micros(c.now));
    EXPECT_EQ(due.has_value(), c.out);
    if (due) {
      EXPECT_EQ(due->due, Micros(c.due));
    }
    EXPECT_EQ(q.Size(), c.out ? 0u : 1u);
    EXPECT_EQ(q.NextDue(), c.out ? std::nullopt : std::optional<Micros>(Micros(c.due)));
  }
}

TEST(TaskQueue, ACancelledTaskNeverComesOutAndTheNextOneBecomesDue) {
  TaskQueue<Micros> q;
  std::vector<std::string> ran;
  const auto a = q.Add(Micros(10), [&] { ran.push_back("a"); });
  const auto b = q.Add(Micros(20), [&] { ran.push_back("b"); });
  q.Add(Micros(30), [&] { ran.push_back("c"); });
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(q.Cancel(a));
  EXPECT_FALSE(q.Cancel(a)) << "cancelled twice";
  EXPECT_FALSE(q.Cancel(12345)) << "unknown";
  EXPECT_EQ(q.NextDue(), Micros(20));
  Drain(q, Micros(25));
  EXPECT_EQ(ran, (std::vector<std::string>{"b"}));
  EXPECT_FALSE(q.Cancel(b)) << "already out";
  // Ids are not used again.
  EXPECT_GT(q.Add(Micros(40), [] {}), b + 1);
  Drain(q, Micros(100));
  EXPECT_EQ(ran, (std::vector<std::string>{"b", "c"}));
}

// The real-time loop, on the wall clock: only order and "never early" are asserted.
struct LoopFixture : ::testing::Test {
  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  RealtimeLoop loop{gate};
};

TEST_F(LoopFixture, RunsItsTasksInOrderNeverBeforeTheirDelayAndNotCancelledOnes) {
  struct Task {
    Micros delay;
    Micros scheduled{0}, ran{-1};
  };
  std::vector<Task> tasks = {{5ms}, {Micros(300)}, {Micros(0)}, {12ms}, {5ms}};
  std::vector<std::size_t> order;
  std::vector<Scheduler::TaskId> ids;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    tasks[i].scheduled = loop.Now();
    ids.push_back(loop.ScheduleAfter(tasks[i].delay, [&, i] {
      tasks[i].ran = loop.Now();
      order.push_back(i);
    }));
  }
  bool cancelled_ran = false;
  loop.Cancel(loop.ScheduleAfter(1ms, [&] { cancelled_ran = true; }));
  ASSERT_TRUE(loop.RunUntil([&] { return order.size() == tasks.size(); }, 5s));
  loop.RunFor(5ms);
  EXPECT_EQ(order, (std::vector<std::size_t>{2, 1, 0, 4, 3}));
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_GE(tasks[i].ran - tasks[i].scheduled, tasks[i].delay) << "ran early";
  }
  EXPECT_FALSE(cancelled_ran);
}

TEST_F(LoopFixture, AWindowTimerFiresEveryIntervalAfterItsPreviousFiringNeverEarlier) {
  TTimer timer("Timer_Programm", loop, gate, 20, false);
  std::vector<Micros> fired;
  timer.SetOnTimer([&](TObject*) { fired.push_back(loop.Now()); });
  const Micros enabled = loop.Now();
  timer.SetEnabled(true);
  ASSERT_TRUE(loop.RunUntil([&] { return fired.size() == 3; }, 5s));
  timer.SetEnabled(false);
  EXPECT_GE(fired[0] - enabled, Micros(20ms));
  EXPECT_GE(fired[1] - fired[0], Micros(20ms));
  EXPECT_GE(fired[2] - fired[1], Micros(20ms));
}

TEST_F(LoopFixture, WorkPostedFromAnotherThreadWakesTheLoopWhileItWaitsForATask) {
  bool ran = false, task_ran = false;
  loop.ScheduleAfter(10s, [&] { task_ran = true; });
  std::thread poster([&] {
    std::this_thread::sleep_for(5ms);
    loop.dispatcher().Post([&] { ran = true; });
  });
  const bool woke = loop.RunUntil([&] { return ran; }, 5s);
  poster.join();
  EXPECT_TRUE(woke);
  EXPECT_FALSE(task_ran);
}

}  // namespace
}  // namespace ornat
