// The order in which the window's message loop runs its due work, on a virtual clock:
// timer tasks by their due time, hand-overs by the time they were posted, a task due
// when a hand-over was posted before it, nothing before it is due, each item once also
// when a nested loop runs the queue from inside a task.

#include "win32/event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace ornat::win32 {
namespace {

using namespace std::chrono_literals;
using TimePoint = EventQueue::TimePoint;

struct Clocked {
  TimePoint now{};
  std::atomic<int> wakes{0};
  EventQueue queue{[this] { return now; }, [this] { ++wakes; }};
  std::vector<std::string> ran;
  void At(std::chrono::microseconds t, const std::string& name) {
    queue.Schedule(TimePoint{} + t, [this, name] { ran.push_back(name); });
  }
  void Post(const std::string& name) {
    queue.Post([this, name] { ran.push_back(name); });
  }
};

TEST(EventQueue, RunsNothingBeforeItIsDueAndEachTaskExactlyWhenItIs) {
  Clocked c;
  c.At(5ms, "5 ms");
  c.At(20ms, "20 ms");
  c.At(500ms, "500 ms");
  struct Step {
    std::chrono::microseconds now;
    std::vector<std::string> ran;
  } const steps[] = {
      {0us, {}},
      {4999us, {}},
      {5000us, {"5 ms"}},
      {19999us, {"5 ms"}},
      {20000us, {"5 ms", "20 ms"}},
      {499999us, {"5 ms", "20 ms"}},
      {500000us, {"5 ms", "20 ms", "500 ms"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.now.count());
    c.now = TimePoint{} + s.now;
    c.queue.RunDue();
    EXPECT_EQ(c.ran, s.ran);
  }
  EXPECT_EQ(c.queue.Tasks(), 0u);
}

TEST(EventQueue, TasksAndHandOversRunInTheOrderTheyCameDue) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, const char*>> events;  // ms: a task due then ("t..."),
                                                      // or work posted then ("p...")
    int run_at_ms;
    std::vector<std::string> order;
  } const cases[] = {
      {"a timer due before a hand-over runs first", {{20, "t20"}, {30, "p30"}}, 40, {"t20", "p30"}},
      {"a hand-over posted before a timer runs first",
       {{10, "p10"}, {20, "t20"}},
       40,
       {"p10", "t20"}},
      {"a timer due when a hand-over is posted runs first",
       {{20, "p20"}, {20, "t20"}},
       20,
       {"t20", "p20"}},
      {"hand-overs in the order posted, timers in due order",
       {{5, "p5"}, {7, "p7"}, {6, "t6"}, {25, "t25"}, {8, "t8"}},
       30,
       {"p5", "t6", "p7", "t8", "t25"}},
      {"what is not due yet waits", {{10, "p10"}, {50, "t50"}}, 40, {"p10"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Clocked c;
    // Posts are stamped with the clock at the time of the post; tasks get their due time.
    std::vector<std::pair<int, const char*>> posts, tasks;
    for (const auto& e : k.events) (e.second[0] == 'p' ? posts : tasks).push_back(e);
    for (const auto& [ms, name] : tasks) c.At(std::chrono::milliseconds(ms), name);
    for (const auto& [ms, name] : posts) {
      c.now = TimePoint{} + std::chrono::milliseconds(ms);
      c.Post(name);
    }
    c.now = TimePoint{} + std::chrono::milliseconds(k.run_at_ms);
    c.queue.RunDue();
    EXPECT_EQ(c.ran, k.order);
  }
}

TEST(EventQueue, WhatComesDueWhileItRunsWaitsForTheNextRun) {
  Clocked c;
  c.queue.Schedule(TimePoint{} + 10ms, [&] {
    c.ran.push_back("t10");
    // The clock moves on while the task runs; work posted now and a task due now are
    // the next run's.
    c.now = TimePoint{} + 15ms;
    c.Post("p15");
    c.At(12ms, "t12");
  });
  c.now = TimePoint{} + 10ms;
  EXPECT_EQ(c.queue.RunDue(), 1u);
  EXPECT_EQ(c.ran, (std::vector<std::string>{"t10"}));
  EXPECT_EQ(c.queue.RunDue(), 2u);
  EXPECT_EQ(c.ran, (std::vector<std::string>{"t10", "t12", "p15"}));
}

TEST(EventQueue, ANestedLoopInsideATaskRunsEveryOtherItemOnce) {
  Clocked c;
  c.At(1ms, "t1");
  c.queue.Schedule(TimePoint{} + 2ms, [&] {
    c.ran.push_back("t2 begins");
    // A message box's loop runs the queue while this task is on the stack.
    c.queue.RunDue();
    c.ran.push_back("t2 ends");
  });
  c.At(3ms, "t3");
  c.now = TimePoint{} + 3ms;
  c.Post("p3");
  c.queue.RunDue();
  EXPECT_EQ(c.ran, (std::vector<std::string>{"t1", "t2 begins", "t3", "p3", "t2 ends"}));
  EXPECT_EQ(c.queue.RunDue(), 0u);
}

TEST(EventQueue, ACancelledTaskNeverRunsAndUnknownIdsAreIgnored) {
  Clocked c;
  const auto keep = c.queue.Schedule(TimePoint{} + 5ms, [&] { c.ran.push_back("kept"); });
  const auto drop = c.queue.Schedule(TimePoint{} + 5ms, [&] { c.ran.push_back("dropped"); });
  c.queue.Cancel(drop);
  c.queue.Cancel(drop);
  c.queue.Cancel(keep + 1000);
  c.now = TimePoint{} + 5ms;
  c.queue.RunDue();
  EXPECT_EQ(c.ran, (std::vector<std::string>{"kept"}));
  c.queue.Cancel(keep);  // finished: ignored
  EXPECT_FALSE(c.queue.NextDue());
}

TEST(EventQueue, WorkPostedFromOtherThreadsRunsOnceEachInTheOrderOfEachThread) {
  Clocked c;
  constexpr int kThreads = 4, kEach = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&c, t] {
      for (int i = 0; i < kEach; ++i)
        c.queue.Post([&c, t, i] { c.ran.push_back(std::to_string(t) + ":" + std::to_string(i)); });
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(c.wakes.load(), kThreads * kEach);
  EXPECT_EQ(c.queue.RunDue(), static_cast<std::size_t>(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (const std::string& r : c.ran) {
    const int t = std::stoi(r.substr(0, r.find(':')));
    const int i = std::stoi(r.substr(r.find(':') + 1));
    EXPECT_EQ(i, next[static_cast<std::size_t>(t)]++) << r;
  }
  EXPECT_FALSE(c.queue.HasPosted());
}

}  // namespace
}  // namespace ornat::win32
