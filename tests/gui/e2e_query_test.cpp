// End to end, the parameter query and the detector's configuration: the real program
// in its window over the real serial device against ornat-sim, driven through the
// widgets; each journey from a fresh start.

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "e2e_window.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

TEST(EndToEnd, TheSimulatedPortIsPreselectedAndNothingIsSentAtStart) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());
  EXPECT_EQ(win.view().windowTitle().toStdString(),
            "  ОРНАТ(-2)-Zev   (MODBUS-RTU)   V1.03 - 2019");
  // Panel 0 shows the simulator's port, and its item alone carries the check mark.
  EXPECT_EQ(win.Panel(0), "ornat-sim");
  const std::vector<std::string> ports = win.PortItems();
  ASSERT_FALSE(ports.empty());
  EXPECT_EQ(ports.front(), "ornat-sim");
  EXPECT_EQ(win.PortItems(true), (std::vector<std::string>{"ornat-sim"}));
  // The rest of the start-up state on the screen.
  EXPECT_EQ(win.Panel(1), "BaudRate = 9600");
  EXPECT_EQ(win.Panel(2), "DEVICE : A = 247; Baud = 9600");
  EXPECT_EQ(win.CheckedOf(kBaudItems), (std::vector<std::string>{"BR_9600"}));
  EXPECT_EQ(win.CheckedOf(kDelayItems), (std::vector<std::string>{"CustomItem8"}));
  EXPECT_EQ(win.Text("TeLabel5"), "АДРЕС ПРИБОРА - 247");
  EXPECT_EQ(win.Text("TeButton5"), "&ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_EQ(win.Text("CustomItem5"), "Start");
  EXPECT_EQ(win.Log(), (std::vector<std::string>{"TX :", "RX :"}));
  EXPECT_EQ(win.Grid(0, 0), "  ТИП");
  EXPECT_EQ(win.Grid(0, 1), "  СТАТУС");
  EXPECT_EQ(win.Grid(1, 0), "");
  EXPECT_EQ(win.Grid(1, 1), "");
  QTest::qWait(300);
  EXPECT_TRUE(win.sim().WireRequests().empty());
}

TEST(EndToEnd, ASingleQueryFillsTheGridTheTacticButtonsAndTheBoxes) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());
  for (const char* cmd : {"tactic 5", "test on", "latch off"}) ASSERT_TRUE(win.Console(cmd)) << cmd;

  win.Click("TeButton5");
  const auto answer = QueryAnswer(0xF7, 0, 5, 1, 1);
  ASSERT_TRUE(win.WaitForLog(Answered(kQuery247, answer))) << ::testing::PrintToString(win.Log());
  EXPECT_EQ(win.Grid(1, 0), kTypeCell);
  EXPECT_EQ(win.Grid(1, 1), kNormalCell);
  EXPECT_EQ(win.CheckedOf(kTacticButtons), (std::vector<std::string>{"T3_100MAX_Button"}));
  EXPECT_TRUE(win.Checked("TST_Button"));
  EXPECT_FALSE(win.Checked("FIX_Button"));
  // On the line: the one request and the answer the window showed.
  EXPECT_EQ(win.Requests(), (std::vector<std::string>{ToHex(kQuery247)}));
  const auto answers = win.sim().WireAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].hex, ToHex(answer));
  // Showing the configuration wrote nothing back.
  QTest::qWait(300);
  EXPECT_EQ(win.Requests().size(), 1u);
  EXPECT_EQ(win.Register("tactic"), 5);
  EXPECT_EQ(win.Register("test"), 1);
  EXPECT_EQ(win.Register("latch"), 1);

  // Alt+З, the button's accelerator, queries again: the alarm raised meanwhile shows.
  ASSERT_TRUE(win.Console("alarm"));
  QTest::sendKeyEvent(QTest::Click, &win.view(), Qt::Key(0x0417), QString(QChar(0x0417)),
                      Qt::AltModifier);
  ASSERT_TRUE(win.WaitForLog(Answered(kQuery247, QueryAnswer(0xF7, 1, 5, 1, 1))))
      << ::testing::PrintToString(win.Log());
  EXPECT_EQ(win.Grid(1, 1), kAlarmCell);
  EXPECT_EQ(win.Requests().size(), 2u);
}

