// ornat.exe: the service tool's window on Windows. Closing the window ends the program
// (the port is closed as the window's logic is destroyed). The command line:
// --journal FILE keeps a journal of every exchange; --port NAME preselects a port; --help and
// --version answer without opening a window (into a redirected stdout, on the console the program
// was started from, else in a box). The arguments are read from the wide command line, so a
// journal's path with Cyrillic or accented letters names its file whatever the ANSI
// code page.

#include <memory>
#include <string>
#include <vector>

#include "journal/exchange_journal.h"
#include "serial/device_factory.h"
#include "serial/network/user_lines.h"
#include "serial/translation.h"
#include "text/wide.h"
#include "ui/window_command_line.h"
#include "win32/command_line_output.h"
#include "win32/dpi.h"
#include "win32/program.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

// The arguments from the wide command line, as ornat-cli.exe's; an argument with no
// UTF-8 form is a usage error.
ornat::WindowCommandLine ReadCommandLine() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::string refused;
  const std::vector<std::string> args = ornat::win32::Utf8Arguments(argc, argv, refused);
  if (argv != nullptr) ::LocalFree(argv);
  if (refused.empty()) return ornat::ParseWindowCommandLine(args);
  ornat::WindowCommandLine line;
  line.action = ornat::WindowCommandLine::Action::kUsageError;
  line.error = "ornat: the argument \"" + refused +
               "\" holds a character that has no UTF-8 form (an unpaired UTF-16 surrogate)\n";
  return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  const ornat::WindowCommandLine line = ReadCommandLine();
  using ornat::win32::TellFromCommandLine;
  switch (line.action) {
    case ornat::WindowCommandLine::Action::kHelp:
      TellFromCommandLine(ornat::WindowUsage("Usage: ornat [--journal FILE] [--port NAME]", "",
                                             "ornat-cli.exe is the same logic without a window."),
                          false);
      return 0;
    case ornat::WindowCommandLine::Action::kVersion:
      TellFromCommandLine(std::string("ornat ") + ORNAT_VERSION + "\n", false);
      return 0;
    case ornat::WindowCommandLine::Action::kUsageError:
      TellFromCommandLine(line.error, true);
      return 2;
    case ornat::WindowCommandLine::Action::kRun:
      break;
  }
  // First: the serial port's error texts are looked up in the catalogue of the locale.
  ornat::SetUpLocale();
  // The manifest makes the process aware of each monitor's scale; this is for a copy of
  // the program that lost its manifest.
  ornat::win32::BecomeDpiAware();
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                           ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);

  std::string journal_error;
  const std::unique_ptr<ornat::ExchangeJournal> journal =
      ornat::OpenWindowJournal(line, journal_error);
  int code = 0;
  {
    ornat::UserLines lines = ornat::LoadUserLines();
    ornat::SwitchingCommDevice device;
    ornat::win32::Program program(device, nullptr, journal.get(), std::move(lines.lines));
    if (journal) program.WatchJournal(*journal);
    program.Start(show);
    if (line.port) program.ChoosePort(*line.port);
    if (!journal_error.empty()) program.JournalCannotBeOpened(journal_error);
    program.TellLinesFileWarnings(lines.warnings);
    code = program.Run();
  }
  ::CoUninitialize();
  return code;
}
