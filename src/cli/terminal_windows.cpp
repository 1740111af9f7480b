#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "cli/terminal.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace ornat::cli {

namespace {

volatile std::sig_atomic_t* g_stop_flag = nullptr;

// Runs on a thread the system starts for the event. TRUE: handled, the process goes on
// (for a closed console window the system ends it a few seconds later anyway).
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (g_stop_flag != nullptr) *g_stop_flag = 1;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void SetUpTerminal(volatile std::sig_atomic_t* stop_flag) {
  g_stop_flag = stop_flag;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  ::SetConsoleOutputCP(CP_UTF8);
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool ProgressTerminal() {
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err == INVALID_HANDLE_VALUE || err == nullptr || !::GetConsoleMode(err, &mode)) return false;
  // The erase to the end of the line is an escape sequence: the console must read them.
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace ornat::cli
