#include "serial/device_factory.h"

#include <iterator>

#include "serial/network/network_comm_device.h"
#include "serial/network/port_url.h"
#include "serial/platform/platform.h"

namespace ornat {

namespace {

struct Transport {
  bool (*takes)(const std::string& port_name);
  std::unique_ptr<CommDevice> (*make)();
};

bool AnyName(const std::string& /*port_name*/) {
  return true;
}

// Every name with a scheme, known or not: the network device reports a malformed URL
// at the open rather than a serial port would look for a device of that name.
bool NetworkName(const std::string& port_name) {
  return HasUrlScheme(port_name);
}

std::unique_ptr<CommDevice> MakeNetworkCommDevice() {
  return std::make_unique<NetworkCommDevice>();
}

// In order: the first transport that takes a name makes its device. The PC's serial
// ports (the platform's device) take every name, so they come last.
constexpr Transport kTransports[] = {
    {NetworkName, MakeNetworkCommDevice},
    {AnyName, MakePlatformCommDevice},
};

std::size_t TransportOf(const std::string& port_name) {
  for (std::size_t i = 0; i < std::size(kTransports); ++i)
    if (kTransports[i].takes(port_name)) return i;
  return std::size(kTransports) - 1;
}

}  // namespace

std::unique_ptr<CommDevice> MakeCommDevice(const std::string& port_name) {
  return kTransports[TransportOf(port_name)].make();
}

// "COM1": the name every port starts with.
SwitchingCommDevice::SwitchingCommDevice()
    : transport_(TransportOf("COM1")), current_(MakeCommDevice("COM1")) {}

DevError SwitchingCommDevice::Open(const std::string& port) {
  const std::size_t transport = TransportOf(port);
  if (transport != transport_ && !current_->IsOpen()) {
    current_ = MakeCommDevice(port);
    transport_ = transport;
  }
  return current_->Open(port);
}

}  // namespace ornat
