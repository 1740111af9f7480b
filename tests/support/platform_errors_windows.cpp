#include "serial/platform/platform.h"
#include "support/platform_errors.h"

namespace ornat::testing {

const PlatformErrors& Errors() {
  // ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER,
  // ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED. The texts of 2 and of 3
  // (ERROR_PATH_NOT_FOUND) are the system's own (Windows and Wine word them differently).
  static const PlatformErrors errors{2, 5, 87, 31, 1167, SystemErrorText(2), SystemErrorText(3)};
  return errors;
}

}  // namespace ornat::testing
