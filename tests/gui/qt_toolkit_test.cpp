// The Qt implementations of the toolkit's services: the scheduler's precise timers,
// the dispatcher's hand-over from another thread, and the two message boxes.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "app/qt_dialogs.h"
#include "app/qt_dispatcher.h"
#include "app/qt_scheduler.h"
#include "gui_window.h"
#include "ui/toolkit/timer.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

// Runs the event loop for d (as a modal dialog's nested loop would).
void RunLoopFor(std::chrono::milliseconds d) {
  QEventLoop loop;
  QTimer::singleShot(d, &loop, &QEventLoop::quit);
  loop.exec();
}

TEST(QtScheduler, RunsTasksInTheOrderTheyComeDueAndNeverBeforeTheirDelay) {
  QtScheduler s;
  struct Ran {
    int id;
    Micros at;
  };
  std::vector<Ran> ran;
  const Micros start = s.Now();
  const int delays_ms[] = {30, 5, 20, 0, 10};
  for (int i = 0; i < 5; ++i) {
    s.ScheduleAfter(Millis(delays_ms[i]), [&, i] { ran.push_back({i, s.Now() - start}); });
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return ran.size() == 5; }, 5000));
  const int expected_order[] = {3, 1, 4, 2, 0};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(ran[k].id, expected_order[k]);
    EXPECT_GE(ran[k].at, Millis(delays_ms[ran[k].id]));
  }
  EXPECT_EQ(s.Pending(), 0u);
}

TEST(QtScheduler, ACancelledTaskNeverRunsAndATaskMayCancelAnother) {
  QtScheduler s;
  int a = 0, b = 0, c = 0;
  auto id_a = s.ScheduleAfter(5ms, [&] { ++a; });
  Scheduler::TaskId id_c = 0;
  s.ScheduleAfter(2ms, [&] {
    ++b;
    s.Cancel(id_c);
  });
  id_c = s.ScheduleAfter(15ms, [&] { ++c; });
  s.Cancel(id_a);
  s.Cancel(12345);  // unknown: ignored
  RunLoopFor(60ms);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(c, 0);
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
