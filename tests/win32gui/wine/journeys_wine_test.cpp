// The Win32 window end to end under Wine: ornat.exe over the Win32 serial device on
// COM1, which leads to ornat-sim on a pty, worked from a second process through its
// controls as a screen reader or a test tool works them. Each journey from a fresh start.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/hex.h"
#include "support/line_texts.h"
#include "support/text_lines.h"
#include "wine_window.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;
using Frame = std::vector<std::uint8_t>;

// The answer of a detector at `address` to the parameter query, as the simulator gives it.
Frame QueryAnswer(std::uint8_t address, std::uint8_t state, std::uint8_t tactic, std::uint8_t latch,
                  std::uint8_t test) {
  return WithCrc({address, 0x03, 0x10, 0x00, 0x10, 0x00, address, 0x00, 0x04, 0x00, state, 0x00,
                  tactic, 0x00, latch, 0x00, 0x00, 0x00, test});
}

const Frame kQuery247 = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line += text[i];
    }
  }
  return lines;
}

std::vector<std::string> Requests(SimProcess& sim) {
  return FramesHex(sim.WireRequests());
}

TEST(WindowUnderWine, TheQueryButtonAsksTheDetectorAndTheWindowShowsTheDecodedAnswer) {
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(96, {});
  ASSERT_EQ(win.Why(), "");
  // The latch register holds 1 while latching is off.
  for (const char* cmd : {"tactic 5", "test on", "latch off"})
    ASSERT_TRUE(win.sim().Command(cmd)) << cmd;
  Driver& d = win.driver();
  ASSERT_EQ(d.Ask("click TeButton5"), "ok");
  ASSERT_TRUE(d.WaitFor("TeMemo1", kOkLine, 10s)) << d.Text("TeMemo1");
  const Frame answer = QueryAnswer(0xF7, 0, 5, 1, 1);
  std::vector<std::string> expected = {TxLine(kQuery247)};
  for (const std::string& l : AnswerLines(answer)) expected.push_back(l);
  expected.push_back(kOkLine);
  EXPECT_EQ(Lines(d.Text("TeMemo1")), expected);
  // The decoded answer: the grid's cells, the tactic's button, the two boxes.
  EXPECT_EQ(d.Text("StatusGrid"), "  ТИП\t" + kTypeCell + "\r\n  СТАТУС\t" + kNormalCell);
  const auto controls = d.Controls();
  for (const char* tactic :
       {"IRMAX_Button", "IRMIN_Button", "T1MAX_Button", "T2MAX_Button", "T2MIN_Button",
        "T3_100MAX_Button", "T3_100MIN_Button", "T3_500MAX_Button", "T3_500MIN_Button"})
    EXPECT_EQ(controls.at(tactic).check, std::string(tactic) == "T3_100MAX_Button" ? 1 : 0)
        << tactic;
  EXPECT_EQ(controls.at("TST_Button").check, 1);
  EXPECT_EQ(controls.at("FIX_Button").check, 0);
  // On the line: the one request, and the answer the window showed; showing the
  // configuration wrote nothing back.
  d.Ask("sleep 300");
  EXPECT_EQ(Requests(win.sim()), (std::vector<std::string>{ToHex(kQuery247)}));
  const auto answers = win.sim().WireAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].hex, ToHex(answer));

  // Alt+З, the button's accelerator, queries again without moving the focus; the alarm
  // raised meanwhile shows.
  ASSERT_TRUE(win.sim().Command("alarm"));
  const std::string focus = d.Ask("focus");
  ASSERT_EQ(d.Ask("char TeMenuBar1 1079 sys"), "ok");  // з
  ASSERT_TRUE(d.WaitFor("StatusGrid", kAlarmCell, 10s)) << d.Text("StatusGrid");
  EXPECT_EQ(Requests(win.sim()).size(), 2u);
  EXPECT_EQ(d.Ask("focus"), focus);
}

