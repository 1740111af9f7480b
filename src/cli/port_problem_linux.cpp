#include <cerrno>
#include <cstring>

#include "cli/port_problem.h"

namespace ornat::cli {

const bool kJsonFailureInOwnWords = true;

PortProblem DescribePortProblem(int /*error_code*/, int system_error) {
  switch (system_error) {
    case 0:
      return {};
    case ENOTTY:
      // /dev/null, a FIFO, a regular file: the line settings cannot be set on it.
      return {"not a serial device", true};
    case EACCES:
    case EPERM:
      return {
          "permission denied: add yourself to the group dialout (sudo usermod -aG dialout "
          "$USER, then log out and in again)",
          false};
    case ENOENT:
      return {"no such device", true};
    case EBUSY:
      return {"busy: another program holds it", false};
    case ENXIO:
    case ENODEV:
    case EIO:
      return {"the device is gone (an adapter unplugged?)", false};
    default:
      return {std::strerror(system_error), false};
  }
}

}  // namespace ornat::cli
