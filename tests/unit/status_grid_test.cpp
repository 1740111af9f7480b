// The status grid shows the state of the detector at the address the window talks to,
// or nothing: whatever moves the window to another address empties it, and a query's
// answer fills it again. A single time-out keeps the last answer on show.

#include <gtest/gtest.h>

#include <functional>

#include "support/line_texts.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

TEST(StatusGrid, NeverShowsTheStateOfAnotherAddressAsTheCurrentOne) {
  struct Case {
    const char* what;
    int queried;  // the address whose state the grid shows first
    std::function<void(SimulatedForm&)> then;
    bool kept;
  };
  auto type = [](SimulatedForm& t, const char* text) {
    t.Do([&] { t.w().TeSpinEdit1.SetText(text); });
  };
  const Case cases[] = {
      {"a search hit at the address shown", 5, [](SimulatedForm& t) { t.Click(t.w().CustomItem5); },
       false},
      {"an address change acknowledged", 247,
       [&](SimulatedForm& t) {
         t.Do([&] { t.w().TeSpinEdit2.SetText("9"); });
         t.Click(t.w().TeButton1);
       },
       false},
      {"the interface reset", 247, [](SimulatedForm& t) { t.Click(t.w().TeButton2); }, false},
      {"another address in the editor", 247, [&](SimulatedForm& t) { type(t, "9"); }, false},
      {"another address typed while a query is in flight", 247,
       [&](SimulatedForm& t) {
         t.Click(t.w().TeButton5);
         type(t, "9");
       },
       false},
      {"Enter on the same address", 247,
       [](SimulatedForm& t) { t.Do([&] { t.w().TeSpinEdit1.KeyPress('\r'); }); }, true},
      {"a single time-out", 247,
       [](SimulatedForm& t) {
         t.line.faults().silent = true;
         t.Click(t.w().TeButton5);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedForm t;
    if (c.queried != 247) t.line.AddDetector(static_cast<std::uint8_t>(c.queried));
    type(t, std::to_string(c.queried).c_str());
    t.Click(t.w().TeButton5);
    ASSERT_TRUE(t.RunUntilIdle());
    ASSERT_EQ(t.w().StatusGrid.Cell(1, 1), kNormalCell);
    c.then(t);
    ASSERT_TRUE(t.RunUntilIdle());
    EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), c.kept ? kTypeCell : "");
    EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), c.kept ? kNormalCell : "");
  }
}

}  // namespace
}  // namespace ornat::testing
