// ornat.exe: the service tool's window on Windows. Closing the window ends the program
// (the port is closed as the window's logic is destroyed). The command line:
// --journal FILE keeps a journal of every exchange; --help and --version answer
// without opening a window (on the console the program was started from, else in a
// box).

#include <memory>
#include <string>
#include <vector>

#include "journal/exchange_journal.h"
#include "serial/platform/platform.h"
#include "serial/translation.h"
#include "text/wide.h"
#include "ui/window_command_line.h"
#include "win32/dpi.h"
#include "win32/program.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

// To the console or pipe the program was started with; a box where there is none.
void Tell(const std::string& text, bool error) {
  HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN) {
    DWORD wrote = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
    return;
  }
  ::MessageBoxW(nullptr, ornat::win32::Wide(text).c_str(), L"ornat",
                MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  for (int i = 1; argv != nullptr && i < argc; ++i) args.push_back(ornat::win32::Utf8(argv[i]));
  if (argv != nullptr) ::LocalFree(argv);
  return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  const std::vector<std::string> args = Arguments();
  const ornat::WindowCommandLine line = ornat::ParseWindowCommandLine(args);
  switch (line.action) {
    case ornat::WindowCommandLine::Action::kHelp:
      Tell(ornat::WindowUsage("Usage: ornat [--journal FILE]", "",
                              "ornat-cli.exe is the same logic without a window."),
           false);
      return 0;
    case ornat::WindowCommandLine::Action::kVersion:
      Tell(std::string("ornat ") + ORNAT_VERSION + "\n", false);
      return 0;
    case ornat::WindowCommandLine::Action::kUsageError:
      Tell(line.error, true);
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
    std::unique_ptr<ornat::CommDevice> device = ornat::MakePlatformCommDevice();
    ornat::win32::Program program(*device, nullptr, journal.get());
    if (journal) program.WatchJournal(*journal);
    program.Start(show);
    if (!journal_error.empty()) program.JournalCannotBeOpened(journal_error);
    code = program.Run();
  }
  ::CoUninitialize();
  return code;
}
