#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
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

// One edit of the editor's text: `text` typed first (select all, type), then the
// characters [from, from + count) replaced by `input`.
struct EditCase {
  const char* text;
  std::size_t from, count;
  const char* input;
  const char* after;
  int caret;  // -1: refused, nothing changes
};

using EditOp = std::optional<std::size_t> (TTeSpinEdit::*)(std::size_t, std::size_t,
                                                           const std::string&);

void RunEdits(SpinFixture& f, const std::vector<EditCase>& cases, EditOp op) {
  for (const EditCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " [" + std::to_string(c.from) + "," +
                 std::to_string(c.count) + ") <- \"" + c.input + "\"");
    f.spin.SetText(c.text);
    f.changes.clear();
    const std::optional<std::size_t> caret = (f.spin.*op)(c.from, c.count, c.input);
    EXPECT_EQ(f.spin.Text(), c.after);
    EXPECT_EQ(caret, c.caret < 0 ? std::nullopt
                                 : std::optional<std::size_t>(static_cast<std::size_t>(c.caret)));
    // OnChange only for a text that changed.
    EXPECT_EQ(f.changes.size(), std::string(c.text) == c.after ? 0u : 1u);
  }
}

TEST_F(SpinFixture, AFullEditorRefusesAFurtherKeyWhereverTheCaretIsAndTypingReplacesASelection) {
  const std::vector<EditCase> cases = {
      {"247", 0, 0, "1", "247", -1},   // the start: never "124"
      {"247", 1, 0, "1", "247", -1},   // the middle
      {"247", 2, 0, "1", "247", -1},   // the middle
      {"247", 3, 0, "1", "247", -1},   // the end
      {"247", 3, 0, "+", "247", -1},   // '+' too
      {"24", 0, 0, "1", "124", 1},     // room for a third
      {"247", 0, 3, "1", "1", 1},      // over the whole text
      {"247", 1, 1, "1", "217", 2},    // over one digit
      {"247", 1, 1, "19", "217", 2},   // the second key meets a full editor
      {"247", 0, 3, "x1", "1", 1},     // the letter refused, the selection kept for the digit
      {"247", 0, 3, "x-", "247", -1},  // every key refused: the selection stays
      {"247", 2, 1, "", "24", 2},      // Backspace
      {"247", 0, 3, "", "", 0},        // all deleted
      {"247", 5, 9, "", "247", 3},     // out of the text: nothing to delete
  };
  RunEdits(*this, cases, &TTeSpinEdit::Type);
}

TEST_F(SpinFixture, PastedTextIsTakenOnlyWhenItAndTheTextItGivesAreNumbersInRange) {
  const std::vector<EditCase> cases = {
      {"247", 0, 3, "12", "12", 2},
      {"247", 0, 3, " 12\r\n", "12", 2},  // blanks around a number
      {"2", 1, 0, "47", "247", 3},
      {"247", 0, 3, "007", "007", 3},
      {"3", 1, 0, "5", "35", 2},
      {"14", 1, 1, "04", "104", 3},
      {"247", 0, 3, "0", "247", -1},     // below the range
      {"247", 0, 3, "248", "247", -1},   // above it
      {"247", 0, 3, "1234", "247", -1},  // longer than three characters
      {"247", 0, 0, "1", "247", -1},     // the text it gives is four characters long
      {"24", 2, 0, "9", "24", -1},       // "249" is out of range
      {"24", 2, 0, "0", "24", -1},       // "0" is no address, though "240" would be
      {"247", 0, 3, "-5", "247", -1},
      {"247", 0, 3, "+5", "247", -1},
      {"247", 0, 3, "1 2", "247", -1},
      {"247", 0, 3, "12a", "247", -1},
      {"247", 0, 3, "", "247", -1},
      {"247", 0, 3, "99999999999999999999", "247", -1},
      {"247", 0, 3, "\xD0\xA2\xD0\xA0\xD0\x98", "247", -1},  // Cyrillic letters
  };
  RunEdits(*this, cases, &TTeSpinEdit::Paste);
}

TEST(StringGrid, RowsTakeTheDefaultHeightAndEachCanBeResizedToAtLeastOnePixel) {
  TTeStringGrid grid("StatusGrid", nullptr, 2, 2);
  int changes = 0;
  grid.Changed().Connect([&] { ++changes; });
  grid.SetDefaultRowHeight(18);
  EXPECT_EQ(grid.RowHeight(0), 18);
  EXPECT_EQ(grid.RowHeight(1), 18);
  grid.SetRowHeight(0, 30);
  grid.SetRowHeight(1, -4);
  EXPECT_EQ(grid.RowHeight(0), 30);
  EXPECT_EQ(grid.RowHeight(1), 1);
  EXPECT_EQ(changes, 3);
  grid.SetRowHeight(0, 30);  // no change: nothing raised
  EXPECT_EQ(changes, 3);
  grid.SetDefaultRowHeight(20);
  EXPECT_EQ(grid.RowHeight(0), 20);
  EXPECT_EQ(grid.RowHeight(1), 20);
  EXPECT_THROW(grid.SetRowHeight(2, 10), std::out_of_range);
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
