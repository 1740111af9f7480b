// ornat: the service tool's window. Closing the window ends the program (the port is
// closed as the window's logic is destroyed). The command line: --journal FILE keeps a
// journal of every exchange; --port NAME preselects a port; --help and --version answer without
// opening a window; Qt's own options (-platform, -style...) are Qt's.

#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/theme.h"
#include "journal/exchange_journal.h"
#include "serial/device_factory.h"
#include "serial/network/user_lines.h"
#include "serial/translation.h"
#include "ui/window_command_line.h"

namespace {

std::string Usage() {
  return ornat::WindowUsage("Usage: ornat [--journal FILE] [--port NAME] [Qt options]",
                            "Qt's own options, such as -platform offscreen or -style Fusion, "
                            "work as usual.\n",
                            "See ornat(1); ornat-cli(1) is the same logic without a window.");
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so they work without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(Usage().c_str(), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("ornat %s\n", ORNAT_VERSION);
      return 0;
    }
  }
  // First: the serial port's error texts are looked up in the catalogue of the locale.
  ornat::SetUpLocale();
  // QApplication takes its own options out of argv; what is left is ours.
  QApplication app(argc, argv);
  const ornat::WindowCommandLine line =
      ornat::ParseWindowCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (line.action == ornat::WindowCommandLine::Action::kUsageError) {
    std::fputs(line.error.c_str(), stderr);
    return 2;
  }
  ornat::ApplyTheme(app);

  std::string journal_error;
  const std::unique_ptr<ornat::ExchangeJournal> journal =
      ornat::OpenWindowJournal(line, journal_error);

  ornat::UserLines lines = ornat::LoadUserLines();

  ornat::SwitchingCommDevice device;
  ornat::Program program(device, nullptr, journal.get(), std::move(lines.lines));
  if (journal) program.WatchJournal(*journal);
  program.Start();
  if (line.port) program.ChoosePort(*line.port);
  if (!journal_error.empty()) program.JournalCannotBeOpened(journal_error);
  program.TellLinesFileWarnings(lines.warnings);
  return QApplication::exec();
}
