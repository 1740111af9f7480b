// The parameter query, once and cyclic, and the configuration controls, for real:
// TForm1 with its real port over a pseudo-terminal against ornat-sim, whose console
// changes the detector while the window watches.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

// A register of the selected detector as the console's description shows it
// ("... tactic=5 latch=0 test=1 ..."); nullopt when it cannot be read.
std::optional<int> Shown(SimProcess& sim, const std::string& field) {
  auto line = sim.Command("select #0");
  if (!line) return std::nullopt;
  const std::string key = " " + field + "=";
  const auto at = line->find(key);
  if (at == std::string::npos) return std::nullopt;
  return std::stoi(line->substr(at + key.size()), nullptr, 0);
}

TEST(SequencerPty, ASingleQueryShowsTheSimulatorsStateTacticAndBoxes) {
  Watchdog dog(30s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  for (const char* cmd : {"alarm", "tactic 5", "test on", "latch off"})
    ASSERT_TRUE(sim.Command(cmd).value_or("").rfind("OK", 0) == 0) << cmd;
  LiveForm t(sim.pty_path());
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 0), kTypeCell);
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kAlarmCell);
  EXPECT_TRUE(t.w().T3_100MAX_Button.Checked());
  EXPECT_FALSE(t.w().T1MAX_Button.Checked());
  EXPECT_TRUE(t.w().TST_Button.Checked());
  EXPECT_FALSE(t.w().FIX_Button.Checked());
  // Showing the configuration wrote nothing back.
  EXPECT_EQ(Shown(sim, "tactic"), 5);
  EXPECT_EQ(Shown(sim, "test"), 1);
  EXPECT_EQ(Shown(sim, "latch"), 1);
}

TEST(SequencerPty, TheCyclicQueryFollowsLiveChangesOnTheSimulatorsConsole) {
  Watchdog dog(60s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  auto state_cell = [&] { return t.w().StatusGrid.Cell(1, 1); };
  t.Click(t.w().TeCheckBox1);
  t.Click(t.w().TeButton5);
  EXPECT_EQ(t.w().TeButton5.Caption(), "СТОП");
  ASSERT_TRUE(t.RunUntil([&] { return state_cell() == kNormalCell; }, 3s));
  ASSERT_TRUE(sim.Command("alarm"));
  EXPECT_TRUE(t.RunUntil([&] { return state_cell() == kAlarmCell; }, 3s));
  ASSERT_TRUE(sim.Command("fault"));
  EXPECT_TRUE(t.RunUntil([&] { return state_cell() == kFaultCell; }, 3s));
  ASSERT_TRUE(sim.Command("tactic 9"));
  EXPECT_TRUE(t.RunUntil([&] { return t.w().IRMIN_Button.Checked(); }, 3s));
  const std::size_t cycles = t.Completions().size();
  EXPECT_GE(cycles, 4u);
  // "СТОП": the query in flight, if any, completes; then nothing more is sent.
  t.Click(t.w().TeButton5);
  t.RunFor(1500ms);
  EXPECT_LE(t.Completions().size(), cycles + 1);
  EXPECT_EQ(t.state().SessionMode, 0);
  EXPECT_TRUE(t.dialogs.exceptions.empty());
}

TEST(SequencerPty, TacticAndTestClicksChangeTheSimulatorsRegisters) {
  Watchdog dog(30s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  LiveForm t(sim.pty_path());
  t.Click(t.w().T3_500MIN_Button);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines().back(), kOkLine);
  EXPECT_EQ(Shown(sim, "tactic"), 6);
  t.Click(t.w().TST_Button);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(Shown(sim, "test"), 1);
  t.Click(t.w().TST_Button);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(Shown(sim, "test"), 0);
}

TEST(SequencerPty, TheAlarmResetClearsTheSimulatorsAlarm) {
  Watchdog dog(30s);
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(sim.Command("alarm"));
  LiveForm t(sim.pty_path());
  t.Click(t.w().TeButton3);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.LogLines(), (std::vector<std::string>{"TX : F7 06 00 06 AA 55 C3 C2 ",
                                                    "RX : F7 06 00 06 AA 55 C3 C2 ", kOkLine}));
  EXPECT_EQ(Shown(sim, "state"), 0);
  t.Click(t.w().TeButton5);
  ASSERT_TRUE(t.RunToCompletion(3s));
  EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kNormalCell);
}

}  // namespace
}  // namespace ornat::testing
