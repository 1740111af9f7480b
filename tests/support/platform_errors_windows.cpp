#include "serial/platform/platform.h"
#include "support/platform_errors.h"

namespace ornat::testing {

const PlatformErrors& Errors() {
  // ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER,
  // ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED. The text of 2 is the system's own
  // (Windows and Wine word it differently).
  static const PlatformErrors errors{2, 5, 87, 31, 1167, SystemErrorText(2)};
  return errors;
}

}  // namespace ornat::testing
