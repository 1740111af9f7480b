// Main of the GUI suite: one QApplication for all tests, set up and themed as the
// program is.
// Without a display the window is drawn offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/theme.h"
#include "serial/translation.h"

int main(int argc, char** argv) {
  // As the program starts: the serial port's error texts in the locale's language.
  ornat::SetUpLocale();
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ornat::ApplyTheme(app);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
