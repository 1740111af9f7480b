// The interface parameter changes and the interface reset for real: TForm1 with its
// real port over a pseudo-terminal against ornat-sim. The simulated detector takes a
// new address or line speed once its echo is out and from then on ignores frames at
// any other; the wire log and the console show what it did.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "serial/comport.h"
#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

const std::string kLatin = "DEVICE : A = ";
const std::string kCyrillic = "DEVICE : \u0410 = ";
// "COM" Latin.
const std::string kQuestion = "Сменить скорость обмена COM-порта ПК?";

// The log of a write whose echo came back.
std::vector<std::string> EchoedWrite(const std::vector<std::uint8_t>& frame) {
  return {TxLine(frame), RxLine(frame), kOkLine};
}

// A field of the selected detector's description ("#0 addr=5 speed=6 (19200) ...").
std::optional<int> Shown(SimProcess& sim, const std::string& field) {
  auto line = sim.Command("select #0");
  if (!line) return std::nullopt;
  const std::string key = " " + field + "=";
  const auto at = line->find(key);
  if (at == std::string::npos) return std::nullopt;
  return std::stoi(line->substr(at + key.size()), nullptr, 0);
}

// The interface changes the simulator logged ("#0 address 247 -> 5"), in order.
std::vector<std::string> WireChanges(const SimProcess& sim) {
  std::vector<std::string> out;
  std::ifstream in(sim.runtime_dir() + "/wire.log");
  std::string line;
  while (std::getline(in, line)) {
    const auto at = line.find(" EV #");
    if (at != std::string::npos) out.push_back(line.substr(at + 4));
  }
  return out;
}

std::vector<std::string> CheckedBaudItems(TForm1& w) {
  std::vector<std::string> out;
  for (unsigned i = 0; i < 8; ++i)
    if (w.BaudItem(i).Checked()) out.push_back(w.BaudItem(i).Caption());
  return out;
}

// The parameter query of the detector at `address`, answered.
void ExpectQueryAnswers(LiveForm& t, std::uint8_t address) {
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  const auto log = t.LogLines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], TxLine(WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x08})));
  EXPECT_EQ(log[1].substr(0, 14), RxLine({address, 0x03, 0x10}));
  EXPECT_EQ(log.back(), kOkLine);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), kTypeCell);
}

TEST(InterfacePty, TheDetectorMovesToAddress5And19200WithYesAndAnswersThere) {
  Watchdog dog(60s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();

  // Address 247 -> 5 at 9600 bit/s.
  t.Do([&] { w.TeSpinEdit2.SetText("5"); });
  t.Click(w.TeButton1);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), EchoedWrite({0xF7, 0x06, 0x00, 0x01, 0x00, 0x05, 0x0C, 0x9F}));
  EXPECT_EQ(t.state().DeviceAddress, 5);
  EXPECT_EQ(w.TeSpinEdit1.Text(), "5");
  EXPECT_EQ(w.TeLabel5.Caption(), "АДРЕС ПРИБОРА - 005");
  EXPECT_EQ(w.StatusBar1.PanelText(2), kLatin + "005; Baud = 9600");
  EXPECT_EQ(Shown(sim, "addr"), 5);

  // 19200 bit/s at address 5; the PC follows.
  t.dialogs.answers = {DialogAnswer::Yes};
  t.Do([&] { w.TeSComboBox1.Select(5); });
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), EchoedWrite({0x05, 0x06, 0x00, 0x02, 0x00, 0x06, 0xA9, 0x8C}));
  EXPECT_EQ(t.dialogs.questions, (std::vector<std::string>{kQuestion}));
  EXPECT_EQ(t.state().BaudIndex, 5);
  EXPECT_EQ(w.StatusBar1.PanelText(2), kCyrillic + "5; Baud = 19200");
  EXPECT_EQ(w.StatusBar1.PanelText(1), "BaudRate = 19200");
  EXPECT_EQ(CheckedBaudItems(w), (std::vector<std::string>{"19200"}));
  EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br19200);
  EXPECT_EQ(Shown(sim, "speed"), 6);
  EXPECT_EQ(WireChanges(sim), (std::vector<std::string>{"#0 address 247 -> 5", "#0 speed 4 -> 6"}));

  // Both ends at 19200 bit/s: the query at address 5 is understood and answered.
  ExpectQueryAnswers(t, 5);
  const auto requests = sim.WireRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().note, "");
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

