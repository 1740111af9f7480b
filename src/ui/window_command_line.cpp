#include "ui/window_command_line.h"

#include "journal/exchange_journal.h"
#include "serial/network/port_url.h"

namespace ornat {

namespace {

// The line so far, refused for `why`.
WindowCommandLine Refused(WindowCommandLine line, const std::string& why) {
  line.action = WindowCommandLine::Action::kUsageError;
  line.error = "ornat: " + why + "\n";
  return line;
}

// Why a --port cannot name a line ("" when it can): empty, or a URL that is not one.
std::string PortNameProblem(const std::string& name) {
  if (name.empty()) return "--port needs a port name";
  if (!HasUrlScheme(name)) return {};
  const PortUrlParse url = ParsePortUrl(name);
  return url.url ? std::string() : "--port " + url.error;
}

}  // namespace

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
    } else if ((arg == "--port" && i + 1 < args.size()) || arg.rfind("--port=", 0) == 0) {
      line.port = arg == "--port" ? args[++i] : arg.substr(7);
      if (std::string why = PortNameProblem(*line.port); !why.empty())
        return Refused(std::move(line), why);
    } else {
      return Refused(std::move(line), (arg == "--journal" ? "a file name must follow"
                                       : arg == "--port"  ? "a port name must follow"
                                                          : "unknown argument") +
                                          std::string(" \"") + arg +
                                          "\" (ornat --help lists the options)");
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
         "  --port NAME      preselect that port, as if chosen in the Port menu: a port "
         "found,\n"
         "                   a named line of the lines file, a device path or a URL\n"
         "                   (tcp://HOST:PORT, rfc2217://HOST:PORT, "
         "modbus-tcp://HOST[:PORT])\n"
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
