// ornat.exe: the service tool's window on Windows. Closing the window ends the program
// (the port is closed as the window's logic is destroyed). The command line:
// --journal FILE keeps a journal of every exchange; --help and --version answer
// without opening a window (on the console the program was started from, else in a
// box).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/exchange_journal.h"
#include "serial/platform/platform.h"
#include "serial/translation.h"
#include "win32/dpi.h"
#include "win32/program.h"
#include "win32/wide.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

constexpr const char* kUsage = R"(Usage: ornat [--journal FILE]

The service tool for ORNAT(-2)-Zev flame detectors (Modbus-RTU): one window to choose
the port and speed, query a detector, change its configuration and interface, and
search the line.

  --journal FILE   append every exchange to FILE as one JSON line (time, port, speed,
                   address, operation, request and answer bytes, the log's lines); a
                   file that cannot be opened is reported and the window runs without
                   one; a write that fails later (a full disk) is reported once
  --help           this text
  --version        the version
ornat-cli.exe is the same logic without a window.
)";

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
  std::optional<std::string> journal_path;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      Tell(kUsage, false);
      return 0;
    }
    if (arg == "--version") {
      Tell(std::string("ornat ") + ORNAT_VERSION + "\n", false);
      return 0;
    }
    if (arg == "--journal" && i + 1 < args.size()) {
      journal_path = args[++i];
    } else if (arg.rfind("--journal=", 0) == 0) {
      journal_path = arg.substr(10);
    } else {
      Tell(std::string("ornat: ") +
               (arg == "--journal" ? "a file name must follow" : "unknown argument") + " \"" + arg +
               "\" (ornat --help lists the options)\n",
           true);
      return 2;
    }
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

  std::unique_ptr<ornat::ExchangeJournal> journal;
  std::string journal_error;
  if (journal_path) {
    try {
      journal = std::make_unique<ornat::ExchangeJournal>(*journal_path, "ornat");
    } catch (const ornat::JournalError& e) {
      journal_error = e.what();
    }
  }
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
