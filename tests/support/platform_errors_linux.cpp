#include <cerrno>

#include "support/platform_errors.h"

namespace ornat::testing {

const PlatformErrors& Errors() {
  static const PlatformErrors errors{
      ENOENT, EBUSY, EINVAL, EIO, ENODEV, "No such file or directory", "No such file or directory"};
  return errors;
}

}  // namespace ornat::testing
