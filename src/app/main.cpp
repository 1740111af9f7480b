// ornat: the service tool's window. No command line; closing the window ends the
// program (the port is closed as the window's logic is destroyed).

#include <QApplication>

#include "app/program.h"
#include "app/theme.h"
#include "serial/platform/posix_comm_device.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ornat::ApplyTheme(app);
  ornat::PosixCommDevice device;
  ornat::Program program(device);
  program.Start();
  return QApplication::exec();
}
