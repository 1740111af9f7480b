#include "ui/window_command_line.h"

#include "journal/exchange_journal.h"

namespace ornat {

WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& args) {
  WindowCommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      line.action = WindowCommandLine::Action::kHelp;
      return line;
    }
    if (arg == "--version") {
      line.action = WindowCommandLine::Action::kVersion;
      return line;
    }
    if (arg == "--journal" && i + 1 < args.size()) {
      line.journal_path = args[++i];
    } else if (arg.rfind("--journal=", 0) == 0) {
      line.journal_path = arg.substr(10);
    } else {
      line.action = WindowCommandLine::Action::kUsageError;
      line.error = std::string("ornat: ") +
                   (arg == "--journal" ? "a file name must follow" : "unknown argument") + " \"" +
                   arg + "\" (ornat --help lists the options)\n";
      return line;
    }
  }
  return line;
}

std::string WindowUsage(const std::string& usage_line, const std::string& toolkit_options,
                        const std::string& see_also) {
  return usage_line +
         "\n\nThe service tool for ORNAT(-2)-Zev flame detectors (Modbus-RTU): one window to "
         "choose\nthe port and speed, query a detector, change its configuration and "
         "interface, and\nsearch the line.\n\n"
         "  --journal FILE   append every exchange to FILE as one JSON line (time, port, "
         "speed,\n"
         "                   address, operation, request and answer bytes, the log's lines); "
         "a\n"
         "                   file that cannot be opened is reported and the window runs "
         "without\n"
         "                   one; a write that fails later (a full disk) is reported once\n"
         "  --help           this text\n"
         "  --version        the version\n" +
         toolkit_options + see_also + "\n";
}

std::unique_ptr<ExchangeJournal> OpenWindowJournal(const WindowCommandLine& line,
                                                   std::string& error) {
  if (!line.journal_path) return nullptr;
  try {
    return std::make_unique<ExchangeJournal>(*line.journal_path, "ornat");
  } catch (const JournalError& e) {
    error = e.what();
    return nullptr;
  }
}

}  // namespace ornat
