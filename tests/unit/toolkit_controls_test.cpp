#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/toolkit/controls.h"

namespace ornat {
namespace {

TEST(CheckBox, SettingTheStateFromCodeRunsTheClickHandlerOnEveryChangeOnly) {
  TTeCheckBox box("TST_Button");
  int clicks = 0;
  box.OnClick = [&](TObject*) { ++clicks; };
  box.SetChecked(true);
  box.SetChecked(true);
  box.SetChecked(false);
  box.Click();
  EXPECT_EQ(clicks, 3);
  EXPECT_TRUE(box.Checked());
}

TEST(RadioButton, BecomingCheckedClearsTheGroupAndRunsOnlyItsOwnHandler) {
  RadioGroup group;
  TTeRadioButton a("a"), b("b"), c("c");
  std::vector<std::string> clicks;
  for (TTeRadioButton* r : {&a, &b, &c}) {
    r->SetGroup(&group);
    r->OnClick = [&clicks, r](TObject*) { clicks.push_back(r->Name()); };
  }
  a.SetChecked(true);
  b.SetChecked(true);
  b.SetChecked(true);   // no change: nothing
  b.SetChecked(false);  // becoming unchecked raises nothing
  c.Click();
  EXPECT_EQ(clicks, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FALSE(a.Checked());
  EXPECT_FALSE(b.Checked());
  EXPECT_TRUE(c.Checked());
}

struct SpinFixture : ::testing::Test {
  TTeSpinEdit spin{"TeSpinEdit1"};
  std::vector<std::string> changes;  // text at each OnChange
  std::vector<char> keys;
  void SetUp() override {
    spin.SetRange(1, 247);
    spin.SetMaxLength(3);
    spin.SetValue(247);
    spin.OnChange = [this](TObject*) { changes.push_back(spin.Text()); };
    spin.OnKeyPress = [this](TObject*, char& k) { keys.push_back(k); };
  }
};

TEST_F(SpinFixture, ValueIsTheTextReadAsANumberWithTheLowerBoundForEmptyOrUnreadableText) {
  struct Case {
    const char* typed;
    const char* text;
    int value;
  } cases[] = {
      {"7", "7", 7},        {"007", "007", 7}, {"", "", 1},          {"+5", "+5", 5},
      {"300", "300", 300},  {"0", "0", 0},     {"12a3", "123", 123}, {"-4", "4", 4},
      {"1234", "123", 123}, {"+", "+", 1},
  };
  for (const Case& c : cases) {
    spin.SetText(c.typed);
    EXPECT_EQ(spin.Text(), c.text) << c.typed;
    EXPECT_EQ(spin.Value(), c.value) << c.typed;
  }
}

TEST_F(SpinFixture, SettingADifferentValueRewritesTheTextAndRaisesChange) {
  spin.SetValue(247);
  EXPECT_TRUE(changes.empty());
  spin.SetValue(5);
  spin.SetValue(999);
  EXPECT_EQ(changes, (std::vector<std::string>{"5", "247"}));
}

TEST_F(SpinFixture, EnterBringsTheValueIntoRangeBeforeTheKeyIsHandled) {
  spin.SetText("300");
  changes.clear();
  std::string text_when_key_seen;
  spin.OnKeyPress = [&](TObject*, char&) { text_when_key_seen = spin.Text(); };
  spin.KeyPress('\r');
  EXPECT_EQ(text_when_key_seen, "247");
  EXPECT_EQ(changes, (std::vector<std::string>{"247"}));
}

TEST_F(SpinFixture, FocusLossBringsTheValueIntoRangeAndLeavesAnInRangeTextAlone) {
  spin.SetText("0");
  spin.Exit();
  EXPECT_EQ(spin.Text(), "1");
  spin.SetText("");
  changes.clear();
  spin.Exit();  // empty reads as the lower bound, which is in range
  EXPECT_EQ(spin.Text(), "");
  EXPECT_TRUE(changes.empty());
}

TEST_F(SpinFixture, UpAndDownStepByOneWithinTheRange) {
  spin.StepUp();
  EXPECT_EQ(spin.Value(), 247);
  spin.StepDown();
  EXPECT_EQ(spin.Value(), 246);
  spin.SetValue(1);
  spin.StepDown();
  EXPECT_EQ(spin.Value(), 1);
}

TEST(MenuItem, CheckMarksRaiseNothingAndDestroyedItemsLeaveTheirParent) {
  TTeItem parent("PORT1", "Port");
  int clicks = 0;
  {
    TTeItem child("x", "ttyS0");
    child.OnClick = [&](TObject*) { ++clicks; };
    parent.Add(&child);
    child.SetChecked(true);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(parent.Count(), 1u);
    child.Click();
  }
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(parent.Count(), 0u);
}

TEST(Memo, OneColourForAllLines) {
  TTeMemo memo("TeMemo1");
  EXPECT_EQ(memo.FontColor(), clNavy);
  memo.Add("TX :");
  memo.SetFontColor(clRed);
  memo.Add("RX :");
  EXPECT_EQ(memo.FontColor(), 255u);
  memo.Delete(0);
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"RX :"}));
}

TEST(ComboBox, SelectionFromCodeRaisesNothingAndAUserPickRaisesChange) {
  TTeSComboBox combo("TeSComboBox1");
  combo.SetItems({"1200", "2400"});
  int changes = 0;
  combo.OnChange = [&](TObject*) { ++changes; };
  combo.SetItemIndex(1);
  EXPECT_EQ(changes, 0);
  combo.Select(0);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(combo.Text(), "1200");
}

TEST(ProgressBar, PositionStaysWithinItsRange) {
  TTeProgressBar bar("TeProgressBar1");
  bar.SetRange(1, 247);
  bar.SetPosition(0);
  EXPECT_EQ(bar.Position(), 1);
  bar.SetPosition(248);
  EXPECT_EQ(bar.Position(), 247);
}

}  // namespace
}  // namespace ornat
