// The Qt implementations of the toolkit's services: the scheduler's precise timers,
// the dispatcher's hand-over from another thread, and the two message boxes.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "app/qt_dialogs.h"
#include "app/qt_dispatcher.h"
#include "app/qt_scheduler.h"
#include "gui_window.h"
#include "ui/toolkit/timer.h"

namespace ornat {
// The wake-up by its name in the tests' names and messages.
inline void PrintTo(QtScheduler::Wakeup wakeup, std::ostream* os) {
  *os << (wakeup == QtScheduler::Wakeup::kTimerfd ? "timerfd" : "QTimer");
}
}  // namespace ornat

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

// Runs the event loop for d (as a modal dialog's nested loop would).
void RunLoopFor(std::chrono::milliseconds d) {
  QEventLoop loop;
  QTimer::singleShot(d, &loop, &QEventLoop::quit);
  loop.exec();
}

// Every behaviour of the scheduler holds however it wakes the event loop: through its
// timerfd (the program) and through the QTimer it falls back on without one.
class QtSchedulerWakeups : public ::testing::TestWithParam<QtScheduler::Wakeup> {};

INSTANTIATE_TEST_SUITE_P(QtScheduler, QtSchedulerWakeups,
                         ::testing::Values(QtScheduler::Wakeup::kTimerfd,
                                           QtScheduler::Wakeup::kQTimer),
                         [](const auto& wakeup) {
                           return wakeup.param == QtScheduler::Wakeup::kTimerfd ? "Timerfd"
                                                                                : "QTimer";
                         });

TEST_P(QtSchedulerWakeups, WakesTheLoopAsAsked) {
  QtScheduler s(nullptr, GetParam());
  EXPECT_EQ(s.Exact(), GetParam() == QtScheduler::Wakeup::kTimerfd);
}

TEST_P(QtSchedulerWakeups, RunsTasksInTheOrderTheyComeDueAndNeverBeforeTheirDelay) {
  QtScheduler s(nullptr, GetParam());
  struct Task {
    Micros delay;
    Micros scheduled{0}, ran{-1};
  };
  // Out of order, below a millisecond, and two with the same delay (they run in the
  // order they were scheduled).
  std::vector<Task> tasks = {{Millis(30)},   {Micros(300)}, {Millis(20)}, {Micros(0)},
                             {Micros(7500)}, {Millis(20)},  {Micros(1)}};
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    tasks[i].scheduled = s.Now();
    s.ScheduleAfter(tasks[i].delay, [&, i] {
      tasks[i].ran = s.Now();
      order.push_back(i);
    });
  }
  EXPECT_EQ(s.Pending(), tasks.size());
  ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == tasks.size(); }, 5000));
  EXPECT_EQ(order, (std::vector<std::size_t>{3, 6, 1, 4, 2, 5, 0}));
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_GE(tasks[i].ran - tasks[i].scheduled, tasks[i].delay) << "ran early";
  }
  EXPECT_EQ(s.Pending(), 0u);
}

TEST_P(QtSchedulerWakeups, ACancelledTaskNeverRunsAndATaskMayCancelAnother) {
  QtScheduler s(nullptr, GetParam());
  int a = 0, b = 0, c = 0, d = 0;
  const Micros start = s.Now();
  Micros d_ran{0};
  // a is the earliest: once it is cancelled, d (later) still runs, and not before its
  // time.
  auto id_a = s.ScheduleAfter(1ms, [&] { ++a; });
  Scheduler::TaskId id_c = 0;
  s.ScheduleAfter(2ms, [&] {
    ++b;
    s.Cancel(id_c);
  });
  id_c = s.ScheduleAfter(15ms, [&] { ++c; });
  s.ScheduleAfter(8ms, [&] {
    ++d;
    d_ran = s.Now();
  });
  s.Cancel(id_a);
  s.Cancel(id_a);   // twice: ignored
  s.Cancel(12345);  // unknown: ignored
  RunLoopFor(60ms);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(d, 1);
  EXPECT_GE(d_ran - start, Micros(8ms));
  EXPECT_EQ(s.Pending(), 0u);
}

TEST_P(QtSchedulerWakeups, ATaskThatComesDueWhileAnotherRunsANestedLoopRunsInIt) {
  QtScheduler s(nullptr, GetParam());
  bool in_nested_loop = false, ran = false, ran_inside = false;
  s.ScheduleAfter(0ms, [&] {
    in_nested_loop = true;
    RunLoopFor(80ms);  // a modal dialog
    in_nested_loop = false;
  });
  s.ScheduleAfter(10ms, [&] {
    ran = true;
    ran_inside = in_nested_loop;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return ran && !in_nested_loop; }, 5000));
  EXPECT_TRUE(ran_inside) << "held until the nested loop had ended";
}

TEST_P(QtSchedulerWakeups, TasksThatScheduleTasksWithoutDelayLeaveTheEventLoopItsTurn) {
  QtScheduler s(nullptr, GetParam());
  // A chain of tasks, each scheduling the next at once, until a plain Qt timer (which
  // only the event loop can run) stops it.
  int chain = 0;
  bool stop = false;
  std::function<void()> next = [&] {
    ++chain;
    if (!stop) s.ScheduleAfter(0ms, next);
  };
  s.ScheduleAfter(0ms, next);
  QTimer::singleShot(20ms, [&] { stop = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return stop && s.Pending() == 0; }, 5000));
  EXPECT_GT(chain, 1);
}

