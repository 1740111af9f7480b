#pragma once
// The window program's own command line, the same for ornat and ornat.exe: --journal
// FILE, --port NAME, --help, --version. What the toolkit takes for itself (Qt's -platform...) is
// taken out before these are read.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ornat {

class ExchangeJournal;

struct WindowCommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kRun;
  std::optional<std::string> journal_path;
  // --port NAME: the port preselected, as if chosen in the Port menu.
  std::optional<std::string> port;
  // kUsageError: the line to show, ending in a line feed.
  std::string error;
};

// args: the arguments after the program's name. "/?" asks for help too, as Windows
// programs are asked.
WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& args);

// The help text; toolkit_options: a line on the toolkit's own options, or "".
std::string WindowUsage(const std::string& usage_line, const std::string& toolkit_options,
                        const std::string& see_also);

// The journal the command line asks for, or null; a file that cannot be opened leaves
// why in `error` (the window then runs without one and says so).
std::unique_ptr<ExchangeJournal> OpenWindowJournal(const WindowCommandLine& line,
                                                   std::string& error);

}  // namespace ornat
