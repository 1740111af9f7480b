#include <algorithm>
#include <ctime>

#include "journal/journal_file.h"
#include "journal/win32_journal_path.h"
#include "serial/platform/platform.h"
#include "text/wide.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

namespace ornat {

JournalFile::JournalFile(const std::string& path) {
  // A device or a pipe under a file's name is refused before anything is opened: the
  // open of a serial port alone changes its lines.
  open_error_ = Win32JournalPathRefusal(path);
  if (!open_error_.empty()) return;
  // Append access only: the system puts every write at the end of the file, also
  // while another program appends to it. Others may read, append and rename. An open
  // on Windows never waits for another program (a pipe without a free instance fails
  // at once), so the name and the type decide.
  HANDLE h = ::CreateFileW(win32::Wide(path).c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    open_error_ = SystemErrorText(static_cast<DevError>(::GetLastError()));
    return;
  }
  // A name that passed and still is no file on a disk (a link into the device
  // namespace): a pipe's reader could make every write wait.
  const DWORD type = ::GetFileType(h);
  if (type != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    open_error_ =
        type == FILE_TYPE_PIPE
            ? "it is a pipe, whose reader could make every write wait; give a regular file"
            : "it is a device, not a file; give a regular file";
    return;
  }
  file_ = reinterpret_cast<std::intptr_t>(h);
}

JournalFile::~JournalFile() {
  if (file_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(file_));
}

bool JournalFile::IsOpen() const {
  return file_ != -1;
}

std::size_t JournalFile::Append(const char* data, std::size_t n, std::string& error) {
  std::size_t done = 0;
  while (done < n) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    if (!::WriteFile(reinterpret_cast<HANDLE>(file_), data + done, chunk, &wrote, nullptr)) {
      error = SystemErrorText(static_cast<DevError>(::GetLastError()));
      break;
    }
    if (wrote == 0) {
      error = SystemErrorText(ERROR_DISK_FULL);
      break;
    }
    done += wrote;
  }
  return done;
}

void LocalTimeOf(std::time_t t, std::tm& local, long& offset_seconds) {
  localtime_s(&local, &t);
  // The local fields read as UTC, less the instant itself: the offset, summer time
  // included.
  std::tm copy = local;
  offset_seconds = static_cast<long>(_mkgmtime(&copy) - t);
}

}  // namespace ornat
