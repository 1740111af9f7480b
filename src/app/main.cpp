// ornat: the service tool's window. Closing the window ends the program (the port is
// closed as the window's logic is destroyed). The command line: --journal FILE keeps a
// journal of every exchange; --help and --version answer without opening a window;
// Qt's own options (-platform, -style...) are Qt's.

#include <QApplication>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/program.h"
#include "app/theme.h"
#include "journal/exchange_journal.h"
#include "serial/platform/posix_comm_device.h"
#include "serial/translation.h"

namespace {

constexpr const char* kUsage = R"(Usage: ornat [--journal FILE] [Qt options]

The service tool for ORNAT(-2)-Zev flame detectors (Modbus-RTU): one window to choose
the port and speed, query a detector, change its configuration and interface, and
search the line.

  --journal FILE   append every exchange to FILE as one JSON line (time, port, speed,
                   address, operation, request and answer bytes, the log's lines); a
                   file that cannot be opened is reported and the window runs without
                   one; a write that fails later (a full disk) is reported once
  --help           this text
  --version        the version
Qt's own options, such as -platform offscreen or -style Fusion, work as usual.
See ornat(1); ornat-cli(1) is the same logic without a window.
)";

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so they work without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
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
  std::optional<std::string> journal_path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--journal" && i + 1 < argc) {
      journal_path = argv[++i];
    } else if (arg.rfind("--journal=", 0) == 0) {
      journal_path = arg.substr(10);
    } else {
      std::fprintf(stderr, "ornat: %s \"%s\" (ornat --help lists the options)\n",
                   arg == "--journal" ? "a file name must follow" : "unknown argument",
                   arg.c_str());
      return 2;
    }
  }
  ornat::ApplyTheme(app);

  std::unique_ptr<ornat::ExchangeJournal> journal;
  std::string journal_error;
  if (journal_path) {
    try {
      journal = std::make_unique<ornat::ExchangeJournal>(*journal_path, "ornat");
    } catch (const ornat::JournalError& e) {
      journal_error = e.what();
    }
  }

  ornat::PosixCommDevice device;
  ornat::Program program(device, nullptr, journal.get());
  if (journal) program.WatchJournal(*journal);
  program.Start();
  if (!journal_error.empty()) program.JournalCannotBeOpened(journal_error);
  return QApplication::exec();
}
