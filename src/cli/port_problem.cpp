// ornat-cli's words for what is wrong with a port: one phrase per kind of error, the
// system's own text for the rest.

#include "cli/port_problem.h"

#include "serial/com_errors.h"
#include "serial/platform/platform.h"
#include "serial/port_error_kind.h"

namespace ornat::cli {

const bool kJsonFailureInOwnWords = *kPlatformErrorLabel == '\0';

PortProblem DescribePortProblem(int error_code, int system_error) {
  switch (ClassifyPortError(system_error, StepOfErrorCode(error_code))) {
    case PortErrorKind::kNone:
      return {};
    case PortErrorKind::kMissing:
      return {"no such device", true};
    case PortErrorKind::kBadName:
      return {"no such device (not a valid port name)", true};
    case PortErrorKind::kNotSerial:
      return {"not a serial device", true};
    case PortErrorKind::kDenied:
      return {
          "permission denied: add yourself to the group dialout (sudo usermod -aG dialout "
          "$USER, then log out and in again)",
          false};
    case PortErrorKind::kBusy:
      return {kPlatformNamesHolders
                  ? "busy: another program holds it"
                  : "busy: another program holds it (on Windows the system does not say which)",
              false};
    case PortErrorKind::kGone:
      return {"the device is gone (an adapter unplugged?)", false};
    case PortErrorKind::kOther:
      break;
  }
  std::string text = SystemErrorText(system_error);
  if (*kPlatformErrorLabel != '\0')
    text += std::string(" (") + kPlatformErrorLabel + " " + std::to_string(system_error) + ")";
  return {text, false};
}

}  // namespace ornat::cli