TEST(WindowUnderWine, ASpeedPickedFromTheListIsSentAndTheWindowAsksWhetherThePortFollows) {
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(96, {});
  ASSERT_EQ(win.Why(), "");
  Driver& d = win.driver();
  constexpr unsigned kDown = 0x28, kReturn = 0x0D;
  // The wheel over the closed list and a key that would step it send nothing: the
  // list drops down instead, and Esc closes it without a pick.
  ASSERT_EQ(d.Ask("wheel TeSComboBox1 -120"), "ok");
  ASSERT_EQ(d.Ask("key TeSComboBox1 " + std::to_string(kDown)), "ok");
  ASSERT_EQ(d.Ask("key TeSComboBox1 27"), "ok");
  d.Ask("sleep 500");
  EXPECT_EQ(d.Text("TeSComboBox1"), "9600");
  EXPECT_TRUE(Requests(win.sim()).empty());

  // Dropped down, two steps down to 19200 and Enter: the pick.
  ASSERT_EQ(d.Ask("key TeSComboBox1 " + std::to_string(kDown)), "ok");
  ASSERT_EQ(d.Ask("key TeSComboBox1 " + std::to_string(kDown)), "ok");
  ASSERT_EQ(d.Ask("key TeSComboBox1 " + std::to_string(kDown)), "ok");
  d.Ask("sleep 200");
  EXPECT_TRUE(Requests(win.sim()).empty()) << "moving along the opened list sends nothing";
  ASSERT_EQ(d.Ask("key TeSComboBox1 " + std::to_string(kReturn)), "ok");
  // The write of code 6 to register 2; the echo brings the question as a message box.
  const Frame write = WithCrc({0xF7, 0x06, 0x00, 0x02, 0x00, 0x06});
  const std::vector<std::string> boxes = WaitForBoxes(d);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(DriverUnescape(boxes[0].substr(4)), "Warning\tСменить скорость обмена COM-порта ПК?");
  EXPECT_EQ(Requests(win.sim()), (std::vector<std::string>{ToHex(write)}));
  EXPECT_EQ(StatusPanel(d, 2), "DEVICE : \u0410 = 247; Baud = 19200");  // Cyrillic А
  // No: the PC port stays at 9600 bit/s.
  ASSERT_EQ(d.Ask("answer &No"), "ok");
  ASSERT_TRUE(d.WaitFor("TeMemo1", kOkLine, 10s)) << d.Text("TeMemo1");
  EXPECT_EQ(StatusPanel(d, 1), "BaudRate = 9600");
  EXPECT_EQ(d.Text("TeSComboBox1"), "19200");
  EXPECT_TRUE(d.AskLines("boxes").empty());
}

// An edit of the address editor from another program, and what the editor holds after.
struct AddressEdit {
  const char* how;     // driver command, with NAME for the editor
  const char* text;    // what the editor shows afterwards
  const char* panel2;  // panel 2 afterwards
};

TEST(WindowUnderWine, TheAddressEditorTakesOnlyAnAddressAndNoneOfItsEditsSendsAnything) {
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(96, {});
  ASSERT_EQ(win.Why(), "");
  Driver& d = win.driver();
  const AddressEdit edits[] = {
      // Another program's WM_SETTEXT is judged as pasted text.
      {"settext NAME 300", "247", "DEVICE : A = 247; Baud = 9600"},
      {"settext NAME 0", "247", "DEVICE : A = 247; Baud = 9600"},
      {"settext NAME 12a", "247", "DEVICE : A = 247; Baud = 9600"},
      {"settext NAME 5", "5", "DEVICE : A = 005; Baud = 9600;"},
      // Typed: a digit after the 5, then a fourth character refused.
      {"char NAME 52", "54", "DEVICE : A = 054; Baud = 9600;"},
      // 541 is no address: until Enter or leaving the field brings it into range, the
      // requests would go to 247, not to 541 & 0xFF (29).
      {"char NAME 49", "541", "DEVICE : A = 247; Baud = 9600;"},
      {"char NAME 57", "541", "DEVICE : A = 247; Baud = 9600;"},
      {"char NAME 45", "541", "DEVICE : A = 247; Baud = 9600;"},
      // The wheel changes nothing; Enter brings the value into range.
      {"wheel NAME 120", "541", "DEVICE : A = 247; Baud = 9600;"},
      {"char NAME 13", "247", "DEVICE : A = 247; Baud = 9600;"},
      {"settext NAME 7", "7", "DEVICE : A = 007; Baud = 9600;"},
      {"paste NAME 12x", "7", "DEVICE : A = 007; Baud = 9600;"},
      {"paste NAME 4", "74", "DEVICE : A = 074; Baud = 9600;"},
  };
  for (const AddressEdit& e : edits) {
    std::string command = e.how;
    command.replace(command.find("NAME"), 4, "TeSpinEdit1");
    SCOPED_TRACE(command);
    ASSERT_EQ(d.Ask(command), "ok");
    d.Ask("sleep 100");
    EXPECT_EQ(d.Text("TeSpinEdit1"), e.text);
    EXPECT_EQ(StatusPanel(d, 2), e.panel2);
  }
  EXPECT_EQ(d.Text("TeLabel5"), "АДРЕС ПРИБОРА - 074");
  EXPECT_TRUE(Requests(win.sim()).empty());
}

