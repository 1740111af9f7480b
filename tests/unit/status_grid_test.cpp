// The status grid shows the state of the detector at the address the window talks to,
// or nothing: whatever moves the window to another address empties it, and a query's
// answer fills it again. A single time-out keeps the last answer on show.

#include <gtest/gtest.h>

#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

TEST(StatusGrid, NeverShowsTheStateOfAnotherAddressAsTheCurrentOne) {
  SimulatedForm t;  // detectors at 247 and 5
  t.line.AddDetector(5);
  TForm1& w = t.w();
  auto run = [&](const std::function<void()>& action) {
    t.Do(action);
    ASSERT_TRUE(t.RunUntilIdle());
  };
  auto shown = [&] { return w.StatusGrid.Cell(1, 0) + w.StatusGrid.Cell(1, 1); };
  const std::string normal = kTypeCell + kNormalCell;
  auto query = [&] {
    run([&] { w.TeButton5.Click(); });
    EXPECT_EQ(shown(), normal);
  };
  query();
  t.line.faults().silent = true;
  query();  // a single time-out keeps the last answer on show
  EXPECT_EQ(t.LogLines().back(), kTimeOutLine);
  t.line.faults().silent = false;
  run([&] { w.TeSpinEdit1.KeyPress('\r'); });
  EXPECT_EQ(shown(), normal) << "Enter on the same address";
  run([&] { w.TeSpinEdit1.SetText("5"); });
  EXPECT_EQ(shown(), "") << "another address in the editor";
  query();
  run([&] { w.CustomItem5.Click(); });
  EXPECT_EQ(t.state().DeviceAddress, 5);
  EXPECT_EQ(shown(), "") << "a search hit, at the address the editor showed";
  query();
  run([&] {
    w.TeSpinEdit2.SetText("9");
    w.TeButton1.Click();
  });
  EXPECT_EQ(shown(), "") << "an address change acknowledged";
  query();
  run([&] {
    w.TeButton5.Click();
    w.TeSpinEdit1.SetText("247");
  });
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_EQ(shown(), "") << "the query to 9 answered after the editor moved on";
  query();
  run([&] { w.TeButton2.Click(); });
  EXPECT_EQ(shown(), "") << "the interface reset";
}

}  // namespace
}  // namespace ornat::testing
