// End to end, the menus: the PC's line speed, the Port submenu rebuilt by a press on
// the menu bar, and the search delay; the real program against ornat-sim, each journey
// from a fresh start.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e_window.h"
#include "support/virtual_port_lock.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

TEST(EndToEnd, TheBaudRateMenuMovesTheCheckMarkAndThePanelsAndSendsNothing) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());
  const char* speeds[] = {"1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600"};
  for (std::size_t i = 0; i < kBaudItems.size(); ++i) {
    SCOPED_TRACE(kBaudItems[i]);
    win.Choose(kBaudItems[i]);
    EXPECT_EQ(win.CheckedOf(kBaudItems), (std::vector<std::string>{kBaudItems[i]}));
    EXPECT_EQ(win.Panel(1), std::string("BaudRate = ") + speeds[i]);
    EXPECT_EQ(win.Panel(2), std::string("DEVICE : \u0410 = 247; Baud = ") + speeds[i]);
  }
  // The same item twice keeps its one check mark.
  win.Choose("BR_57600");
  EXPECT_EQ(win.CheckedOf(kBaudItems), (std::vector<std::string>{"BR_57600"}));
  // The detector's own speed list is not touched.
  EXPECT_EQ(win.Text("TeSComboBox1"), "9600");
  QTest::qWait(200);
  EXPECT_TRUE(win.sim().WireRequests().empty());

  // At 19200 bit/s the detector, still at 9600, does not understand the query.
  win.Choose("BR_19200");
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitForLog({TxLine(kQuery247), "RX :", kTimeOutLine}, 3s))
      << ::testing::PrintToString(win.Log());
  auto requests = win.sim().WireRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].note, "foreign-speed");
  // Back at 9600 bit/s it answers.
  win.Choose("BR_9600");
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitForLog(Answered(kQuery247, QueryAnswer(0xF7, 0, 0, 0, 0))))
      << ::testing::PrintToString(win.Log());
  requests = win.sim().WireRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].note, "");
}

TEST(EndToEnd, APressOnTheMenuBarRebuildsThePortMenuAndAPortItemSelectsItsPort) {
  E2eWindow win;
  ASSERT_TRUE(win.Started());
  const std::string ports_dir = win.sim().runtime_dir() + "/ornat/ports";
  const std::string spare = ports_dir + "/spare-port";
  // A second provider registers a port (here: another name for the simulator's pty)
  // and holds its lock while it runs.
  std::error_code ec;
  auto provider = std::make_unique<HeldRegistration>(ports_dir, "spare-port", win.sim().pty_path());
  ASSERT_TRUE(provider->Held());
  const std::vector<std::string> before = win.PortItems();
  EXPECT_EQ(std::count(before.begin(), before.end(), "spare-port"), 0);

  win.PressMenuBar("CustomItem1");  // "Connection"
  const std::vector<std::string> after = win.PortItems();
  EXPECT_EQ(std::count(after.begin(), after.end(), "spare-port"), 1);
  EXPECT_EQ(after.size(), before.size() + 1);
  // The port in use keeps its check mark across the rebuild.
  EXPECT_EQ(win.PortItems(true), (std::vector<std::string>{"ornat-sim"}));
  EXPECT_EQ(win.Panel(0), "ornat-sim");

  // Clicking the new item moves the check mark and panel 0, and the window talks
  // over that port.
  QAction* item = win.PortItem("spare-port");
  ASSERT_NE(item, nullptr);
  item->trigger();
  EXPECT_EQ(win.PortItems(true), (std::vector<std::string>{"spare-port"}));
  EXPECT_EQ(win.Panel(0), "spare-port");
  win.Click("TeButton5");
  ASSERT_TRUE(win.WaitForLog(Answered(kQuery247, QueryAnswer(0xF7, 0, 0, 0, 0))))
      << ::testing::PrintToString(win.Log());
  EXPECT_EQ(win.Requests().size(), 1u);

  // The port goes away; the next press (on "Search" this time) rebuilds the menu
  // without it, and the first port is chosen again.
  provider.reset();
  std::filesystem::remove(spare, ec);
  ASSERT_FALSE(ec) << ec.message();
  win.PressMenuBar("CustomItem4");
  EXPECT_EQ(win.PortItems(), before);
  EXPECT_EQ(win.PortItems(true), (std::vector<std::string>{"ornat-sim"}));
  EXPECT_EQ(win.Panel(0), "ornat-sim");
  win.Click("TeButton5");
  ASSERT_TRUE(
      win.WaitFor([&] { return win.Requests().size() == 2u && win.Log().back() == kOkLine; }, 3s))
      << ::testing::PrintToString(win.Log());
}

TEST(EndToEnd, TheDelayMenuCarriesOneCheckMarkAndTheSearchUsesTheChosenWindow) {
  E2eWindow win({"--silent"});
  ASSERT_TRUE(win.Started());
  EXPECT_EQ(win.CheckedOf(kDelayItems), (std::vector<std::string>{"CustomItem8"}));
  const char* captions[] = {"100ms", "150ms", "200ms", "250ms", "300ms", "350ms"};
  for (std::size_t i = 0; i < kDelayItems.size(); ++i) {
    SCOPED_TRACE(kDelayItems[i]);
    EXPECT_EQ(win.Text(kDelayItems[i]), captions[i]);
    win.Choose(kDelayItems[i]);
    EXPECT_EQ(win.CheckedOf(kDelayItems), (std::vector<std::string>{kDelayItems[i]}));
  }
  // With "350ms" chosen a search waits 350 ms for each probe's answer: a silent line
  // sees the probes 355 ms apart. Stopped after the third, the editor shows the
  // address probed last.
  win.Choose("CustomItem5");
  ASSERT_TRUE(win.WaitForRequests(3, 3s));
  win.Choose("CustomItem5");
  EXPECT_EQ(win.Text("CustomItem5"), "Start");
  QTest::qWait(500);
  const auto requests = win.sim().WireRequests();
  ASSERT_GE(requests.size(), 3u);
  ASSERT_LE(requests.size(), 4u);
  const double gap_ms =
      std::chrono::duration<double, std::milli>(requests[2].first - requests[1].first).count();
  EXPECT_GE(gap_ms, 350.0);
  EXPECT_EQ(win.Text("TeSpinEdit1"), std::to_string(requests.size()));
}

}  // namespace
}  // namespace ornat::testing
