#include <gtest/gtest.h>

#include "serial/comport.h"
#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat {
namespace {

using testing::SimulatedForm;
using testing::WithCrc;

const std::string kLatin = "DEVICE : A = ";
const std::string kCyrillic = "DEVICE : \u0410 = ";
const std::string kQuestion = "Сменить скорость обмена COM-порта ПК?";

std::vector<std::string> CheckedBaudItems(TForm1& w) {
  std::vector<std::string> out;
  for (unsigned i = 0; i < 8; ++i)
    if (w.BaudItem(i).Checked()) out.push_back(w.BaudItem(i).Caption());
  return out;
}

// Moves the simulated detector and the window to `address` (no exchange).
void StartAt(SimulatedForm& t, std::uint8_t address) {
  t.line.detector().SetAddress(address);
  t.Do([&] { t.w().TeSpinEdit1.SetText(std::to_string(address)); });
}

TEST(InterfaceChanges, AnAddressChangeGoesToTheCurrentAddressAndTheWindowFollowsTheEcho) {
  SimulatedForm t;
  t.Do([&] { t.w().TeSpinEdit2.SetText("5"); });
  t.Click(t.w().TeButton1);
  ASSERT_TRUE(t.RunUntilIdle());
  ASSERT_EQ(t.Requests().size(), 1u);
  EXPECT_EQ(t.Requests()[0], (sim::Bytes{0xF7, 0x06, 0x00, 0x01, 0x00, 0x05, 0x0C, 0x9F}));
  TForm1& w = t.w();
  EXPECT_EQ(t.state().DeviceAddress, 5);
  EXPECT_EQ(w.TeSpinEdit1.Text(), "5");
  EXPECT_EQ(w.TeSpinEdit2.Text(), "5") << "the new-address editor is left alone";
  EXPECT_EQ(w.TeLabel5.Caption(), "АДРЕС ПРИБОРА - 005");
  EXPECT_EQ(w.StatusBar1.PanelText(2), kLatin + "005; Baud = 9600");
  EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
  EXPECT_EQ(t.line.detector().address(), 5);
  // The detector answers at its new address.
  t.Click(w.TeButton5);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests().back()[0], 5);
  EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
}

TEST(InterfaceChanges, TheAddressIsReadFromTheCurrentEditorBeforeTheWrite) {
  SimulatedForm t;
  t.Do([&] {
    t.w().TeSpinEdit1.SetText("12");
    t.w().TeSpinEdit2.SetText("5");
  });
  t.Click(t.w().TeButton1);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests()[0][0], 12);
  EXPECT_EQ(t.state().DeviceAddress, 12) << "no echo: the address stays the editor's";
  EXPECT_EQ(t.LogLines().back(), testing::kTimeOutLine);
}

TEST(InterfaceChanges, AnAddressOutsideTheRangeIsNeverWritten) {
  SimulatedForm t;
  t.Do([&] { t.w().TeSpinEdit2.SetText("300"); });
  t.Click(t.w().TeButton1);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests()[0], WithCrc({0xF7, 0x06, 0x00, 0x01, 0x00, 0xF7}));
  t.Do([&] { t.w().TeSpinEdit2.SetText("0"); });
  t.Click(t.w().TeButton1);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.Requests()[1], WithCrc({0xF7, 0x06, 0x00, 0x01, 0x00, 0x01}));
}

TEST(InterfaceChanges, ASpeedChangeAsksWhetherThePcFollowsAndYesMovesThePort) {
  SimulatedForm t;
  StartAt(t, 5);
  t.dialogs.answers = {DialogAnswer::Yes};
  t.Do([&] { t.w().TeSComboBox1.Select(5); });  // 19200
  ASSERT_TRUE(t.RunUntilIdle());
  TForm1& w = t.w();
  EXPECT_EQ(t.Requests()[0], (sim::Bytes{0x05, 0x06, 0x00, 0x02, 0x00, 0x06, 0xA9, 0x8C}));
  EXPECT_EQ(t.state().BaudIndex, 5);
  EXPECT_EQ(w.StatusBar1.PanelText(2), kCyrillic + "5; Baud = 19200");
  EXPECT_EQ(t.dialogs.questions, (std::vector<std::string>{kQuestion}));
  EXPECT_EQ(CheckedBaudItems(w), (std::vector<std::string>{"19200"}));
  EXPECT_EQ(w.StatusBar1.PanelText(1), "BaudRate = 19200");
  EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br19200);
  EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
  EXPECT_EQ(w.TeSComboBox1.ItemIndex(), 5) << "the combo box keeps the user's choice";
  // Both ends now run at 19200 bit/s.
  t.Click(w.TeButton5);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.line.CurrentBaudRate(), 19200u);
  EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
}