TEST(InterfacePty, TheResetTimesOutAgainstAMovedDetectorAndBringsTheWindowBackTo247At9600) {
  Watchdog dog(60s);
  SimProcess sim({"--detector", "5:speed=6"});
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();
  // The window at the detector's address and speed, as after the changes above.
  t.Do([&] {
    w.TeSpinEdit1.SetText("5");
    w.BR_19200.Click();
  });
  ASSERT_EQ(w.ComPort1().BaudRate(), TBaudRate::br19200);
  ExpectQueryAnswers(t, 5);

  // The reset writes to slave 247 at 9600 bit/s: a detector at 5 / 19200 bit/s hears
  // neither step, and after the second time-out the PC port goes back to 19200.
  t.Click(w.TeButton2);
  ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 3; }, 5s));
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : F7 06 00 02 00 04 3D 5F ", "RX :", kTimeOutLine}));
  EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br19200);
  EXPECT_EQ(t.state().BaudIndex, 5);
  EXPECT_TRUE(t.dialogs.questions.empty());
  auto requests = sim.WireRequests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[requests.size() - 2].hex, "F7 06 00 01 00 F7 8D 1A");
  EXPECT_EQ(requests.back().hex, "F7 06 00 02 00 04 3D 5F");
  EXPECT_EQ(requests.back().note, "not-addressed");
  ExpectQueryAnswers(t, 5);

  // The detector's own service reset (its console here) puts it back to 247 /
  // 9600 bit/s; the window still runs at 19200. Now both steps are acknowledged, and
  // Yes moves the PC port to 9600.
  ASSERT_EQ(sim.Command("factory").value_or("").rfind("OK", 0), 0u);
  t.dialogs.answers = {DialogAnswer::Yes};
  t.Click(w.TeButton2);
  ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() == 6; }, 5s));
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : F7 06 00 02 00 04 3D 5F ",
                                      "RX : F7 06 00 02 00 04 3D 5F ", kResetOkLine, kOkLine}));
  EXPECT_EQ(t.dialogs.questions, (std::vector<std::string>{kQuestion}));
  EXPECT_EQ(t.state().DeviceAddress, 247);
  EXPECT_EQ(t.state().BaudIndex, 3);
  EXPECT_EQ(w.TeSpinEdit1.Text(), "247");
  EXPECT_EQ(w.TeLabel5.Caption(), "АДРЕС ПРИБОРА - 247");
  EXPECT_EQ(w.StatusBar1.PanelText(2), kCyrillic + "247; Baud = 9600");
  EXPECT_EQ(w.StatusBar1.PanelText(1), "BaudRate = 9600");
  EXPECT_EQ(CheckedBaudItems(w), (std::vector<std::string>{"9600"}));
  EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br9600);
  requests = sim.WireRequests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[requests.size() - 2].hex, "F7 06 00 01 00 F7 8D 1A");
  EXPECT_EQ(requests[requests.size() - 2].note, "");
  EXPECT_EQ(requests.back().note, "");
  EXPECT_EQ(Shown(sim, "addr"), 247);
  EXPECT_EQ(Shown(sim, "speed"), 4);
  ExpectQueryAnswers(t, 247);
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