TEST(WindowUnderWine, WithAJournalEachExchangeOfTheWindowIsOneLine) {
  const std::string dir = std::string(ORNAT_SCREENSHOT_DIR) + "/../win32gui-journal";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "/Журнал");
  // A path in letters that no one ANSI code page holds: it arrives whole.
  const std::string path = std::filesystem::canonical(dir).string() + "/Журнал/Résumé.jsonl";
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(96, {"--no-console", "--detector", "247:alarm"}, {"--journal", "Z:" + path});
  ASSERT_EQ(win.Why(), "");
  Driver& d = win.driver();
  for (std::size_t i = 1; i <= 2; ++i) {
    ASSERT_EQ(d.Ask("click TeButton5"), "ok");
    for (int t = 0; t < 100 && FileLines(path).size() < i; ++t) d.Ask("sleep 50");
    ASSERT_EQ(FileLines(path).size(), i);
  }
  const auto lines = FileLines(path);
  const auto requests = win.sim().WireRequests();
  const auto answers = win.sim().WireAnswers();
  ASSERT_EQ(requests.size(), 2u);
  ASSERT_EQ(answers.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const auto line = nlohmann::json::parse(lines[i]);
    EXPECT_EQ(line["program"], "ornat");
    EXPECT_EQ(line["port"], "COM1");
    EXPECT_EQ(line["operation"], "query");
    EXPECT_EQ(line["request"], requests[i].hex);
    EXPECT_EQ(line["answer"], answers[i].hex);
  }
  // The log pane shows the last exchange, as it does without a journal.
  EXPECT_EQ(nlohmann::json::parse(lines[1])["log"].get<std::vector<std::string>>(),
            Lines(d.Text("TeMemo1")));
  EXPECT_EQ(d.Text("StatusGrid"), "  ТИП\t" + kTypeCell + "\r\n  СТАТУС\t" + kAlarmCell);
}

TEST(WindowUnderWine, AJournalThatCannotBeOpenedIsToldInABoxAsideAndTheWindowWorks) {
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  WineWindow win(96, {"--no-console"}, {"--journal", "Z:/nonexistent-folder/window.jsonl"});
  ASSERT_EQ(win.Why(), "");
  Driver& d = win.driver();
  const std::vector<std::string> boxes = WaitForBoxes(d);
  ASSERT_EQ(boxes.size(), 1u);
  const std::string box = DriverUnescape(boxes[0].substr(4));
  EXPECT_EQ(box.rfind("ornat\tThe journal cannot be kept: ", 0), 0u) << box;
  EXPECT_NE(box.find("The window runs without a journal."), std::string::npos) << box;
  // The box stops nothing: a query goes through while it is open.
  ASSERT_EQ(d.Ask("click TeButton5"), "ok");
  EXPECT_TRUE(d.WaitFor("TeMemo1", kOkLine, 10s)) << d.Text("TeMemo1");
  EXPECT_EQ(d.AskLines("boxes").size(), 1u);
}

}  // namespace
}  // namespace ornat::testing
