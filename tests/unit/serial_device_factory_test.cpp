// The device of a port comes from its name: today the platform's serial device for
// every name, kept by the window's switching device from one open to the next.

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "serial/device_factory.h"
#include "serial/platform/platform.h"
#include "serial/port_error_kind.h"

namespace ornat {
namespace {

TEST(DeviceFactory, EveryPortNameGetsThePlatformsSerialDevice) {
  const auto platform = MakePlatformCommDevice();
  for (const char* name : {"COM1", "ttyUSB0", "/dev/pts/7", "ornat-sim"}) {
    const auto device = MakeCommDevice(name);
    EXPECT_EQ(typeid(*device), typeid(*platform)) << name;
  }
}

TEST(DeviceFactory, TheSwitchingDeviceKeepsItsDeviceWhileTheTransportStaysTheSame) {
  SwitchingCommDevice device;
  const CommDevice* first = &device.Current();
  for (const char* name : {"ornat-no-such-port", "ornat-no-such-port-either"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ClassifyPortError(device.Open(name), PortStep::kOpen), PortErrorKind::kMissing);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(&device.Current(), first);
  }
}

}  // namespace
}  // namespace ornat
