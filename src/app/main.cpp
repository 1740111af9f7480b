// ornat: the service tool's window. No command line; closing the window ends the
// program (the port is closed as the window's logic is destroyed).

#include <QApplication>

#include "app/program.h"
#include "app/theme.h"
#include "serial/platform/posix_comm_device.h"
#include "serial/translation.h"

int main(int argc, char** argv) {
  // First: the serial port's error texts are looked up in the catalogue of the locale.
  ornat::SetUpLocale();
  QApplication app(argc, argv);
  ornat::ApplyTheme(app);
  ornat::PosixCommDevice device;
  ornat::Program program(device);
  program.Start();
  return QApplication::exec();
}
