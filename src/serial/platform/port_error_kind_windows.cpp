// What a GetLastError() number means for a port, in one table, by the step at which
// it came.

#include "serial/port_error_kind.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

namespace ornat {

const bool kPlatformNamesHolders = false;
const char* const kPlatformErrorLabel = "Windows error";

namespace {

struct ErrorMeaning {
  DWORD error;
  PortErrorKind at_open, at_set_up, in_use;
};

constexpr PortErrorKind kGone = PortErrorKind::kGone;
constexpr PortErrorKind kMissing = PortErrorKind::kMissing;
// Not in every <winerror.h>.
constexpr DWORD kErrorNoSuchDevice = 433;

constexpr ErrorMeaning kErrorMeanings[] = {
    {ERROR_FILE_NOT_FOUND, kMissing, kMissing, kMissing},
    {ERROR_PATH_NOT_FOUND, kMissing, kMissing, kMissing},
    {ERROR_INVALID_NAME, PortErrorKind::kBadName, PortErrorKind::kBadName, PortErrorKind::kBadName},
    // Windows gives a port to one program and refuses it to everybody else with these.
    // After the open, the USB-serial drivers answer a transfer on an adapter that went
    // with "access denied" too.
    {ERROR_ACCESS_DENIED, PortErrorKind::kBusy, kGone, kGone},
    {ERROR_SHARING_VIOLATION, PortErrorKind::kBusy, kGone, kGone},
    // Bad command, general failure, device not connected or gone.
    {ERROR_BAD_COMMAND, kGone, kGone, kGone},
    {ERROR_GEN_FAILURE, kGone, kGone, kGone},
    {ERROR_DEV_NOT_EXIST, kGone, kGone, kGone},
    {kErrorNoSuchDevice, kGone, kGone, kGone},
    {ERROR_DEVICE_NOT_CONNECTED, kGone, kGone, kGone},
    {ERROR_DEVICE_REMOVED, kGone, kGone, kGone},
    // A network line's server that dropped the connection.
    {WSAECONNRESET, kGone, kGone, kGone},
    {WSAECONNABORTED, kGone, kGone, kGone},
    {WSAENOTCONN, kGone, kGone, kGone},
    {WSAESHUTDOWN, kGone, kGone, kGone},
    // A handle that has just opened and takes no communications call: NUL, a file, a
    // printer port (Wine says "invalid handle" for NUL and a file).
    {ERROR_INVALID_FUNCTION, PortErrorKind::kOther, PortErrorKind::kNotSerial,
     PortErrorKind::kOther},
    {ERROR_INVALID_PARAMETER, PortErrorKind::kOther, PortErrorKind::kNotSerial,
     PortErrorKind::kOther},
    {ERROR_NOT_SUPPORTED, PortErrorKind::kOther, PortErrorKind::kNotSerial, PortErrorKind::kOther},
    {ERROR_INVALID_HANDLE, PortErrorKind::kOther, PortErrorKind::kNotSerial, PortErrorKind::kOther},
};

}  // namespace

PortErrorKind ClassifyPortError(int system_error, PortStep step) {
  if (system_error == 0) return PortErrorKind::kNone;
  for (const ErrorMeaning& m : kErrorMeanings) {
    if (m.error != static_cast<DWORD>(system_error)) continue;
    switch (step) {
      case PortStep::kOpen:
        return m.at_open;
      case PortStep::kSetUp:
        return m.at_set_up;
      case PortStep::kUse:
        return m.in_use;
    }
  }
  return PortErrorKind::kOther;
}

}  // namespace ornat
