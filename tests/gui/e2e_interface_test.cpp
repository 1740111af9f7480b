// End to end, the detector's interface: its address and line speed changed from the
// window, the interface reset, and the bus search for a detector at an unknown
// address; the real program against ornat-sim, each journey from a fresh start.

#include <gtest/gtest.h>

#include <QProgressBar>
#include <chrono>
#include <string>
#include <vector>

#include "e2e_window.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

const std::string kSpeedQuestion = "Сменить скорость обмена COM-порта ПК?";
const std::string kFoundLine =
    "   : ОБНАРУЖЕН ПРИБОР <VA329(-330) \"ОРНАТ(-2)-Zev\"> ПО АДРЕСУ ";  // + three digits

// The parameter query of the detector at `address` (line-speed code `speed`), from the
// button to the grid.
void ExpectTheQueryIsAnswered(E2eWindow& win, std::uint8_t address, std::uint8_t speed) {
  const auto request = WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x08});
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitForLog(Answered(request, QueryAnswer(address, 0, 0, 0, 0, speed))))
      << ::testing::PrintToString(win.Log());
  EXPECT_EQ(win.Grid(1, 0), kTypeCell);
  EXPECT_EQ(win.Grid(1, 1), kNormalCell);
  const auto requests = win.sim().WireRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().hex, ToHex(request));
  EXPECT_EQ(requests.back().note, "") << "the detector understood it";
}

TEST(EndToEnd, TheAddressMovesTo5AndTheSpeedTo19200WithYesAndTheDetectorStillAnswers) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());

  // Address 247 -> 5: the new address typed into the second editor, then "-->".
  win.TypeInto("TeSpinEdit2", "5");
  EXPECT_EQ(win.Text("TeSpinEdit2"), "5");
  win.Click("TeButton1");
  const auto to5 = WithCrc({0xF7, 0x06, 0x00, 0x01, 0x00, 0x05});
  ASSERT_TRUE(win.WaitForLog(Answered(to5, to5))) << ::testing::PrintToString(win.Log());
  EXPECT_EQ(ToHex(to5), "F7 06 00 01 00 05 0C 9F");
  EXPECT_EQ(win.Text("TeSpinEdit1"), "5");
  EXPECT_EQ(win.Text("TeLabel5"), "АДРЕС ПРИБОРА - 005");
  EXPECT_EQ(win.Panel(2), "DEVICE : A = 005; Baud = 9600");  // Latin A
  EXPECT_EQ(win.Register("addr"), 5);

  // 19200 bit/s picked from the speed list; Yes lets the PC port follow.
  MessageBoxAnswerer yes(QMessageBox::Yes);
  ASSERT_TRUE(win.PickSpeed("19200"));
  const auto to19200 = WithCrc({0x05, 0x06, 0x00, 0x02, 0x00, 0x06});
  ASSERT_TRUE(win.WaitForLog(Answered(to19200, to19200))) << ::testing::PrintToString(win.Log());
  EXPECT_EQ(yes.Questions(), (std::vector<std::string>{kSpeedQuestion}));
  EXPECT_EQ(win.Text("TeSComboBox1"), "19200");
  EXPECT_EQ(win.Panel(1), "BaudRate = 19200");
  EXPECT_EQ(win.Panel(2), "DEVICE : \u0410 = 5; Baud = 19200");  // Cyrillic А
  EXPECT_EQ(win.CheckedOf(kBaudItems), (std::vector<std::string>{"BR_19200"}));
  EXPECT_EQ(win.Register("speed"), 6);
  EXPECT_EQ(win.Register("addr"), 5);

  // Both ends at 19200 bit/s: the detector at 5 answers the query.
  ExpectTheQueryIsAnswered(win, 5, 6);
}