TEST_P(QtSchedulerWakeups, TasksLeftWhenTheSchedulerGoesAwayNeverRun) {
  int ran = 0;
  {
    QtScheduler s(nullptr, GetParam());
    s.ScheduleAfter(1ms, [&] { ++ran; });
    s.ScheduleAfter(0ms, [&] { ++ran; });
  }
  RunLoopFor(20ms);
  EXPECT_EQ(ran, 0);
}

TEST(QtScheduler, AWindowTimerRepeatsUntilDisabledAndIsHeldWhileAHandlerRuns) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  QtScheduler s;
  TTimer timer("Timer_Rx", s, gate, 5, false);
  int fired = 0;
  bool inside_handler = false, fired_inside = false;
  timer.SetOnTimer([&](TObject*) {
    ++fired;
    if (inside_handler) fired_inside = true;
  });
  timer.SetEnabled(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 3; }, 5000));
  // A handler with a nested loop (a modal dialog): the firing that comes due meanwhile
  // waits, and runs once right after the handler returns.
  int before = fired;
  gate.Enter([&] {
    inside_handler = true;
    RunLoopFor(40ms);
    inside_handler = false;
  });
  EXPECT_FALSE(fired_inside);
  EXPECT_EQ(fired, before + 1);
  timer.SetEnabled(false);
  before = fired;
  RunLoopFor(30ms);
  EXPECT_EQ(fired, before);
}

TEST(QtDispatcher, PostedWorkRunsOnTheGuiThreadThroughTheGate) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  QtDispatcher d(gate);
  EXPECT_TRUE(d.OnUiThread());
  std::thread::id ran_on;
  bool ran = false, ran_inside = false, inside = false;
  std::thread t([&] {
    EXPECT_FALSE(d.OnUiThread());
    d.Post([&] {
      ran_on = std::this_thread::get_id();
      ran = true;
      if (inside) ran_inside = true;
    });
    d.Post([] { throw std::runtime_error("hand-over failed"); });
  });
  t.join();
  // Posted while a handler runs a nested loop: held until it returns.
  gate.Enter([&] {
    inside = true;
    RunLoopFor(20ms);
    inside = false;
  });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(ran_inside);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(dialogs.exceptions, (std::vector<std::string>{"hand-over failed"}));
}

TEST(QtDispatcher, SendWaitsForTheGuiThreadAndCarriesItsExceptionBack) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  QtDispatcher d(gate);
  std::atomic<int> value{0};
  std::atomic<bool> done{false};
  std::string caught;
  std::thread t([&] {
    d.Send([&] { value = 42; });
    try {
      d.Send([] { throw std::runtime_error("no port"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
  t.join();
  EXPECT_EQ(value, 42);
  EXPECT_EQ(caught, "no port");
  EXPECT_TRUE(dialogs.exceptions.empty());
  // From the GUI thread itself it runs at once.
  int inline_runs = 0;
  d.Send([&] { ++inline_runs; });
  EXPECT_EQ(inline_runs, 1);
}

TEST(QtDispatcher, ServeSynchronousAnswersASendWhileTheGuiThreadWaitsForTheThread) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  QtDispatcher d(gate);
  std::atomic<bool> done{false};
  std::thread t([&] {
    d.Send([] {});
    done = true;
  });
  // No event loop runs here: the GUI thread serves the call itself, as the port's
  // close does while it joins the event thread.
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!done && std::chrono::steady_clock::now() < until) {
    d.ServeSynchronous();
    std::this_thread::sleep_for(1ms);
  }
  t.join();
  EXPECT_TRUE(done);
}

// Answers the next modal message box by pressing `button`, noting what it showed.
struct BoxAnswer {
  explicit BoxAnswer(QMessageBox::StandardButton b) : button(b) {}
  QMessageBox::StandardButton button;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  void Arm() {
    QTimer::singleShot(0, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return Arm();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      if (button == QMessageBox::NoButton)
        box->reject();
      else
        box->button(button)->click();
    });
  }
};

TEST(QtDialogs, TheWarningAsksYesOrNoAndReturnsTheAnswer) {
  QtDialogs dialogs;
  const char* question = "Сменить скорость обмена COM-порта ПК?";
  struct Case {
    QMessageBox::StandardButton press;
    DialogAnswer answer;
  } const cases[] = {{QMessageBox::Yes, DialogAnswer::Yes},
                     {QMessageBox::No, DialogAnswer::No},
                     {QMessageBox::NoButton, DialogAnswer::Closed}};
  for (const Case& c : cases) {
    BoxAnswer a(c.press);
    a.Arm();
    EXPECT_EQ(dialogs.AskYesNo(question), c.answer);
    EXPECT_EQ(a.text.toStdString(), question);
    EXPECT_EQ(a.icon, QMessageBox::Warning);
    EXPECT_EQ(a.buttons, QMessageBox::Yes | QMessageBox::No);
  }
}

TEST(QtDialogs, TheExceptionReportShowsTheMessage) {
  QtDialogs dialogs;
  BoxAnswer a(QMessageBox::Ok);
  a.Arm();
  dialogs.ShowException("Error: port not open");
  EXPECT_EQ(a.text.toStdString(), "Error: port not open");
  EXPECT_EQ(a.icon, QMessageBox::Critical);
}

}  // namespace
}  // namespace ornat::testing