TEST(InterfaceChanges, ASpeedChangeWithNoLeavesThePortAndTheNextQueryFails) {
  SimulatedForm t;
  StartAt(t, 5);
  t.dialogs.answers = {DialogAnswer::No};
  t.state().ResetStepCount = 7;
  t.Do([&] { t.w().TeSComboBox1.Select(5); });
  ASSERT_TRUE(t.RunUntilIdle());
  TForm1& w = t.w();
  EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br9600);
  EXPECT_EQ(w.StatusBar1.PanelText(1), "BaudRate = 9600");
  EXPECT_EQ(CheckedBaudItems(w), (std::vector<std::string>{"9600"}));
  EXPECT_EQ(t.state().BaudIndex, 5);
  EXPECT_EQ(t.state().ResetStepCount, 0);
  t.Click(w.TeButton5);
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_EQ(t.LogLines().back(), testing::kTimeOutLine) << "the detector runs at 19200 now";
}

TEST(InterfaceChanges, WhereAServerKeepsTheSpeedTheWindowAsksBeforeItWrites) {
  const std::string lost =
      "Скорость линии задаёт сервер, а не COM-порт ПК: детектор на другой скорости будет "
      "потерян.";
  const std::string change = lost + " Сменить скорость обмена детектора?";
  const std::string reset = lost + " Сбросить настройки интерфейса (адрес 247, 9600 бит/с)?";
  const struct Case {
    const char* port;
    bool reset;  // the interface reset, else a speed change to 19200
    DialogAnswer answer;
    std::size_t writes;
    std::vector<std::string> questions;
  } cases[] = {
      {"tcp://127.0.0.1:5020", false, DialogAnswer::No, 0, {change}},
      {"tcp://127.0.0.1:5020", false, DialogAnswer::Yes, 1, {change, kQuestion + " " + lost}},
      {"modbus-tcp://[::1]", true, DialogAnswer::No, 0, {reset}},
      {"modbus-tcp://[::1]", true, DialogAnswer::Yes, 2, {reset}},
      {"rfc2217://127.0.0.1:4001", false, DialogAnswer::No, 1, {kQuestion}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.port) + (c.reset ? " reset" : " speed"));
    SimulatedForm t;
    t.dialogs.answers = {c.answer, DialogAnswer::No};
    t.Do([&] { t.w().ComPort1().SetPort(c.port); });
    c.reset ? t.Click(t.w().TeButton2) : t.Do([&] { t.w().TeSComboBox1.Select(5); });
    ASSERT_TRUE(t.RunUntilIdle());
    EXPECT_EQ(t.Requests().size(), c.writes);
    EXPECT_EQ(t.dialogs.questions, c.questions);
  }
}

TEST(InterfaceChanges, TheSpeedThePcAlreadyHasChangesNothingButTheLog) {
  SimulatedForm t;
  t.Do([&] { t.w().TeSComboBox1.Select(3); });  // 9600 at BaudIndex 3
  ASSERT_TRUE(t.RunUntilIdle());
  EXPECT_TRUE(t.dialogs.questions.empty());
  EXPECT_EQ(t.w().StatusBar1.PanelText(2), kLatin + "247; Baud = 9600");
  EXPECT_EQ(t.LogLines().back(), testing::kOkLine);
}

