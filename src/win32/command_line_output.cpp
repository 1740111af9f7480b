#include "win32/command_line_output.h"

#include <windows.h>

#include <algorithm>

#include "text/wide.h"

namespace ornat::win32 {

namespace {

bool WriteBytes(HANDLE h, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    DWORD wrote = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
    if (!::WriteFile(h, text.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

// On a console handle (one of the console it is attached to) the text as UTF-16;
// false when it is none or the write fails.
bool WriteConsoleText(HANDLE h, const std::string& text) {
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return false;
  const std::wstring wide = Wide(text);
  for (std::size_t done = 0; done < wide.size();) {
    DWORD wrote = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
    if (!::WriteConsoleW(h, wide.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

}  // namespace

void TellFromCommandLine(const std::string& text, bool error) {
  HANDLE h = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  const DWORD type =
      h != nullptr && h != INVALID_HANDLE_VALUE ? ::GetFileType(h) : FILE_TYPE_UNKNOWN;
  // A file or a pipe the user redirected to takes the bytes; no console is joined over
  // it.
  if ((type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) && WriteBytes(h, text)) return;
  // Fails where there is no parent console, and where the program has one already
  // (Wine gives a program of the window subsystem its parent's console).
  const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != 0;
  if (type == FILE_TYPE_CHAR) {
    // Its console (one it had, or the one just joined, to which an inherited console
    // handle belongs), else a device it was given (NUL).
    if (WriteConsoleText(h, text) || WriteBytes(h, text)) return;
  }
  if (attached) {
    HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    const bool shown = WriteConsoleText(console, text);
    if (console != INVALID_HANDLE_VALUE) ::CloseHandle(console);
    if (shown) return;
  }
  ::MessageBoxW(nullptr, Wide(text).c_str(), L"ornat",
                MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace ornat::win32
