// The line lock on Windows: LockFileEx on one byte far past the end of
// %LOCALAPPDATA%\ornat\lines\<line> (%TEMP% without that variable), the holder's record
// ("<pid>\n<what it runs>\n") at the start of the file, where the lock does not keep
// others from reading it. The system lets the lock go when the holder's handle closes,
// and so when the process ends however it ends; the handle is not inherited. A refused
// taker reads the record until it names a process that runs (the holder writes it right
// after taking the lock; what is there before may be an ended holder's). The files stay:
// removing one could part two takers that opened it before and after.

#include <chrono>
#include <thread>

#include "serial/line_lock_platform.h"
#include "text/wide.h"

// <windows.h> comes after the project's headers: its macros would otherwise replace the
// names those headers declare.
#include <windows.h>

namespace ornat::line_lock_platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRecordWait = std::chrono::milliseconds(250);
// The locked byte: at 4 GiB, far past any record.
constexpr DWORD kLockOffsetHigh = 1;

std::wstring Variable(const wchar_t* name) {
  wchar_t buf[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableW(name, buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

// The lines folder; empty and `error` when it cannot be had.
std::wstring LinesFolder(int& error) {
  std::wstring base = Variable(L"LOCALAPPDATA");
  if (base.empty()) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
      error = static_cast<int>(::GetLastError());
      return L"";
    }
    base.assign(temp, n);
  }
  while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  for (const std::wstring& dir : {base + L"\\ornat", base + L"\\ornat\\lines"}) {
    if (!::CreateDirectoryW(dir.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      error = static_cast<int>(::GetLastError());
      return L"";
    }
  }
  return base + L"\\ornat\\lines";
}

std::string ReadRecord(HANDLE h) {
  OVERLAPPED at{};  // from offset 0, without moving the file pointer's meaning
  char buf[512];
  DWORD got = 0;
  if (!::ReadFile(h, buf, sizeof buf, &got, &at)) return "";
  return std::string(buf, got);
}

bool Runs(long pid) {
  if (pid <= 0 || static_cast<DWORD>(pid) == ::GetCurrentProcessId()) return false;
  HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (p == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;  // there, not ours
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(p, &code) && code == STILL_ACTIVE;
  ::CloseHandle(p);
  return running;
}

bool TryLock(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

}  // namespace

std::string Identity(const std::string& port) {
  // The device opens "\\.\" + the name, and the system's names ignore case.
  std::string name = port;
  if (name.size() >= 4 && (name[0] == '\\' || name[0] == '/') &&
      (name[1] == '\\' || name[1] == '/') && (name[2] == '.' || name[2] == '?') &&
      (name[3] == '\\' || name[3] == '/'))
    name.erase(0, 4);
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

LineLock::Outcome Lock(const std::string& identity, const std::string& runs, Native& native,
                       LineHolder& holder, int& error) {
  const std::wstring folder = LinesFolder(error);
  if (folder.empty()) return LineLock::Outcome::kUnavailable;
  const std::wstring path = folder + L"\\" + win32::Wide(FileNameOf(identity));
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(::GetLastError());
    return LineLock::Outcome::kUnavailable;
  }
  // Only a file on a disk (never a device under a file's name, whose open alone would
  // change its lines).
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    error = ERROR_INVALID_NAME;
    return LineLock::Outcome::kUnavailable;
  }
  const auto until = Clock::now() + kRecordWait;
  for (;;) {
    if (TryLock(h)) {
      const std::string record = FormatRecord(static_cast<long>(::GetCurrentProcessId()), runs);
      native = reinterpret_cast<Native>(h);
      if (ReadRecord(h) == record) return LineLock::Outcome::kTaken;
      OVERLAPPED at{};
      DWORD wrote = 0;
      if (::WriteFile(h, record.data(), static_cast<DWORD>(record.size()), &wrote, &at) &&
          wrote == record.size()) {
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(record.size());
        if (::SetFilePointerEx(h, end, nullptr, FILE_BEGIN)) ::SetEndOfFile(h);
      }
      return LineLock::Outcome::kTaken;
    }
    const DWORD e = ::GetLastError();
    if (e != ERROR_LOCK_VIOLATION && e != ERROR_SHARING_VIOLATION && e != ERROR_IO_PENDING) {
      ::CloseHandle(h);
      error = static_cast<int>(e);
      return LineLock::Outcome::kUnavailable;
    }
    // Refused: the record names the holder once it names a process that runs.
    LineHolder record;
    if (ParseRecord(ReadRecord(h), record) && Runs(record.pid)) {
      holder = record;
      break;
    }
    if (Clock::now() >= until) {
      holder = {};
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::CloseHandle(h);
  return LineLock::Outcome::kInUse;
}

void Unlock(Native native) {
  HANDLE h = reinterpret_cast<HANDLE>(native);
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  ::UnlockFileEx(h, 0, 1, 0, &at);
  ::CloseHandle(h);
}

void AtFork(void (*)(), void (*)(), void (*)()) {
  // No fork() on Windows; a child process never inherits the handle.
}

std::string ProgramName() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, n < MAX_PATH ? n : 0);
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  return win32::Utf8(name);
}

int InUseError() {
  return ERROR_BUSY;
}

}  // namespace ornat::line_lock_platform
