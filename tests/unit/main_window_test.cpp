#include <gtest/gtest.h>

#include <set>

#include "serial/comport.h"
#include "support/basic_form.h"

namespace ornat {
namespace {

using testing::BasicForm;

// Panel 2 prefixes: Latin A and Cyrillic А (U+0410).
const std::string kLatin = "DEVICE : A = ";
const std::string kCyrillic = "DEVICE : \xD0\x90 = ";

TEST(MainWindow, StartUpShowsTheDefinitionsTextsAndSetsTheDefaultLine) {
  BasicForm f;
  f.ports.ports = std::vector<std::string>{"ttyS0", "COM1"};
  f.Create();
  TForm1& w = *f.form;
  EXPECT_EQ(w.StatusBar1.PanelText(0), "COM1");
  EXPECT_EQ(w.Caption, "  ОРНАТ(-2)-Zev   (MODBUS-RTU)   V1.03 - 2019");
  EXPECT_EQ(w.State.DeviceAddress, 247);
  EXPECT_EQ(w.State.BaudIndex, 3);
  EXPECT_EQ(w.State.ReceivedCount, 0);
  EXPECT_EQ(w.TeLabel5.Caption(), "АДРЕС ПРИБОРА - 247");
  EXPECT_EQ(w.StatusBar1.PanelText(1), "BaudRate = 9600");
  EXPECT_EQ(w.StatusBar1.PanelText(2), kLatin + "247; Baud = 9600");
  EXPECT_EQ(w.ComPort1().BaudRate(), TBaudRate::br9600);
  EXPECT_TRUE(w.BR_9600.Checked());
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(w.BaudItem(i).Checked(), i == 3) << i;
  EXPECT_TRUE(w.CustomItem8.Checked());
  EXPECT_EQ(w.TeSpinEdit1.Text(), "247");
  EXPECT_EQ(w.TeSpinEdit2.Text(), "247");
  EXPECT_EQ(w.TeMemo1.Lines(), (std::vector<std::string>{"TX :", "RX :"}));
  EXPECT_EQ(w.TeMemo1.FontColor(), clNavy);
  EXPECT_EQ(w.StatusGrid.Cell(0, 0), "  ТИП");
  EXPECT_EQ(w.StatusGrid.ColWidth(1), 248);
  EXPECT_FALSE(w.TeProgressBar1.Visible());
  EXPECT_TRUE(w.FIX_Button.Checked());
  EXPECT_FALSE(w.FIX_Button.Enabled());
  EXPECT_FALSE(w.Button1.Visible());
  EXPECT_EQ(w.TeButton5.Caption(), "&ЗАПРОС ПАРАМЕТРОВ");
  EXPECT_EQ(w.TeSComboBox1.ItemIndex(), 3);
  EXPECT_TRUE(f.dialogs.exceptions.empty());
  EXPECT_EQ(f.device.Count("Open"), 0) << "the port is closed at start";
}

TEST(MainWindow, ActivationGivesTheFocusToTheMenuBar) {
  BasicForm f;
  f.Create();
  f.form->FormActivate(f.form.get());
  EXPECT_TRUE(f.form->TeMenuBar1.Focused());
}

TEST(MainWindow, FitsATallWindowToASmallScreen) {
  struct Case {
    int screen;
    int outer_height;
    bool scrolls;
    int extra_width;
  } cases[] = {{1080, 565, false, 0}, {590, 565, false, 0}, {480, 455, true, 17}};
  for (const Case& c : cases) {
    BasicForm f(c.screen);
    int width_before = f.form->OuterWidth;
    f.Create();
    EXPECT_EQ(f.form->OuterHeight, c.outer_height) << c.screen;
    EXPECT_EQ(f.form->VertScrollBarVisible, c.scrolls) << c.screen;
    EXPECT_EQ(f.form->AutoScroll, c.scrolls) << c.screen;
    EXPECT_EQ(f.form->OuterWidth - width_before, c.extra_width) << c.screen;
  }
}

TEST(MainWindow, EachBaudRateItemMovesOnlyThePcSide) {
  struct Case {
    unsigned index;
    TBaudRate port;
    const char* speed;
  } cases[] = {
      {0, TBaudRate::br1200, "1200"},   {1, TBaudRate::br2400, "2400"},
      {2, TBaudRate::br4800, "4800"},   {3, TBaudRate::br9600, "9600"},
      {4, TBaudRate::br14400, "14400"}, {5, TBaudRate::br19200, "19200"},
      {6, TBaudRate::br38400, "38400"}, {7, TBaudRate::br57600, "57600"},
  };
  for (const Case& c : cases) {
    BasicForm f;
    f.Create();
    f.form->TeSpinEdit1.SetText("5");
    f.form->BaudItem(c.index).Click();
    TForm1& w = *f.form;
    EXPECT_EQ(w.State.BaudIndex, c.index);
    EXPECT_EQ(w.ComPort1().BaudRate(), c.port) << "row 7 is 57600, never 56000";
    EXPECT_EQ(w.StatusBar1.PanelText(1), std::string("BaudRate = ") + c.speed);
    EXPECT_EQ(w.StatusBar1.PanelText(2), kCyrillic + "5; Baud = " + c.speed);
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(w.BaudItem(i).Checked(), i == c.index);
    EXPECT_EQ(f.device.Count("Write"), 0) << "nothing is sent to the detector";
  }
}

TEST(MainWindow, AddressEditorShowsThePaddedAddressWithAFinalSemicolon) {
  BasicForm f;
  f.Create();
  TForm1& w = *f.form;
  w.TeSpinEdit1.SetText("7");
  EXPECT_EQ(w.State.DeviceAddress, 7);
  EXPECT_EQ(w.TeLabel5.Caption(), "АДРЕС ПРИБОРА - 007");
  EXPECT_EQ(w.StatusBar1.PanelText(2), kLatin + "007; Baud = 9600;");
  w.StatusBar1.SetPanelText(2, "");
  w.TeSpinEdit1.KeyPress('\r');
  EXPECT_EQ(w.StatusBar1.PanelText(2), kLatin + "007; Baud = 9600;") << "Enter writes them again";
  w.BR_19200.Click();
  EXPECT_EQ(w.StatusBar1.PanelText(2), kCyrillic + "7; Baud = 19200") << "the menu: unpadded";
  w.StatusBar1.SetPanelText(2, "x");
  w.TeSpinEdit1.KeyPress('a');
  EXPECT_EQ(w.StatusBar1.PanelText(2), "x") << "other keys do nothing";
}

TEST(MainWindow, AddressesOutsideOneTo247AreNeverTakenFromTheEditor) {
  struct Case {
    const char* typed;
    int address;
  } cases[] = {{"", 1}, {"0", 1}, {"300", 247}, {"999", 247}, {"248", 247}, {"1", 1}, {"44", 44}};
  for (const Case& c : cases) {
    BasicForm f;
    f.Create();
    f.form->TeSpinEdit1.SetText("12");
    f.form->TeSpinEdit1.SetText(c.typed);
    EXPECT_EQ(f.form->State.DeviceAddress, c.address) << c.typed;
    EXPECT_EQ(TForm1::AddressOf(f.form->TeSpinEdit1), c.address) << c.typed;
  }
}

TEST(MainWindow, PadNumberFillsWithZerosAndNeverCuts) {
  struct Case {
    unsigned value, width;
    const char* text;
  } cases[] = {{7, 3, "007"}, {247, 3, "247"}, {0, 3, "000"}, {1000, 3, "1000"}, {5, 0, "5"}};
  for (const Case& c : cases) EXPECT_EQ(PadNumber(c.value, c.width), c.text);
}

TEST(MainWindow, UncheckBaudItemsClearsAllEight) {
  BasicForm f;
  f.Create();
  f.form->UncheckBaudItems();
  for (unsigned i = 0; i < 8; ++i) EXPECT_FALSE(f.form->BaudItem(i).Checked());
}

TEST(MainWindow, EveryControlHasItsDefinitionName) {
  BasicForm f;
  std::set<std::string> names;
  for (TControl* c : f.form->AllControls()) names.insert(c->Name());
  for (const char* n : {"TeMenuBar1", "StatusBar1", "TeSpinEdit1", "TeSpinEdit2", "TeButton1",
                        "TeButton2", "TeButton3", "TeButton5", "TeCheckBox1", "StatusGrid",
                        "TeMemo1", "TeProgressBar1", "T3_500MIN_Button", "TeLabel15", "Button3",
                        "TST_Button", "FIX_Button", "TeSComboBox1", "TeLabel6"})
    EXPECT_TRUE(names.count(n)) << n;
}

}  // namespace
}  // namespace ornat
