// ornat-cli's words for a port that failed: one phrase per kind of error, the system's
// own text for the rest, and the programs found holding the port.

#include "cli/port_failure.h"

#include "serial/com_errors.h"
#include "serial/comport.h"
#include "serial/network/port_url.h"
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

namespace {

bool IsGone(const ExchangeRecord& record) {
  return ClassifyPortError(record.failure_errno, StepOfErrorCode(record.failure_code)) ==
         PortErrorKind::kGone;
}

// What is wrong with the port: the programs found holding it, or what the platform's
// error number of the failed open or write means.
PortProblem PortProblemOf(const ExchangeRecord& record) {
  if (!record.failure_holders.empty()) {
    std::string text = "held by ";
    for (std::size_t i = 0; i < record.failure_holders.size(); ++i) {
      const PortHolder& holder = record.failure_holders[i];
      if (i > 0) text += ", ";
      const std::string pid = "pid " + std::to_string(holder.pid);
      text += holder.name.empty() ? pid : holder.name + " (" + pid + ")";
    }
    return {text, false};
  }
  PortProblem problem = DescribePortProblem(record.failure_code, record.failure_errno);
  if (problem.text.empty()) problem.text = record.failure;
  return problem;
}

}  // namespace

std::string PortFailureText(const ExchangeRecord& record) {
  const std::string port = "the port \"" + record.port + "\"";
  PortProblem problem = PortProblemOf(record);
  if (record.failure_holders.empty() && !record.failure_detail.empty()) {
    // The device's own sentence (a network line's: a refused RFC 2217, a server that
    // did not accept), with the system's words behind it where no kind of ours says them.
    const bool other =
        ClassifyPortError(record.failure_errno, StepOfErrorCode(record.failure_code)) ==
        PortErrorKind::kOther;
    problem.text =
        record.failure_detail + (other && !problem.text.empty() ? " (" + problem.text + ")" : "");
  } else if (HasUrlScheme(record.port) && record.failure_holders.empty() && IsGone(record)) {
    // A network line's connection closed by the server (one that serves one client at
    // a time closes a second one at once) or lost on the way: no adapter to unplug.
    problem.text = "the connection was closed (by the server, or lost on the way)";
  }
  if (record.failure_code == CError_WriteFailed)
    return "the request could not be written to " + port + ": " + problem.text;
  if (record.failure_code == CError_WaitFailed)
    return port + " was lost while the answer from address " +
           std::to_string(record.request.empty() ? 0 : record.request[0]) +
           " was awaited: " + problem.text + "; whether the detector answered is not known";
  return port + " cannot be opened" + (problem.text.empty() ? "" : ": " + problem.text) +
         (problem.list_hint ? "; \"ornat-cli ports\" lists the ports" : "");
}

}  // namespace ornat::cli
