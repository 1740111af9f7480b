#include "cli/port_problem.h"
#include "serial/comport.h"
#include "serial/platform/platform.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

namespace ornat::cli {

const bool kJsonFailureInOwnWords = false;

namespace {

constexpr const char* kGone = "the device is gone (an adapter unplugged?)";
// Not in every <winerror.h>.
constexpr DWORD kErrorNoSuchDevice = 433;

// The calls that set the port up after its open: a device that takes none of them
// (NUL, a file, a printer port) is no serial port.
bool SettingsCall(int error_code) {
  return error_code == CError_SetStateFailed || error_code == CError_TimeoutsFailed ||
         error_code == CError_SetupComFailed;
}

}  // namespace

PortProblem DescribePortProblem(int error_code, int system_error) {
  const auto error = static_cast<DWORD>(system_error);
  if (system_error == 0) return {};
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {"no such device", true};
    case ERROR_INVALID_NAME:
      return {"no such device (not a valid port name)", true};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      // Windows gives another program's port to nobody else, and does not say whose it
      // is. After the open, the USB-serial drivers answer a transfer on an adapter that
      // went with the same code.
      if (error_code == CError_OpenFailed)
        return {"busy: another program holds it (on Windows the system does not say which)", false};
      return {kGone, false};
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return {kGone, false};
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_HANDLE:
      // A handle that has just opened and takes no communications call (Wine says
      // "invalid handle" for NUL and a file).
      if (SettingsCall(error_code)) return {"not a serial device", true};
      break;
    default:
      break;
  }
  return {SystemErrorText(system_error) + " (Windows error " + std::to_string(system_error) + ")",
          false};
}

}  // namespace ornat::cli
