// The program's composition: the window over the Qt scheduler, dispatcher and
// dialogs, started as main() starts it.

#include <gtest/gtest.h>

#include <QLabel>
#include <QScreen>
#include <QStyle>

#include "app/program.h"
#include "app/qt_dispatcher.h"
#include "app/qt_scheduler.h"
#include "gui_window.h"
#include "support/basic_form.h"
#include "support/scripted_comm_device.h"

namespace ornat::testing {
namespace {

TEST(Program, StartRunsStartUpAndShowsTheWindowCentredOnTheScreen) {
  ScriptedCommDevice device;
  FakePortList ports;
  ports.ports = std::vector<std::string>{"ttyS0"};
  Program program(device, &ports);
  const FormEnvironment& env = program.form().Environment();
  EXPECT_NE(dynamic_cast<QtScheduler*>(env.scheduler), nullptr);
  EXPECT_NE(dynamic_cast<QtDispatcher*>(env.dispatcher), nullptr);
  EXPECT_EQ(env.gate, &program.gate());
  EXPECT_EQ(env.screen_height, QGuiApplication::primaryScreen()->geometry().height());
  EXPECT_EQ(env.vscroll_width, QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent));

  program.Start();
  MainView& v = program.view();
  EXPECT_TRUE(v.isVisible());
  EXPECT_TRUE(program.form().BR_9600.Checked());
  EXPECT_EQ(v.findChild<QLabel*>("StatusBar1_Panel1")->text().toStdString(), "BaudRate = 9600");
  EXPECT_EQ(v.findChild<QLabel*>("TeLabel5")->text().toStdString(), "АДРЕС ПРИБОРА - 247");
  // The outer rectangle's middle is the screen's (to the pixel of rounding).
  const QRect avail = v.screen()->availableGeometry();
  const QPoint middle(v.pos().x() + program.form().OuterWidth / 2,
                      v.pos().y() + program.form().OuterHeight / 2);
  EXPECT_LE((middle - avail.center()).manhattanLength(), 2);
  v.close();
}

}  // namespace
}  // namespace ornat::testing
