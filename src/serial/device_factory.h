#pragma once
// Where the device of a port comes from. A port's name chooses its transport and the
// transport makes the device: the network device (NetworkCommDevice) for a name with a
// scheme (tcp://, rfc2217://, modbus-tcp://), the platform's serial device
// (PosixCommDevice, Win32CommDevice) for every other. A new transport is one CommDevice
// and one line in the table of device_factory.cpp.
//
// The window's ComPort1 holds one CommDevice for its whole life (FormEnvironment::
// device), while its Port may change between exchanges (the Port menu). So the front
// ends give it a SwitchingCommDevice, which at each open takes the device that the
// name's transport makes, and keeps the one it has while the transport stays the same
// (the POSIX device's watch on its node lives as long as the device object). A
// "tcp://host:502" chosen in the Port menu then swaps the device at the next open,
// with no change to TComPort, TForm1 or the front ends.

#include <cstddef>
#include <memory>
#include <string>

#include "serial/platform/comm_device.h"
#include "serial/platform/forwarding_comm_device.h"

namespace ornat {

// The device for a port name.
std::unique_ptr<CommDevice> MakeCommDevice(const std::string& port_name);

// A CommDevice that passes every call to the device of the port it last opened. Open
// changes the device only while it is closed (an open device refuses Open with its own
// error), so the event thread, which runs only while the port is open, never sees the
// change.
class SwitchingCommDevice : public ForwardingCommDevice {
 public:
  // Starts with the device of a local serial port's name.
  SwitchingCommDevice();

  DevError Open(const std::string& port) override;

  // The device the calls go to now.
  CommDevice& Current() { return *current_; }

 protected:
  CommDevice& Target() const override { return *current_; }

 private:
  std::size_t transport_;
  std::unique_ptr<CommDevice> current_;
};

}  // namespace ornat
