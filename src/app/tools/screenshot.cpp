// ornat_screenshot FILE: opens the window exactly as ornat does, waits until it has
// been painted, and saves a picture of its client area to FILE (PNG).

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "app/program.h"
#include "app/theme.h"
#include "serial/platform/posix_comm_device.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
    return 2;
  }
  const QString file = QString::fromLocal8Bit(argv[1]);
  ornat::ApplyTheme(app);
  ornat::PosixCommDevice device;
  ornat::Program program(device);
  program.Start();
  int status = 1;
  // Long enough for the first paint and the window's activation to have happened.
  QTimer::singleShot(500, &app, [&] {
    if (program.view().grab().save(file, "PNG"))
      status = 0;
    else
      std::fprintf(stderr, "cannot write %s\n", argv[1]);
    QApplication::quit();
  });
  QApplication::exec();
  return status;
}
