#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/terminal.h"
#include "serial/platform/platform.h"
#include "text/wide.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

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

// A console handle answers GetConsoleMode; NUL, a pipe and a file do not (_isatty
// takes NUL for a terminal).
bool IsConsole(DWORD which) {
  HANDLE h = ::GetStdHandle(which);
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode) != 0;
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

ProgressConsole ProgressTerminal() {
  if (!IsConsole(STD_ERROR_HANDLE)) return {};
  // Escape sequences are no choice: a console before Windows 10 shows them as they
  // are, and Wine's takes ENABLE_VIRTUAL_TERMINAL_PROCESSING and shows them all the
  // same. Spaces and carriage returns work on every console; the console's mode is
  // left as the user had it.
  CONSOLE_SCREEN_BUFFER_INFO info{};
  std::size_t columns = 0;
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) != 0 &&
      info.srWindow.Right > info.srWindow.Left)
    columns = static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  return {ProgressConsole::Kind::kSpaces, columns};
}

bool OutputTerminal() {
  return IsConsole(STD_OUTPUT_HANDLE);
}

bool WriteStream(std::FILE* stream, std::string_view bytes) {
  const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  if (!IsConsole(which)) {
    const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), stream);
    return std::fflush(stream) == 0 && written == bytes.size();
  }
  std::fflush(stream);  // what stdio holds goes first
  if (bytes.empty()) return true;
  const std::wstring text = win32::Wide(std::string(bytes));
  HANDLE h = ::GetStdHandle(which);
  for (std::size_t done = 0; done < text.size();) {
    DWORD wrote = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
    if (::WriteConsoleW(h, text.data() + done, chunk, &wrote, nullptr) == 0 || wrote == 0) {
      _doserrno = static_cast<unsigned long>(::GetLastError());
      errno = EIO;
      return false;
    }
    done += wrote;
  }
  return true;
}

void BeforeWrite() {
  _doserrno = 0;
}

std::string WriteFailureText(int crt_errno) {
  const auto error = static_cast<DWORD>(_doserrno);
  switch (error) {
    case 0:
      return std::strerror(crt_errno);
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:  // Wine's
      return "Broken pipe";
    default:
      return SystemErrorText(static_cast<DevError>(error)) + " (Windows error " +
             std::to_string(error) + ")";
  }
}

}  // namespace ornat::cli