TEST(EndToEnd, TheInterfaceResetBringsTheToolAndTheDetectorBackTo247At9600) {
  // A detector moved to 5 / 19200 bit/s earlier; the engineer knows it.
  E2eWindow win({"--detector", "5:speed=6"});
  ASSERT_TRUE(win.Started());
  win.TypeInto("TeSpinEdit1", "5");
  win.Choose("BR_19200");
  ExpectTheQueryIsAnswered(win, 5, 6);

  // The reset writes to slave 247 at 9600 bit/s, which this detector does not hear:
  // both steps time out and the PC port goes back to 19200 bit/s.
  win.Click("TeButton2");
  const auto step1 = WithCrc({0xF7, 0x06, 0x00, 0x01, 0x00, 0xF7});
  const auto step2 = WithCrc({0xF7, 0x06, 0x00, 0x02, 0x00, 0x04});
  ASSERT_TRUE(win.WaitForLog({TxLine(step2), "RX :", kTimeOutLine}, 5s))
      << ::testing::PrintToString(win.Log());
  auto requests = win.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[requests.size() - 2], ToHex(step1));
  EXPECT_EQ(requests.back(), ToHex(step2));
  EXPECT_EQ(win.Panel(1), "BaudRate = 19200");
  ExpectTheQueryIsAnswered(win, 5, 6);

  // The detector's own service reset (its console here) puts it at 247 / 9600 bit/s;
  // now both steps are acknowledged, and Yes brings the PC port to 9600 bit/s.
  ASSERT_TRUE(win.Console("factory"));
  MessageBoxAnswerer yes(QMessageBox::Yes);
  win.Click("TeButton2");
  ASSERT_TRUE(win.WaitForLog({TxLine(step2), AnswerLines(step2)[0], kResetOkLine, kOkLine}, 5s))
      << ::testing::PrintToString(win.Log());
  EXPECT_EQ(yes.Questions(), (std::vector<std::string>{kSpeedQuestion}));
  EXPECT_EQ(win.Text("TeSpinEdit1"), "247");
  EXPECT_EQ(win.Text("TeLabel5"), "АДРЕС ПРИБОРА - 247");
  EXPECT_EQ(win.Panel(1), "BaudRate = 9600");
  EXPECT_EQ(win.Panel(2), "DEVICE : \u0410 = 247; Baud = 9600");
  EXPECT_EQ(win.CheckedOf(kBaudItems), (std::vector<std::string>{"BR_9600"}));
  EXPECT_EQ(win.Register("addr"), 247);
  EXPECT_EQ(win.Register("speed"), 4);
  ExpectTheQueryIsAnswered(win, 247, 4);
}

TEST(EndToEnd, ASearchFindsTheDetectorAtAnUnknownAddress) {
  E2eWindow win({"--detector", "12"});
  ASSERT_TRUE(win.Started());
  win.Choose("CustomItem7");  // "100ms"
  EXPECT_EQ(win.CheckedOf(kDelayItems), (std::vector<std::string>{"CustomItem7"}));

  win.Choose("CustomItem5");
  EXPECT_EQ(win.Text("CustomItem5"), "Stop");
  EXPECT_TRUE(win.Find<QProgressBar>("TeProgressBar1")->isVisible());
  ASSERT_TRUE(win.WaitFor([&] { return win.Text("CustomItem5") == "Start"; }, 15s));
  // The log pane shows the hit once the completion that found it has returned.
  ASSERT_TRUE(win.WaitFor([&] { return win.Log().back() == kOkLine; }, 1s));

  const std::vector<std::string> log = win.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], kFoundLine + "012");
  EXPECT_EQ(log.back(), kOkLine);
  EXPECT_FALSE(win.Find<QProgressBar>("TeProgressBar1")->isVisible());
  EXPECT_EQ(win.Text("TeSpinEdit1"), "12");
  EXPECT_EQ(win.Text("TeLabel5"), "АДРЕС ПРИБОРА - 012");
  EXPECT_EQ(win.Panel(2), "DEVICE : A = 012; Baud = 9600;");
  // On the line: probes from address 1 on, one register from register 0; the answer
  // of the detector at 12 comes in the window of the probe to 13, and nothing after.
  const std::vector<std::string> requests = win.Requests();
  ASSERT_GE(requests.size(), 12u);
  EXPECT_LE(requests.size(), 13u);
  for (std::size_t i = 0; i < requests.size(); ++i)
    EXPECT_EQ(requests[i],
              ToHex(WithCrc({static_cast<std::uint8_t>(i + 1), 0x03, 0x00, 0x00, 0x00, 0x01})));
  EXPECT_EQ(requests.front(), "01 03 00 00 00 01 84 0A");
  const auto answers = win.sim().WireAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].hex, ToHex(WithCrc({0x0C, 0x03, 0x02, 0x00, 0x10})));
  QTest::qWait(300);
  EXPECT_EQ(win.Requests().size(), requests.size());

  // The window now talks to the detector at 12.
  const auto request = WithCrc({12, 0x03, 0x00, 0x00, 0x00, 0x08});
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitForLog(Answered(request, QueryAnswer(12, 0, 0, 0, 0))))
      << ::testing::PrintToString(win.Log());
  EXPECT_EQ(win.Grid(1, 0), kTypeCell);
}

}  // namespace
}  // namespace ornat::testing