TEST(InterfacePty, WithNoTheNextQueryAtTheOldPcSpeedFails) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string outcome;
    // How the simulator logged the query: its request's note and, if it answered,
    // its answer's.
    std::string request_note;
    std::string answer_note;
  };
  const Case cases[] = {
      {"a detector that ignores a foreign speed", {}, kTimeOutLine, "foreign-speed", ""},
      {"a detector that garbles it", {"--garble", "--seed", "7"}, kCrcErrorLine, "", "garbled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Watchdog dog(60s);
    SimProcess sim(c.args);
    ASSERT_TRUE(sim.Started());
    LiveForm t(sim.pty_path());
    TForm1& w = t.w();
    t.state().ResetStepCount = 2;
    t.dialogs.answers = {DialogAnswer::No};
    t.Do([&] { w.TeSComboBox1.Select(5); });
    ASSERT_TRUE(t.RunToCompletion(3s));
    EXPECT_EQ(t.LogLines(), EchoedWrite(WithCrc({0xF7, 0x06, 0x00, 0x02, 0x00, 0x06})));
    EXPECT_EQ(t.dialogs.questions, (std::vector<std::string>{kQuestion}));
    EXPECT_EQ(t.state().BaudIndex, 5) << "the detector's new speed";
    EXPECT_EQ(t.state().ResetStepCount, 0);
    EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br9600);
    EXPECT_EQ(w.StatusBar1.PanelText(1), "BaudRate = 9600");
    EXPECT_EQ(w.StatusBar1.PanelText(2), kCyrillic + "247; Baud = 19200");
    EXPECT_EQ(Shown(sim, "speed"), 6);

    t.Click(w.TeButton5);
    ASSERT_TRUE(t.RunToCompletion(3s));
    EXPECT_EQ(t.LogLines().front(), "TX : F7 03 00 00 00 08 50 9A ");
    EXPECT_EQ(t.LogLines().back(), c.outcome);
    const auto requests = sim.WireRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests.back().note, c.request_note);
    const auto answers = sim.WireAnswers();
    ASSERT_EQ(answers.size(), c.answer_note.empty() ? 1u : 2u);
    EXPECT_EQ(answers.back().note, c.answer_note.empty() ? "" : c.answer_note);

    // The user follows by hand from the baud-rate menu, and the detector answers.
    t.Do([&] { w.BR_19200.Click(); });
    ExpectQueryAnswers(t, 247);
    EXPECT_TRUE(t.dialogs.exceptions.empty());
  }
}

TEST(InterfacePty, NothingIsSentWhileTheSpeedDialogIsOpenDuringTheCyclicQuery) {
  Watchdog dog(60s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  TForm1& w = t.w();
  t.Click(w.TeCheckBox1);
  t.Click(w.TeButton5);  // the cycle runs
  ASSERT_TRUE(t.RunToCompletion(3s));
  ASSERT_EQ(t.LogLines().back(), kOkLine);
  // Between two queries the speed change goes out at once; an alarm reset pressed
  // while it is in flight waits for its completion, whose dialog stays open for a
  // second while the loop goes on delivering.
  t.Do([&] { w.TeSComboBox1.Select(5); });
  t.Click(w.TeButton3);
  ASSERT_EQ(t.state().ActionDeferred, 1);
  std::size_t requests_while_open = 0;
  std::size_t completions_while_open = 0;
  SimProcess::Clock::time_point closed{};
  t.dialogs.answers = {DialogAnswer::Yes};
  t.dialogs.while_open = [&] {
    const std::size_t requests = sim.WireRequests().size();
    const std::size_t completions = t.Completions().size();
    t.RunFor(1000ms);
    requests_while_open = sim.WireRequests().size() - requests;
    completions_while_open = t.Completions().size() - completions;
    closed = SimProcess::Clock::now();
  };
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.dialogs.questions.size(), 1u);
  EXPECT_EQ(requests_while_open, 0u);
  EXPECT_EQ(completions_while_open, 0u);
  // After the dialog: the alarm reset, now at 19200 bit/s, then the cycle goes on.
  t.dialogs.while_open = nullptr;
  ASSERT_TRUE(t.RunUntil([&] { return t.Completions().size() >= 4; }, 5s));
  const auto requests = sim.WireRequests();
  ASSERT_GE(requests.size(), 4u);
  EXPECT_EQ(requests[2].hex, "F7 06 00 06 AA 55 C3 C2");
  EXPECT_GT(requests[2].first, closed);
  EXPECT_EQ(requests[2].note, "");
  EXPECT_EQ(requests[3].hex, "F7 03 00 00 00 08 50 9A");
  EXPECT_EQ(requests[3].note, "");
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  t.Click(w.TeButton5);  // "СТОП"
  t.RunFor(700ms);
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

}  // namespace
}  // namespace ornat::testing
