#include <cstring>

#include "serial/platform/platform.h"
#include "serial/platform/posix_comm_device.h"

namespace ornat {

std::unique_ptr<CommDevice> MakePlatformCommDevice() {
  return std::make_unique<PosixCommDevice>();
}

PortListSource& PlatformPortList() {
  static LinuxPortList list;
  return list;
}

std::string SystemErrorText(DevError error) {
  return std::strerror(error);
}

}  // namespace ornat
