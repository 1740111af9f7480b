#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "serial/comport.h"
#include "serial/port_discovery.h"
#include "support/basic_form.h"
#include "ui/exchange_log.h"

namespace ornat {
namespace {

using testing::BasicForm;
using testing::TempDir;
using Names = std::vector<std::string>;

Names Captions(TForm1& w) {
  Names out;
  for (std::size_t i = 0; i < w.PORT1.Count(); ++i) out.push_back(w.PORT1.Item(i)->Caption());
  return out;
}

Names Checked(TForm1& w) {
  Names out;
  for (std::size_t i = 0; i < w.PORT1.Count(); ++i)
    if (w.PORT1.Item(i)->Checked()) out.push_back(w.PORT1.Item(i)->Caption());
  return out;
}

const std::string kFileMissing = std::string(msg::kFileError) + "File not found.";

TEST(PortDiscovery, ChoosesTheCurrentPortElseCom1ElseTheFirst) {
  struct Case {
    const char* name;
    Names list;
    std::string port_before;
    std::string chosen;
  } cases[] = {
      {"COM1 listed second", {"COM3", "COM1"}, "COM1", "COM1"},
      {"no COM1", {"COM3", "COM4"}, "COM1", "COM3"},
      {"earlier choice ahead of COM1", {"COM3", "COM1", "COM4"}, "COM4", "COM4"},
      {"letter case differs", {"com4", "COM3"}, "COM4", "com4"},
      {"letter case differs, COM1 there", {"com4", "COM1"}, "COM4", "COM1"},
      {"linux names", {"ornat-sim", "ttyS0", "ttyUSB0"}, "COM1", "ornat-sim"},
      {"current linux port", {"ornat-sim", "ttyS0", "ttyUSB0"}, "ttyUSB0", "ttyUSB0"},
  };
  for (const Case& c : cases) {
    BasicForm f;
    f.ports.ports = c.list;
    f.form->ComPort1().SetPort(c.port_before);
    f.Create();
    TForm1& w = *f.form;
    EXPECT_EQ(Captions(w), c.list) << c.name;
    EXPECT_EQ(Checked(w), Names{c.chosen}) << c.name;
    EXPECT_EQ(w.ComPort1().Port(), c.chosen) << c.name;
    EXPECT_EQ(w.StatusBar1.PanelText(0), c.chosen) << c.name;
    EXPECT_EQ(w.TeMemo1.Lines(), (Names{"TX :", "RX :"})) << c.name << ": log untouched";
  }
}

TEST(PortDiscovery, FallsBackToTheFileWithTheLogLinesOfEachVariant) {
  struct Case {
    const char* name;
    bool list_opens;
    const char* file;  // nullptr: no file
    Names items;
    std::string port_after;
    Names log;
    TColor colour;
  } cases[] = {
      {"list refused, no file",
       false,
       nullptr,
       {},
       "COM1",
       {msg::kRegistryError, msg::kFileRequest, kFileMissing},
       clBlue},
      {"list refused, file read",
       false,
       "COM2\nCOM1\n",
       {"COM2", "COM1"},
       "COM1",
       {msg::kRegistryError, msg::kFileRequest, msg::kFileOk},
       clNavy},
      {"list refused, empty file",
       false,
       "",
       {},
       "COM1",
       {msg::kRegistryError, msg::kFileRequest, msg::kFileOk},
       clNavy},
      {"list empty, no file", true, nullptr, {}, "COM1", {kFileMissing}, clBlue},
      {"list empty, file read quietly",
       true,
       "ttyUSB3\n",
       {"ttyUSB3"},
       "ttyUSB3",
       {"TX :", "RX :"},
       clNavy},
      {"windows line ends",
       false,
       "COM7\r\nCOM8\r\n",
       {"COM7", "COM8"},
       "COM7",
       {msg::kRegistryError, msg::kFileRequest, msg::kFileOk},
       clNavy},
      {"empty line and a path",
       true,
       "\n/dev/pts/7",
       {"", "/dev/pts/7"},
       "",
       {"TX :", "RX :"},
       clNavy},
  };
  for (const Case& c : cases) {
    BasicForm f;
    if (!c.list_opens) f.ports.ports.reset();
    if (c.file != nullptr) f.dir.Write("comports.txt", c.file);
    f.Create();
    TForm1& w = *f.form;
    EXPECT_EQ(Captions(w), c.items) << c.name;
    EXPECT_EQ(w.ComPort1().Port(), c.port_after) << c.name;
    EXPECT_EQ(w.TeMemo1.Lines(), c.log) << c.name;
    EXPECT_EQ(w.TeMemo1.FontColor(), c.colour) << c.name;
    EXPECT_EQ(w.StatusBar1.PanelText(0), c.items.empty() ? "" : c.port_after) << c.name;
  }
}

TEST(PortDiscovery, TheFileGivesAtMostTenItems) {
  BasicForm f;
  f.ports.ports.reset();
  std::string content;
  for (int i = 1; i <= 12; ++i) content += "COM" + std::to_string(i) + "\n";
  f.dir.Write("comports.txt", content);
  f.Create();
  EXPECT_EQ(f.form->PORT1.Count(), 10u);
  EXPECT_EQ(f.form->TeMemo1.Lines().back(), msg::kFileOk);
  EXPECT_EQ(Checked(*f.form), Names{"COM1"});
}

TEST(PortDiscovery, AFileListSetsTheFirstPortBeforeSelecting) {
  BasicForm f;
  f.ports.ports.reset();
  f.dir.Write("comports.txt", "COM2\nCOM1\n");
  f.form->ComPort1().SetPort("COM1");
  f.form->ComPort1().OnBeforeOpen = nullptr;
  std::vector<std::string> panel0;
  f.form->StatusBar1.Changed().Connect([&] { panel0.push_back(f.form->StatusBar1.PanelText(0)); });
  f.Create();
  ASSERT_GE(panel0.size(), 2u);
  EXPECT_NE(std::find(panel0.begin(), panel0.end(), "COM2"), panel0.end());
  EXPECT_EQ(panel0.back(), "COM1");
}

TEST(PortDiscovery, EveryPressOnTheMenuBarRebuildsTheList) {
  BasicForm f;
  f.ports.ports = Names{"ttyS0", "ttyS1"};
  f.Create();
  f.ports.ports = Names{"ttyS0", "ttyS1", "ttyUSB0"};
  f.form->TeMenuBar1.MouseDown(TMouseButton::mbRight);
  EXPECT_EQ(Captions(*f.form), (Names{"ttyS0", "ttyS1", "ttyUSB0"}));
  EXPECT_EQ(f.ports.calls, 2);
  EXPECT_EQ(f.form->PortItems.size(), 3u);
}

TEST(PortDiscovery, KeepsEveryPortOfALongList) {
  BasicForm f;
  Names forty;
  for (int i = 0; i < 40; ++i) forty.push_back("ttyUSB" + std::to_string(i));
  f.ports.ports = forty;
  f.Create();
  EXPECT_EQ(Captions(*f.form), forty);
}

TEST(PortDiscovery, ClickingAnItemMovesTheMarkThePortAndPanelZero) {
  BasicForm f;
  f.ports.ports = Names{"ttyS0", "ttyUSB0", "COM1"};
  f.Create();
  ASSERT_EQ(Checked(*f.form), Names{"COM1"});
  f.form->PORT1.Item(1)->Click();
  EXPECT_EQ(Checked(*f.form), Names{"ttyUSB0"});
  EXPECT_EQ(f.form->ComPort1().Port(), "ttyUSB0");
  EXPECT_EQ(f.form->StatusBar1.PanelText(0), "ttyUSB0");
}

TEST(PortDiscovery, AReopenThatFailsInMyIsDroppedAndPanelZeroKeepsItsText) {
  BasicForm f;
  f.ports.ports = Names{"COM1", "COM2"};
  f.Create();
  f.form->ComPort1().OpenPort();  // as during a bus search
  f.device.FailNext("Open", ENOENT);
  f.form->PORT1.Item(1)->Click();
  EXPECT_EQ(f.form->StatusBar1.PanelText(0), "COM1");
  EXPECT_EQ(f.form->ComPort1().Port(), "COM2");
  EXPECT_TRUE(f.dialogs.exceptions.empty());
}

TEST(PortDiscovery, NamedLinesFollowTheFoundPortsWithinThirtyTwoItemsAndOpenTheirTarget) {
  const std::vector<NamedLine> lines = {{"Котельная", "rfc2217://h:4001", 250, 1},
                                        {"socat", "/tmp/ttyV0", {}, 2}};
  struct Case {
    std::optional<Names> found;  // nullopt: no list (and no comports.txt)
    std::string port_before, panel_before, chosen, port_after;
    std::size_t items;
  } cases[] = {
      {Names{"ttyS0", "ttyUSB0"}, "COM1", "", "ttyS0", "ttyS0", 4},
      {Names{"/tmp/ttyV0"}, "/tmp/ttyV0", "/tmp/ttyV0", "/tmp/ttyV0", "/tmp/ttyV0", 3},
      {std::nullopt, "COM1", "", "Котельная", "rfc2217://h:4001", 2},
      {Names(31, "x"), "x", "x", "x", "x", 32},  // room for one line only
  };
  for (const Case& c : cases) {
    BasicForm f(1080, false, lines);
    f.ports.ports = c.found;
    f.ports.descriptions["ttyS0"] = "USB 0403:6001";
    f.form->ComPort1().SetPort(c.port_before);
    f.form->StatusBar1.SetPanelText(0, c.panel_before);
    f.Create();
    TForm1& w = *f.form;
    Names items = c.found.value_or(Names{});
    for (const NamedLine& l : lines) items.push_back(l.name);
    items.resize(std::max<std::size_t>(c.items, c.found.value_or(Names{}).size()));
    EXPECT_EQ(Captions(w), items) << c.chosen;
    EXPECT_EQ(w.StatusBar1.PanelText(0), c.chosen);
    EXPECT_EQ(w.ComPort1().Port(), c.port_after);
    if (c.items != 4) continue;
    EXPECT_EQ(w.PORT1.Item(0)->Hint(), "USB 0403:6001");
    EXPECT_EQ(w.PORT1.Item(2)->Hint(), "rfc2217://h:4001 net-delay=250");
    EXPECT_EQ(w.ChosenNamedLine(), nullptr);
    w.PORT1.Item(2)->Click();  // the named line, kept by the next discovery
    w.TeMenuBar1MouseDown(&w, TMouseButton::mbLeft, 0, 0, 0);
    EXPECT_EQ(Checked(w), Names{"Котельная"});
    EXPECT_EQ(w.ComPort1().Port(), "rfc2217://h:4001");
    EXPECT_EQ(w.ChosenNamedLine(), &w.Environment().named_lines[0]);  // with its net-delay
    EXPECT_EQ(w.RoundTripAllowanceMs(), 250);
    w.SetNetDelayMs(40);  // --net-delay chosen over the line's own
    EXPECT_EQ(w.RoundTripAllowanceMs(), 40);
  }
  BasicForm f;  // a name no list has (--port /tmp/ttyV9) joins the menu, still chosen
  f.Create();
  f.form->ChoosePort("/tmp/ttyV9");
  f.form->TeMenuBar1MouseDown(f.form.get(), TMouseButton::mbLeft, 0, 0, 0);
  EXPECT_EQ(Checked(*f.form), Names{"/tmp/ttyV9"});
}

TEST(PortListFile, SplitsLinesOnLfOrCrLfAndTrimsNothingElse) {
  struct Case {
    const char* content;
    Names lines;
  } cases[] = {
      {"", {}},
      {"\n", {""}},
      {"COM1", {"COM1"}},
      {"COM1\nCOM2", {"COM1", "COM2"}},
      {"COM1\r\nCOM2\r\n", {"COM1", "COM2"}},
      {" COM1 \n\tCOM2", {" COM1 ", "\tCOM2"}},
      {"COM1\r", {"COM1\r"}},
      {"a\n\nb\n", {"a", "", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitPortListLines(c.content, 10), c.lines) << c.content;
  EXPECT_THROW(ReadPortListFile("/nonexistent/comports.txt", 10), EPortListFile);
  try {
    ReadPortListFile("/nonexistent-dir-ornat/comports.txt", 10);
  } catch (const EPortListFile& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
}

}  // namespace
}  // namespace ornat
