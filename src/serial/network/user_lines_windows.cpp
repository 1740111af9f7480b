#include <cstdio>
#include <cstdlib>

#include "serial/network/user_lines.h"
#include "serial/platform/platform.h"
#include "text/wide.h"

// <windows.h> comes after the project's headers: its macros would otherwise replace the
// names those headers declare.
#include <windows.h>

namespace ornat {

std::optional<std::string> SystemEnvironment(const char* name) {
  // Read in UTF-16: a user folder with Cyrillic letters has no ANSI form on every PC.
  const std::wstring wide_name = win32::Wide(name);
  const wchar_t* value = ::_wgetenv(wide_name.c_str());
  if (value == nullptr) return std::nullopt;
  return win32::Utf8(value);
}

std::optional<std::string> UserLinesPath(const EnvironmentLookup& env) {
  const auto appdata = env("APPDATA");
  if (!appdata || appdata->empty()) return std::nullopt;
  return *appdata + "\\ornat\\lines.txt";
}

FileReadEnd ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                          std::string& error) {
  HANDLE h = ::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return FileReadEnd::kMissing;
    error = SystemErrorText(static_cast<DevError>(e));
    return FileReadEnd::kFailed;
  }
  // Only a file on a disk: a pipe or a device under the name could make the read wait.
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    error = "it is not a file on a disk";
    return FileReadEnd::kFailed;
  }
  char chunk[4096];
  DWORD got = 0;
  bool failed = false;
  while (content.size() <= limit) {
    if (!::ReadFile(h, chunk, sizeof chunk, &got, nullptr)) {
      failed = true;
      error = SystemErrorText(static_cast<DevError>(::GetLastError()));
      break;
    }
    if (got == 0) break;
    content.append(chunk, got);
  }
  ::CloseHandle(h);
  if (failed) return FileReadEnd::kFailed;
  if (content.size() > limit) {
    error = "it is larger than " + std::to_string(limit / 1024) + " KiB";
    return FileReadEnd::kFailed;
  }
  return FileReadEnd::kRead;
}

}  // namespace ornat