TEST(InterfaceChanges, AnEchoedCodeOutsideOneToEightIsShownAndOfferedAs9600) {
  for (std::uint8_t code : {0, 9}) {
    SimulatedForm t;
    t.Do([&] { t.w().BR_19200.Click(); });
    t.line.ScriptAnswer(WithCrc({0xF7, 0x06, 0x00, 0x02, 0x00, code}));
    t.dialogs.answers = {DialogAnswer::Yes};
    t.Do([&] { t.w().TeSComboBox1.Select(0); });
    ASSERT_TRUE(t.RunUntilIdle());
    EXPECT_EQ(t.state().BaudIndex, 3) << int(code);
    EXPECT_EQ(t.w().StatusBar1.PanelText(2), kCyrillic + "247; Baud = 9600") << int(code);
    EXPECT_EQ(t.dialogs.questions.size(), 1u) << int(code);
    EXPECT_EQ(t.w().ComPort1().BaudRate(), TBaudRate::br9600) << int(code);
  }
}

TEST(InterfaceChanges, BothChangesSendNothingDuringABusSearch) {
  SimulatedForm t;
  t.state().SessionMode = 254;
  t.Click(t.w().TeButton1);
  t.Do([&] { t.w().TeSComboBox1.Select(5); });
  t.RunUntilIdle();
  EXPECT_TRUE(t.Requests().empty());
}

TEST(InterfaceChanges, ASpeedChangeDuringACyclicQueryWaitsForTheExchangeInFlight) {
  SimulatedForm t;
  TForm1& w = t.w();
  t.Click(w.TeCheckBox1);
  t.Click(w.TeButton5);  // "СТОП": the cycle runs
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 1; }));
  ASSERT_TRUE(w.Timer_Rx.Enabled());
  t.dialogs.answers = {DialogAnswer::No};
  t.Do([&] { w.TeSComboBox1.Select(3); });
  EXPECT_EQ(t.Requests().size(), 1u) << "deferred, not sent";
  ASSERT_TRUE(t.RunToCompletion());
  const Micros query_done = t.Completions().back();
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 2; }));
  EXPECT_EQ(t.Requests()[1], WithCrc({0xF7, 0x06, 0x00, 0x02, 0x00, 0x04}));
  EXPECT_EQ(t.line.RequestTimes()[1] - query_done, Millis(20));
  ASSERT_TRUE(t.RunToCompletion());
  const Micros change_done = t.Completions().back();
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 3; }));
  EXPECT_EQ(t.Requests()[2][1], 0x03) << "the cycle goes on with a query";
  EXPECT_EQ(t.line.RequestTimes()[2] - change_done, Millis(500));
  t.Click(w.TeButton5);
}

TEST(InterfaceChanges, NothingRunsInsideTheCompletionWhileItsDialogIsOpen) {
  SimulatedForm t;
  TForm1& w = t.w();
  t.Click(w.TeCheckBox1);
  t.Click(w.TeButton5);
  ASSERT_TRUE(t.RunToCompletion());  // first query of the cycle
  // Between two queries the speed change goes out at once...
  t.Do([&] { w.TeSComboBox1.Select(5); });
  ASSERT_EQ(t.Requests().size(), 2u);
  // ...and an alarm reset pressed while it is in flight waits for its completion.
  t.Click(w.TeButton3);
  ASSERT_EQ(t.Requests().size(), 2u);
  ASSERT_EQ(t.state().ActionDeferred, 1);
  std::size_t sent_while_open = 0;
  Micros dialog_closed{0};
  t.dialogs.answers = {DialogAnswer::No};
  t.dialogs.while_open = [&] {
    const std::size_t before = t.Requests().size();
    t.AdvanceMs(1000);  // the dialog stays open for a second
    sent_while_open = t.Requests().size() - before;
    dialog_closed = t.Now();
  };
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(sent_while_open, 0u);
  ASSERT_TRUE(t.RunUntil([&] { return t.Requests().size() == 3; }));
  EXPECT_EQ(t.Requests()[2], WithCrc({0xF7, 0x06, 0x00, 0x06, 0xAA, 0x55}));
  EXPECT_EQ(t.line.RequestTimes()[2] - dialog_closed, Millis(20))
      << "20 ms after the completion has returned";
  ASSERT_TRUE(t.RunToCompletion());
  EXPECT_EQ(t.LogLines().back(), testing::kTimeOutLine)
      << "the detector moved to 19200 bit/s; the PC stayed at 9600";
  t.Click(w.TeButton5);
}

}  // namespace
}  // namespace ornat
