// ornat.exe under Wine on a network line chosen with --port: ser2net's RFC 2217 accepter
// in front of the simulator's pty, reached through Winsock. The speed the window sets
// must reach the pty, and the detector must answer at it.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/line_texts.h"
#include "support/net_peers.h"
#include "wine_window.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

TEST(WindowUnderWineOnANetworkLine, TheSpeedPickedGoesOverRfc2217AndTheDetectorAnswersAtIt) {
  ORNAT_SKIP_IF_MISSING(WineWindowSetupMissing());
  ORNAT_SKIP_IF_MISSING(::access("/usr/sbin/ser2net", X_OK) != 0 ? "ser2net is missing" : "");
  char dir_template[] = "/tmp/ornat-wine-rfc2217-XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const int port = FreeTcpPort();
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);
  // The window opens the line only for an exchange: ser2net may start after it.
  WineWindow win(96, {"--no-console"}, {"--port", url});
  ASSERT_EQ(win.Why(), "");
  auto ser2net = Ser2netRfc2217(dir, port, win.sim().pty_path());
  ASSERT_TRUE(Listening(port)) << ser2net->Out();
  Driver& d = win.driver();
  EXPECT_EQ(StatusPanel(d, 0), url);

  ASSERT_EQ(d.Ask("click TeButton5"), "ok");
  ASSERT_TRUE(d.WaitFor("TeMemo1", kOkLine, 10s)) << d.Text("TeMemo1");
  EXPECT_EQ(PtySpeed(win.sim().pty_path()), 9600u);

  // 19200 from the list: the write, then the question whether the PC's port follows.
  constexpr unsigned kDown = 0x28, kReturn = 0x0D;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(d.Ask("key TeSComboBox1 " + std::to_string(kDown)), "ok");
  ASSERT_EQ(d.Ask("key TeSComboBox1 " + std::to_string(kReturn)), "ok");
  const std::vector<std::string> boxes = WaitForBoxes(d);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(DriverUnescape(boxes[0].substr(4)), "Warning\tСменить скорость обмена COM-порта ПК?");
  ASSERT_EQ(d.Ask("answer &Yes"), "ok");
  ASSERT_TRUE(d.WaitFor("TeMemo1", kOkLine, 10s)) << d.Text("TeMemo1");
  EXPECT_EQ(StatusPanel(d, 1), "BaudRate = 19200");

  // The next exchange sets the line through ser2net, which the pty shows; the detector,
  // now at 19200, answers.
  ASSERT_EQ(d.Ask("click TeButton5"), "ok");
  ASSERT_TRUE(d.WaitFor("TeMemo1", kOkLine, 10s)) << d.Text("TeMemo1");
  EXPECT_EQ(PtySpeed(win.sim().pty_path()), 19200u);
  EXPECT_EQ(StatusPanel(d, 0), url);
  ser2net.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace ornat::testing