TEST(EndToEnd, TheCyclicQueryFollowsAnAlarmAndAFaultAndStopsOnStop) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());
  win.Click("TeCheckBox1");
  ASSERT_TRUE(win.Checked("TeCheckBox1"));
  EXPECT_FALSE(win.Find("TeButton2")->isEnabled()) << "no interface reset while cycling";
  win.Click("TeButton5");
  EXPECT_EQ(win.Text("TeButton5"), "СТОП");
  EXPECT_FALSE(win.Find("TeCheckBox1")->isEnabled());

  ASSERT_TRUE(win.WaitFor([&] { return win.Grid(1, 1) == kNormalCell; }, 5s));
  ASSERT_TRUE(win.Console("alarm"));
  ASSERT_TRUE(win.WaitFor([&] { return win.Grid(1, 1) == kAlarmCell; }, 5s));
  ASSERT_TRUE(win.Console("fault"));
  ASSERT_TRUE(win.WaitFor([&] { return win.Grid(1, 1) == kFaultCell; }, 5s));
  EXPECT_EQ(win.Grid(1, 0), kTypeCell);
  // Every request of the cycle is the parameter query, answered.
  const std::vector<std::string> cycle = win.Requests();
  EXPECT_GE(cycle.size(), 3u);
  for (const std::string& r : cycle) EXPECT_EQ(r, ToHex(kQuery247));
  EXPECT_GE(win.sim().WireAnswers().size() + 1, cycle.size());

  win.Click("TeButton5");
  EXPECT_EQ(win.Text("TeButton5"), "ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_TRUE(win.Find("TeCheckBox1")->isEnabled());
  // A query still in flight completes; after it nothing more goes out.
  ASSERT_TRUE(win.WaitFor([&] { return win.Log().back() == kOkLine; }, 3s));
  const std::size_t sent = win.Requests().size();
  QTest::qWait(1500);  // three cycle periods and more
  EXPECT_EQ(win.Requests().size(), sent);
  EXPECT_EQ(win.Grid(1, 1), kFaultCell);
  // Unchecking the box gives the reset button back.
  win.Click("TeCheckBox1");
  EXPECT_TRUE(win.Find("TeButton2")->isEnabled());
}

// Counts the paints of a widget that come while `now` holds.
struct PaintsWhile : QObject {
  PaintsWhile(QWidget* w, std::function<bool()> when) : now(std::move(when)) {
    w->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    count += e->type() == QEvent::Paint && now() ? 1 : 0;
    return false;
  }
  std::function<bool()> now;
  int count = 0;
};

TEST(EndToEnd, TheSimulatorGoneEndsTheCyclicQueryOnTheScreenAndEmptiesTheGrid) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());
  win.Click("TeCheckBox1");
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitFor([&] { return win.Grid(1, 1) == kNormalCell; }, 5s));
  PaintsWhile paints(win.Find("StatusGrid"), [&] { return win.Grid(1, 1).empty(); });
  win.sim().Kill();
  const std::string error = "   : ОШИБКА ОТКРЫТИЯ ПОРТА ornat-sim";
  ASSERT_TRUE(win.WaitFor([&] { return win.Log().back() == error; }, 5s));
  EXPECT_EQ(win.Text("TeButton5"), "ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_TRUE(win.Find("TeCheckBox1")->isEnabled());
  EXPECT_EQ(win.Grid(1, 0) + win.Grid(1, 1), "");
  EXPECT_TRUE(win.WaitFor([&] { return paints.count > 0; }));  // repainted by itself
}

TEST(EndToEnd, ATacticTheTestModeAndTheAlarmResetReachTheDetector) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitFor([&] { return win.Log().back() == kOkLine; }, 3s));
  ASSERT_TRUE(win.Checked("T1MAX_Button"));

  struct Step {
    const char* control;
    std::vector<std::uint8_t> request;
    const char* field;
    int value;
  } const steps[] = {
      {"T3_500MIN_Button", WithCrc({0xF7, 0x06, 0x00, 0x04, 0x00, 0x06}), "tactic", 6},
      {"IRMIN_Button", WithCrc({0xF7, 0x06, 0x00, 0x04, 0x00, 0x09}), "tactic", 9},
      {"TST_Button", WithCrc({0xF7, 0x06, 0x00, 0x07, 0x00, 0x01}), "test", 1},
      {"TST_Button", WithCrc({0xF7, 0x06, 0x00, 0x07, 0x00, 0x00}), "test", 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.control);
    const std::size_t before = win.Requests().size();
    win.Click(s.control);
    // The detector's echo of the write, then "ОК".
    ASSERT_TRUE(win.WaitForLog(Answered(s.request, s.request)))
        << ::testing::PrintToString(win.Log());
    ASSERT_EQ(win.Requests().size(), before + 1);
    EXPECT_EQ(win.Requests().back(), ToHex(s.request));
    EXPECT_EQ(win.Register(s.field), s.value);
  }
  EXPECT_EQ(win.CheckedOf(kTacticButtons), (std::vector<std::string>{"IRMIN_Button"}));

  // An alarm on the detector, shown; "СБРОС ТРЕВОГИ" ends it.
  ASSERT_TRUE(win.Console("alarm"));
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitFor([&] { return win.Grid(1, 1) == kAlarmCell; }, 3s));
  ASSERT_TRUE(win.WaitFor([&] { return win.Log().back() == kOkLine; }, 3s));
  EXPECT_EQ(win.Register("state"), 1);
  win.Click("TeButton3");
  const auto reset = WithCrc({0xF7, 0x06, 0x00, 0x06, 0xAA, 0x55});
  ASSERT_TRUE(win.WaitForLog(Answered(reset, reset))) << ::testing::PrintToString(win.Log());
  EXPECT_EQ(win.Requests().back(), ToHex(reset));
  EXPECT_EQ(win.Register("state"), 0);
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitFor([&] { return win.Grid(1, 1) == kNormalCell; }, 3s));
  EXPECT_EQ(win.CheckedOf(kTacticButtons), (std::vector<std::string>{"IRMIN_Button"}));
}

}  // namespace
}  // namespace ornat::testing
